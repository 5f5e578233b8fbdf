// A Messages implementation for tests: records every message and question in
// order and answers questions from a script (Answer::No once the script runs out).
#pragma once

#include "Messages.h"

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tavrin::test {

struct RecordedMessage {
    enum class Kind { Message, YesNo, YesNoCancel } kind;
    std::string text;
    std::string caption;
    MessageIcon icon;
};

class RecordingMessages final : public Messages {
public:
    void show(std::string_view text, std::string_view caption, MessageIcon icon) override {
        record(RecordedMessage::Kind::Message, text, caption, icon);
        // What happens while a box is open (a window keeps running meanwhile).
        if (m_whileOpen) {
            auto action = std::exchange(m_whileOpen, {});
            if (!action(std::string(text)))
                m_whileOpen = std::move(action);
        }
    }
    Answer askYesNo(std::string_view text, std::string_view caption, MessageIcon icon) override {
        record(RecordedMessage::Kind::YesNo, text, caption, icon);
        return next();
    }
    Answer askYesNoCancel(std::string_view text, std::string_view caption,
                          MessageIcon icon) override {
        record(RecordedMessage::Kind::YesNoCancel, text, caption, icon);
        return next();
    }

    void script(Answer answer) { m_script.push_back(answer); }
    // Runs `action` with the box's text while each message box is open, until it
    // returns true.
    void whileOpen(std::function<bool(const std::string&)> action) {
        m_whileOpen = std::move(action);
    }

    // Just the texts, in order: what most tests compare against.
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& m : m_recorded)
            out.push_back(m.text);
        return out;
    }
    const std::vector<RecordedMessage>& recorded() const { return m_recorded; }
    void clear() { m_recorded.clear(); }

private:
    void record(RecordedMessage::Kind kind, std::string_view text, std::string_view caption,
                MessageIcon icon) {
        m_recorded.push_back({kind, std::string(text), std::string(caption), icon});
    }
    Answer next() {
        if (m_script.empty())
            return Answer::No;
        Answer a = m_script.front();
        m_script.pop_front();
        return a;
    }

    std::vector<RecordedMessage> m_recorded;
    std::deque<Answer> m_script;
    std::function<bool(const std::string&)> m_whileOpen;
};

} // namespace tavrin::test
