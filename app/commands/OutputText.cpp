#include "OutputText.h"

#include "PlainText.h"

namespace tavrin::commands {

namespace {

// Whether `tail`, shorter than the character its first byte announces, may still
// become a well-formed character when more bytes come.
bool startsCutCharacter(std::string_view tail) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(tail[i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length == 0 || tail.size() >= length)
        return false;
    if (tail.size() >= 2) {
        const unsigned char second = byte(1);
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
        else if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
        if (second < low || second > high)
            return false;
    }
    for (size_t i = 2; i < tail.size(); ++i)
        if ((byte(i) & 0xC0) != 0x80)
            return false;
    return true;
}

} // namespace

void OutputText::put(std::string& out, std::string_view character) {
    if (m_lineLength >= m_maxLine) {
        out += '\n';
        m_lineLength = 0;
    }
    out += character;
    ++m_lineLength;
}

std::string OutputText::decode(std::string_view bytes) {
    std::string data = std::move(m_held);
    m_held.clear();
    data.append(bytes);
    std::string out;
    out.reserve(data.size());
    const std::string_view view(data);
    for (size_t i = 0; i < view.size();) {
        const auto c = static_cast<unsigned char>(view[i]);
        if (m_pendingCr && c != '\n') {
            out += '\n';
            m_lineLength = 0;
        }
        m_pendingCr = false;
        if (c == '\r') {
            m_pendingCr = true;
            ++i;
        } else if (c == '\n') {
            out += '\n';
            m_lineLength = 0;
            ++i;
        } else if (c == '\t' || (c >= 0x20 && c < 0x7F)) {
            put(out, view.substr(i, 1));
            ++i;
        } else if (c < 0x80) {
            put(out, "?");
            ++i;
        } else if (const size_t length = utf8SequenceLength(view.substr(i)); length > 0) {
            put(out, view.substr(i, length));
            i += length;
        } else if (startsCutCharacter(view.substr(i))) {
            m_held.assign(view.substr(i));
            break;
        } else {
            put(out, "?");
            ++i;
        }
    }
    return out;
}

std::string OutputText::finish() {
    std::string out;
    for (size_t i = 0; i < m_held.size(); ++i)
        put(out, "?");
    m_held.clear();
    if (m_pendingCr) {
        out += '\n';
        m_lineLength = 0;
        m_pendingCr = false;
    }
    return out;
}

} // namespace tavrin::commands
