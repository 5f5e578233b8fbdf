#include "JsonOutput.h"

namespace tavrin::ctl {

std::string jsonLine(const Json& document) {
    return document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json textOrNull(std::string_view text) {
    return text.empty() ? Json(nullptr) : Json(std::string(text));
}

} // namespace tavrin::ctl
