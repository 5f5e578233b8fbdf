// An external command line as one text, and the words it runs as. No shell reads
// it: blanks (space, tab, CR, LF) separate words, double quotes group blanks into
// a word and are dropped, and a backslash escapes a double quote:
//   2n backslashes before a quote   → n backslashes, the quote opens or closes
//   2n+1 backslashes before a quote → n backslashes and a literal quote
//   backslashes before anything else stay as they are (a\b is a\b)
// A quote left open runs to the end of the line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrin::commands {

std::vector<std::string> splitCommandLine(std::string_view line);

// Whether a double quote is open at the end of `text`.
bool endsInsideQuotes(std::string_view text);

// Appends `value` to the command line `line` so that it comes out of
// splitCommandLine exactly as it is, inside the word being written at the end of
// `line`: blanks, quotes and backslashes of the value never split, join or end a
// word. The quoting state after it is the one before. An empty value adds nothing.
void appendLiteral(std::string& line, std::string_view value);

} // namespace tavrin::commands
