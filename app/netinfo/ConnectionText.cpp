#include "ConnectionText.h"

#include "ProcessTable.h"

#include <cstdio>

namespace tavrin {

std::string connectionDurationText(uint32_t age) {
    char text[40];
    std::snprintf(text, sizeof(text), "%u分%.2u秒", age / 60, age % 60);
    return text;
}

std::string processIdText(int32_t processId) {
    if (processId == -1)
        return kUnknownProcess;
    return std::to_string(processId);
}

} // namespace tavrin
