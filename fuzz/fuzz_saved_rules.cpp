// Text read back from iptables-save, whatever a host's firewall holds: reading it
// must never fail, words must come back as the save tool quoted them, and what the
// daemon would send to iptables-restore touches only its own chains.
#include "FuzzCheck.h"
#include "IptablesChains.h"

#include <cctype>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

using namespace ovlank;

namespace {

// How the save tool writes one word.
std::string quoted(const std::string& word) {
    bool plain = !word.empty();
    for (const char c : word) {
        plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_');
    }
    if (plain) {
        return word;
    }
    std::string text = "\"";
    for (const char c : word) {
        if (c == '"' || c == '\\' || c == '\'') {
            text += '\\';
        }
        text += c;
    }
    return text + "\"";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const auto words = splitSavedWords(text);
    std::string again;
    for (const auto& word : words) {
        again += (again.empty() ? "" : " ") + quoted(word);
    }
    FUZZ_CHECK(splitSavedWords(again) == words, "words do not survive the save tool's quoting");
    (void)savedRuleTarget(words);

    IptablesChains chains("FZ", 9, 2);
    (void)chains.stateIn(text);
    (void)chains.countedIn(text);
    (void)chains.madeTheTable(text);
    (void)IptablesChains::tableIsEmpty(text);
    (void)chains.installScript(text);
    for (const std::string& script : {chains.removalScript(text), chains.attachScript(text)}) {
        std::istringstream lines(script);
        for (std::string line; std::getline(lines, line);) {
            const bool ours = line == "*mangle" || line == "COMMIT" || line.starts_with("-D ") ||
                              line == "-F FZ_IN" || line == "-X FZ_IN" || line == "-F FZ_OUT" ||
                              line == "-X FZ_OUT" || line == "-A INPUT ! -i lo -j FZ_IN" ||
                              line == "-A OUTPUT -j FZ_OUT";
            FUZZ_CHECK(ours, "a script line that is not about our chains");
            if (line.starts_with("-D ")) {
                const auto target = savedRuleTarget(splitSavedWords(line));
                FUZZ_CHECK(target == "FZ_IN" || target == "FZ_OUT",
                           "a deleted rule that does not jump to our chains");
            }
        }
    }
    return 0;
}
