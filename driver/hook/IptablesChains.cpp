#include "IptablesChains.h"

#include "ChildProcess.h"

#include <sstream>
#include <unistd.h>

namespace ovlank {
namespace {

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream stream(line);
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

bool saveMangle(std::string& saved, std::string& error) {
    const ChildResult result = runChild({toolPath("iptables-save"), "-t", "mangle"});
    if (!result.succeeded()) {
        error = "iptables-save failed: " + firstLine(result.errors);
        return false;
    }
    saved = result.output;
    return true;
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

std::vector<std::string> IptablesChains::jumpsToOurChains(const std::string& savedMangle) const {
    std::vector<std::string> jumps;
    std::istringstream stream(savedMangle);
    for (std::string line; std::getline(stream, line);) {
        if (!line.starts_with("-A ")) {
            continue;
        }
        const auto words = splitWords(line);
        if (words.size() < 2 || words[1] == m_inputChain || words[1] == m_outputChain) {
            continue; // rules inside our chains go with the chains
        }
        for (size_t i = 0; i + 1 < words.size(); ++i) {
            if ((words[i] == "-j" || words[i] == "-g") &&
                (words[i + 1] == m_inputChain || words[i + 1] == m_outputChain)) {
                jumps.push_back("-D" + line.substr(2));
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
        const auto words = splitWords(line.substr(1));
        if (!words.empty() && words.front() == chain) {
            return true;
        }
    }
    return false;
}

std::string IptablesChains::removalScript(const std::string& savedMangle) const {
    std::string body;
    for (const auto& jump : jumpsToOurChains(savedMangle)) {
        body += jump + "\n";
    }
    for (const auto* chain : {&m_inputChain, &m_outputChain}) {
        if (chainDeclared(savedMangle, *chain)) {
            body += "-F " + *chain + "\n-X " + *chain + "\n";
        }
    }
    return body.empty() ? std::string() : "*mangle\n" + body + "COMMIT\n";
}

std::string IptablesChains::installScript(const std::string& savedMangle) const {
    std::string script = "*mangle\n";
    for (const auto& jump : jumpsToOurChains(savedMangle)) {
        script += jump + "\n";
    }
    // Declaring a chain that exists empties it, so leftovers are replaced here.
    script += ":" + m_inputChain + " - [0:0]\n";
    script += ":" + m_outputChain + " - [0:0]\n";
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
        const auto words = splitWords(line.substr(1));
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
    std::string saved;
    return saveMangle(saved, error) && restore(installScript(saved), true, error);
}

bool IptablesChains::remove(std::string& error) {
    std::string saved;
    if (!saveMangle(saved, error)) {
        return false;
    }
    const std::string script = removalScript(saved);
    if (script.empty()) {
        return true;
    }
    if (!restore(script, true, error)) {
        return false;
    }
    // iptables makes the table on first use; once it holds nothing again, take it
    // away so the host's rule set reads as it did before the daemon came.
    std::string after;
    if (saveMangle(after, error) && tableIsEmpty(after)) {
        std::string ignored;
        restore("*mangle\nCOMMIT\n", false, ignored);
    }
    error.clear();
    return true;
}

} // namespace ovlank
