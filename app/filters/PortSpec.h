// Port texts: how a typed or stored port or range is read, checked and written.
#pragma once

#include "PortRange.h"

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace tavrin {

class Messages;

// A port list holds at most this many ranges, the most a driver rule can carry.
inline constexpr size_t kMaxPortRanges = ovlank::kMaxPortRanges;
// The longest port text that is accepted, in bytes.
inline constexpr size_t kMaxPortTextLength = 63;

inline constexpr std::string_view kPortRangeMessage =
    "ポート番号は0から65535までの値を指定してください。";
inline constexpr std::string_view kPortListFullMessage = "これ以上ポートを追加できません。";
inline constexpr std::string_view kPortDuplicateMessage =
    "そのポート番号はすでにリストにあります。";

// Offered in the remote-port box of the filter editor, in this order.
inline constexpr std::array<std::string_view, 14> kWellKnownPorts = {
    "20 (ftp-data)", "21 (ftp-control)", "20-21 (ftp)", "22 (ssh)",   "23 (telnet)",
    "25 (smtp)",     "53 (domain)",      "80 (http)",   "110 (pop3)", "119 (nntp)",
    "123 (ntp)",     "194 (irc)",        "443 (https)", "1863 (msnp)"};

// Never fails. "All" is 0-0. Otherwise the text up to the first "-" is the low
// number and the rest the high one; without a "-" before the first blank or "("
// the whole text is one number. Each number is read like a C integer (leading
// blanks, a sign, digits up to the first non-digit; none give 0); a number outside
// 0 to 65535 counts as 0; swapped bounds are put in order. The text ends at the
// first NUL, if it holds one.
PortRange ParsePortSpec(std::string_view text);

// Whether a typed text may enter a port list. An empty text is refused quietly.
// A number outside 0 to 65535, a text without any number, or a text longer than
// kMaxPortTextLength is refused with kPortRangeMessage.
bool ValidatePortSpec(std::string_view text, Messages& messages);

// "80" or "20-21", bounds in host order.
std::string FormatPortRange(PortRange range);
// The range text with its service name, "80 (http)", or the range text alone.
std::string FormatPortLabel(PortRange range);
// The range texts joined with ",": the form stored for a port list.
std::string FormatPortList(std::span<const PortRange> ranges);

} // namespace tavrin
