#include "IptablesChains.h"

#include "ChildProcess.h"

#include <charconv>
#include <sstream>
#include <string_view>
#include <vector>

namespace ovlank {
namespace {

// Carried by the input chain's counting rule when installing it made the mangle
// table, so that whoever removes the chains (also a successor after a crash)
// knows the table may go with them.
constexpr std::string_view kMadeTableMark = "ovlank-made-the-table";

std::vector<std::string> splitWords(std::string_view line) {
    std::vector<std::string> words;
    std::istringstream stream{std::string(line)};
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

std::string firstLine(const std::string& text) {
    const auto end = text.find('\n');
    std::string line = text.substr(0, end);
    return line.empty() ? "no message" : line;
}

// One "-A CHAIN ..." line of saved text, without the "[packets:bytes] " that
// iptables-save -c puts before it.
struct SavedRule {
    std::string text;
    std::optional<uint64_t> packets;
};

std::optional<SavedRule> parseRule(std::string_view line) {
    std::optional<uint64_t> packets;
    if (line.starts_with("[")) {
        const auto colon = line.find(':');
        const auto close = line.find("] ");
        uint64_t value = 0;
        if (colon == std::string_view::npos || close == std::string_view::npos || colon > close) {
            return std::nullopt;
        }
        const auto [end, ec] = std::from_chars(line.data() + 1, line.data() + colon, value);
        if (ec != std::errc() || end != line.data() + colon) {
            return std::nullopt;
        }
        packets = value;
        line.remove_prefix(close + 2);
    }
    if (!line.starts_with("-A ")) {
        return std::nullopt;
    }
    return SavedRule{std::string(line), packets};
}

std::vector<SavedRule> savedRules(const std::string& saved) {
    std::vector<SavedRule> rules;
    std::istringstream stream(saved);
    for (std::string line; std::getline(stream, line);) {
        if (auto rule = parseRule(line)) {
            rules.push_back(std::move(*rule));
        }
    }
    return rules;
}

// The mangle section of a whole iptables-save text; empty when the table does not
// exist. (iptables-save -t mangle shows the table even when it does not exist.)
std::string mangleSection(const std::string& saved) {
    std::istringstream stream(saved);
    std::string section;
    bool inside = false;
    for (std::string line; std::getline(stream, line);) {
        if (line.starts_with("*")) {
            inside = line == "*mangle";
        }
        if (inside) {
            section += line + "\n";
        }
        if (line == "COMMIT") {
            inside = false;
        }
    }
    return section;
}

bool runSave(const std::vector<std::string>& arguments, std::string& saved, std::string& error) {
    std::vector<std::string> argv{toolPath("iptables-save")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const ChildResult result = runChild(argv);
    if (!result.succeeded()) {
        error = "iptables-save failed: " + firstLine(result.errors);
        return false;
    }
    saved = result.output;
    return true;
}

// The mangle table with its rule counters.
bool saveMangle(std::string& saved, std::string& error) {
    return runSave({"-c", "-t", "mangle"}, saved, error);
}

bool restore(const std::string& script, bool noflush, std::string& error) {
    std::vector<std::string> argv{toolPath("iptables-restore"), "-w"};
    if (noflush) {
        argv.push_back("--noflush");
    }
    const ChildResult result = runChild(argv, script);
    if (!result.succeeded()) {
        error = "iptables-restore failed: " + firstLine(result.errors);
        return false;
    }
    return true;
}

} // namespace

IptablesChains::IptablesChains(std::string prefix, uint16_t firstQueue, unsigned queueCount)
    : m_inputChain(prefix + "_IN"), m_outputChain(prefix + "_OUT"), m_firstQueue(firstQueue),
      m_queueCount(queueCount == 0 ? 1 : queueCount) {}

std::string IptablesChains::queueTarget() const {
    std::string target = "-j NFQUEUE ";
    if (m_queueCount == 1) {
        target += "--queue-num " + std::to_string(m_firstQueue);
    } else {
        target += "--queue-balance " + std::to_string(m_firstQueue) + ":" +
                  std::to_string(m_firstQueue + m_queueCount - 1);
    }
    return target + " --queue-bypass";
}

std::string IptablesChains::jumpsToOurChains(const std::string& savedMangle) const {
    std::string jumps;
    for (const auto& rule : savedRules(savedMangle)) {
        const auto words = splitWords(rule.text);
        if (words.size() < 2 || words[1] == m_inputChain || words[1] == m_outputChain) {
            continue; // rules inside our chains go with the chains
        }
        for (size_t i = 0; i + 1 < words.size(); ++i) {
            if ((words[i] == "-j" || words[i] == "-g") &&
                (words[i + 1] == m_inputChain || words[i + 1] == m_outputChain)) {
                jumps += "-D" + rule.text.substr(2) + "\n";
                break;
            }
        }
    }
    return jumps;
}

bool IptablesChains::chainDeclared(const std::string& savedMangle, const std::string& chain) const {
    std::istringstream stream(savedMangle);
    for (std::string line; std::getline(stream, line);) {
        if (!line.starts_with(":")) {
            continue;
        }
        const auto words = splitWords(std::string_view(line).substr(1));
        if (!words.empty() && words.front() == chain) {
            return true;
        }
    }
    return false;
}

std::optional<uint64_t> IptablesChains::countedIn(const std::string& savedWithCounters) const {
    const auto rules = savedRules(savedWithCounters);
    uint64_t total = 0;
    for (const auto* chain : {&m_inputChain, &m_outputChain}) {
        bool found = false;
        for (const auto& rule : rules) {
            const auto words = splitWords(rule.text);
            if (words.size() < 2 || words[1] != *chain) {
                continue;
            }
            // The chain's first rule, and it must be the one without a target.
            for (const auto& word : words) {
                if (word == "-j" || word == "-g") {
                    return std::nullopt;
                }
            }
            if (!rule.packets) {
                return std::nullopt;
            }
            total += *rule.packets;
            found = true;
            break;
        }
        if (!found) {
            return std::nullopt;
        }
    }
    return total;
}

bool IptablesChains::madeTheTable(const std::string& savedMangle) const {
    for (const auto& rule : savedRules(savedMangle)) {
        const auto words = splitWords(rule.text);
        if (words.size() < 2 || words[1] != m_inputChain) {
            continue;
        }
        for (const auto& word : words) {
            std::string_view bare = word;
            if (bare.size() >= 2 && bare.front() == '"' && bare.back() == '"') {
                bare = bare.substr(1, bare.size() - 2);
            }
            if (bare == kMadeTableMark) {
                return true;
            }
        }
    }
    return false;
}

std::string IptablesChains::removalScript(const std::string& savedMangle) const {
    std::string body = jumpsToOurChains(savedMangle);
    for (const auto* chain : {&m_inputChain, &m_outputChain}) {
        if (chainDeclared(savedMangle, *chain)) {
            body += "-F " + *chain + "\n-X " + *chain + "\n";
        }
    }
    return body.empty() ? std::string() : "*mangle\n" + body + "COMMIT\n";
}

std::string IptablesChains::installScript(const std::string& savedMangle) const {
    // No table yet: this install makes it, and the mark says so to whoever removes
    // the chains. Leftover chains of ours pass their mark on.
    const bool tableExists = ("\n" + savedMangle).find("\n*mangle\n") != std::string::npos;
    const bool mark = !tableExists || madeTheTable(savedMangle);
    std::string script = "*mangle\n" + jumpsToOurChains(savedMangle);
    // Declaring a chain that exists empties it, so leftovers are replaced here.
    script += ":" + m_inputChain + " - [0:0]\n";
    script += ":" + m_outputChain + " - [0:0]\n";
    // The counting rules come first: every packet entering a chain passes them.
    script += "-A " + m_inputChain;
    script += mark ? " -m comment --comment " + std::string(kMadeTableMark) + "\n" : "\n";
    script += "-A " + m_outputChain + "\n";
    script += "-A " + m_inputChain + " " + queueTarget() + "\n";
    script += "-A " + m_outputChain + " " + queueTarget() + "\n";
    script += "-A INPUT ! -i lo -j " + m_inputChain + "\n";
    script += "-A OUTPUT -j " + m_outputChain + "\n";
    return script + "COMMIT\n";
}

bool IptablesChains::tableIsEmpty(const std::string& savedTable) {
    static const char* const builtIn[] = {"PREROUTING", "INPUT", "FORWARD", "OUTPUT",
                                          "POSTROUTING"};
    std::istringstream stream(savedTable);
    bool sawTable = false;
    for (std::string line; std::getline(stream, line);) {
        if (line.empty() || line.starts_with("#") || line == "COMMIT") {
            continue;
        }
        if (line.starts_with("*")) {
            sawTable = true;
            continue;
        }
        if (!line.starts_with(":")) {
            return false;
        }
        const auto words = splitWords(std::string_view(line).substr(1));
        if (words.size() < 2) {
            return false;
        }
        bool known = false;
        for (const char* name : builtIn) {
            known = known || words.front() == name;
        }
        if (!known || words[1] != "ACCEPT") {
            return false;
        }
    }
    return sawTable;
}

bool IptablesChains::install(std::string& error) {
    // All tables, because only there does a missing mangle table show as missing.
    std::string saved;
    return runSave({}, saved, error) && restore(installScript(mangleSection(saved)), true, error);
}

std::optional<uint64_t> IptablesChains::countedPackets() const {
    std::string saved, error;
    if (!saveMangle(saved, error)) {
        return std::nullopt;
    }
    return countedIn(saved);
}

bool IptablesChains::removeJumps(std::string& saved, std::string& error, bool& found) const {
    const std::string jumps = jumpsToOurChains(saved);
    found = !jumps.empty();
    return !found ||
           (restore("*mangle\n" + jumps + "COMMIT\n", true, error) && saveMangle(saved, error));
}

bool IptablesChains::detach(std::string& error, bool* found) {
    std::string saved;
    bool jumps = false;
    const bool done = saveMangle(saved, error) && removeJumps(saved, error, jumps);
    if (found != nullptr) {
        *found = jumps;
    }
    return done;
}

bool IptablesChains::remove(std::string& error, std::optional<uint64_t>* counted, bool* found) {
    std::string saved;
    bool jumps = false;
    if (found != nullptr) {
        *found = false;
    }
    // The jumps first: once nothing enters the chains, their counters are final.
    if (!saveMangle(saved, error) || !removeJumps(saved, error, jumps)) {
        return false;
    }
    if (counted != nullptr) {
        *counted = countedIn(saved);
    }
    const std::string script = removalScript(saved);
    if (found != nullptr) {
        *found = jumps || !script.empty();
    }
    if (script.empty()) {
        return true;
    }
    if (!restore(script, true, error)) {
        return false;
    }
    // iptables makes the table on first use. When our install made it and nothing
    // else is left in it, take it away so the rule set reads as it did before; a
    // table that was there before stays, empty or not.
    std::string after;
    if (madeTheTable(saved) && saveMangle(after, error) && tableIsEmpty(after)) {
        std::string ignored;
        restore("*mangle\nCOMMIT\n", false, ignored);
    }
    error.clear();
    return true;
}

} // namespace ovlank
