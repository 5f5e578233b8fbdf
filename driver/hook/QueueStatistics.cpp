#include "QueueStatistics.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <string>

namespace ovlank {

std::vector<QueueStatistics> parseQueueStatistics(std::string_view text) {
    std::vector<QueueStatistics> result;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        // queue portid waiting copy_mode copy_range dropped user_dropped id_sequence 1
        uint32_t columns[8] = {};
        size_t count = 0;
        bool valid = true;
        while (valid && count < 8) {
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                line.remove_prefix(1);
            }
            if (line.empty()) {
                break;
            }
            auto [ptr, ec] =
                std::from_chars(line.data(), line.data() + line.size(), columns[count]);
            valid = ec == std::errc() &&
                    (ptr == line.data() + line.size() || *ptr == ' ' || *ptr == '\t');
            line.remove_prefix(static_cast<size_t>(ptr - line.data()));
            ++count;
        }
        if (!valid || count < 8) {
            continue;
        }
        QueueStatistics stats;
        stats.queue = columns[0];
        stats.peerPortId = columns[1];
        stats.waiting = columns[2];
        stats.kernelDropped = columns[5];
        stats.userDropped = columns[6];
        stats.lastPacketId = columns[7];
        result.push_back(stats);
    }
    return result;
}

std::optional<QueueStatistics> readQueueStatistics(uint32_t queue) {
    std::ifstream file("/proc/net/netfilter/nfnetlink_queue");
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    for (const auto& stats : parseQueueStatistics(text.str())) {
        if (stats.queue == queue) {
            return stats;
        }
    }
    return std::nullopt;
}

} // namespace ovlank
