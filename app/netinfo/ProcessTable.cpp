#include "ProcessTable.h"

#include "CEnumProcess.h"
#include "PlainText.h"

namespace tavrin {

namespace {

bool isUnavailableText(std::string_view text) {
    return text.starts_with("N/A");
}

} // namespace

void ProcessTable::rebuild(CEnumProcess& enumerator) {
    enumerator.selectMethod(CEnumProcess::kMethodPath);
    m_entries.clear();
    CProcessEntry entry;
    for (bool more = enumerator.first(entry); more; more = enumerator.next(entry))
        m_entries.try_emplace(entry.processId, entry.name);
}

std::string_view ProcessTable::processPath(int32_t processId) const {
    const auto it = m_entries.find(static_cast<uint32_t>(processId));
    return it == m_entries.end() ? std::string_view(kUnknownProcess) : std::string_view(it->second);
}

std::string ProcessTable::processDisplayName(int32_t processId) const {
    return displayNameOfPath(processPath(processId));
}

int32_t ProcessTable::processIdByName(std::string_view name) const {
    for (const auto& [id, text] : m_entries) {
        if (isUnavailableText(text))
            continue;
        if (equalsIgnoringCase(fileNameOfPath(text), name))
            return static_cast<int32_t>(id);
    }
    return -1;
}

std::string_view fileNameOfPath(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string displayNameOfPath(std::string_view path) {
    if (path == kUnknownProcess)
        return kUnknownProcess;
    if (isUnavailableText(path))
        return kSystemProcess;
    return std::string(fileNameOfPath(path));
}

} // namespace tavrin
