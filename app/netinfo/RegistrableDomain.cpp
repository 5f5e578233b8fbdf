#include "RegistrableDomain.h"

#include "PlainText.h"

#include <array>

namespace tavrin {
namespace {

// Generic top-level domains: under these the registered domain has two labels.
constexpr std::array<std::string_view, 14> kGenericTopLevel = {
    "com",  "net", "org",  "edu", "gov",    "mil",  "int",
    "info", "biz", "name", "pro", "museum", "aero", "coop"};

// Second-level categories under "jp": a registered domain below them has three labels.
constexpr std::array<std::string_view, 9> kJapaneseCategories = {"ac", "co", "go", "or", "ad",
                                                                 "ne", "gr", "ed", "lg"};

template <size_t N>
bool isOneOf(std::string_view label, const std::array<std::string_view, N>& set) {
    for (std::string_view s : set) {
        if (equalsIgnoringCase(label, s))
            return true;
    }
    return false;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A top-level label that reads as a number other than 0, or that is all digits
// (the ".0" of 10.0.1.0), ends a dotted address rather than a host name.
bool endsLikeAddress(std::string_view top) {
    bool allDigits = !top.empty();
    for (char c : top) {
        if (!isDigit(c)) {
            allDigits = false;
            break;
        }
    }
    if (allDigits)
        return true;
    for (char c : top) {
        if (!isDigit(c))
            return false;
        if (c != '0')
            return true;
    }
    return false;
}

std::string joinLabels(std::initializer_list<std::string_view> labels) {
    std::string out;
    for (std::string_view label : labels) {
        if (!out.empty())
            out.push_back('.');
        out.append(label);
    }
    return out;
}

} // namespace

std::string registrableDomain(std::string_view hostName) {
    std::string_view h = hostName;
    if (!h.empty() && h.back() == '.')
        h.remove_suffix(1);

    const size_t lastDot = h.rfind('.');
    if (lastDot == std::string_view::npos)
        return {};
    const std::string_view top = h.substr(lastDot + 1);
    if (endsLikeAddress(top))
        return {};

    const std::string_view rest = h.substr(0, lastDot);
    const size_t secondDot = rest.rfind('.');
    if (secondDot == std::string_view::npos)
        return {};
    const std::string_view second = rest.substr(secondDot + 1);
    const std::string_view rest2 = rest.substr(0, secondDot);

    // A name with an empty label is no host name; it names no domain either.
    if (top.empty() || second.empty() || rest2.empty() || h.front() == '.' ||
        h.find("..") != std::string_view::npos)
        return {};

    if (isOneOf(top, kGenericTopLevel))
        return joinLabels({second, top});

    const size_t thirdDot = rest2.rfind('.');
    if (thirdDot == std::string_view::npos)
        return joinLabels({rest2, second, top});

    if (equalsIgnoringCase(top, "jp") && !isOneOf(second, kJapaneseCategories))
        return joinLabels({second, top});

    const std::string_view third = rest2.substr(thirdDot + 1);
    return joinLabels({third, second, top});
}

} // namespace tavrin
