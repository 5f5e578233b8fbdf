// Text of the settings and command files: UTF-8 here, CP932 (Shift JIS with the
// Windows extensions) in files that come from the Windows version, and now and then
// a UTF-8 file that a hand edit left with a few lines in another encoding.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::settings {

// Names the file and the first line that was not UTF-8 when a file had to be read
// line by line.
inline constexpr char kMessageMixedEncodingFormat[] =
    "ファイル「%s」の%zu行目はUTF-8ではありません。UTF-8でない行はShift_JISとして読み込み、"
    "変換できないバイトは「?」にしました。保存するまで、ファイルのその行は書き換えません。";

bool isValidUtf8(std::string_view bytes);

struct DecodedText {
    std::string text; // UTF-8, line for line the file's lines
    // The first line (from 1) that was not UTF-8 in a file read line by line; 0 when
    // the whole file was read in one encoding.
    size_t firstUncleanLine = 0;
    // Those lines (from 0, in order) with their bytes as in the file, without the
    // line end, so that a save that does not change them can leave them as they were.
    struct OriginalLine {
        size_t line;
        std::string bytes;
    };
    std::vector<OriginalLine> originalLines;
};

// The file's text as UTF-8 (a leading byte-order mark dropped):
// - valid UTF-8 stays as it is;
// - a file that converts from CP932 without a fault is CP932, unless one of its
//   lines is UTF-8 with a character of three bytes or more (Japanese in UTF-8),
//   which a Windows file almost never holds by chance, while UTF-8 Japanese
//   converts from CP932 "cleanly" into other characters about half the time;
// - anything else line by line: UTF-8 lines as they are, the others from CP932,
//   where a byte that does not convert becomes "?".
DecodedText decodeFileText(std::string bytes);

// kMessageMixedEncodingFormat for the file and line.
std::string mixedEncodingMessage(std::string_view file, size_t line);

} // namespace tavrin::settings
