// Texts of a connection as the connection monitor shows them; shared by the
// monitor page and tavrinctl so that both print the same.
#pragma once

#include <cstdint>
#include <string>

namespace tavrin {

inline constexpr char kHostNamePending[] = "検索中...";

// "1分15秒" for an age of 75 (refreshes, one a second).
std::string connectionDurationText(uint32_t age);

// "不明" for -1, else the decimal id.
std::string processIdText(int32_t processId);

} // namespace tavrin
