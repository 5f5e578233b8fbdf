// How the program's model and core talk to the user: plain message boxes and
// yes/no questions. The Qt program implements it with message boxes, tavrinctl
// with standard error, and tests with a recorder that answers as scripted.
#pragma once

#include "PlainText.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace tavrin {

enum class MessageIcon { None, Information, Warning, Error, Question };

enum class Answer { Ok, Yes, No, Cancel };

class Messages {
public:
    virtual ~Messages() = default;

    // A message box with only an OK button. An empty caption means the default
    // title (the program's name).
    virtual void show(std::string_view text, std::string_view caption = {},
                      MessageIcon icon = MessageIcon::None) = 0;

    // Answer::Yes or Answer::No.
    virtual Answer askYesNo(std::string_view text, std::string_view caption = {},
                            MessageIcon icon = MessageIcon::Question) = 0;

    // Answer::Yes, Answer::No or Answer::Cancel.
    virtual Answer askYesNoCancel(std::string_view text, std::string_view caption = {},
                                  MessageIcon icon = MessageIcon::Question) = 0;
};

// Writes every message as one line on a stream and answers every question with a
// fixed answer; for programs without a window. Line breaks become blanks and other
// control bytes are escaped: messages quote texts from files.
class StreamMessages final : public Messages {
public:
    StreamMessages(std::FILE* stream, Answer answer) : m_stream(stream), m_answer(answer) {}

    void show(std::string_view text, std::string_view caption, MessageIcon) override {
        write(text, caption);
    }
    Answer askYesNo(std::string_view text, std::string_view caption, MessageIcon) override {
        write(text, caption);
        return m_answer == Answer::Cancel ? Answer::No : m_answer;
    }
    Answer askYesNoCancel(std::string_view text, std::string_view caption, MessageIcon) override {
        write(text, caption);
        return m_answer;
    }

private:
    void write(std::string_view text, std::string_view caption) {
        std::string line;
        if (!caption.empty()) {
            line.append("[").append(escapeControlBytes(caption)).append("] ");
        }
        std::string oneLine(text);
        for (char& c : oneLine)
            if (c == '\n')
                c = ' ';
        line.append(escapeControlBytes(oneLine));
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), m_stream);
        std::fflush(m_stream);
    }

    std::FILE* m_stream;
    Answer m_answer;
};

} // namespace tavrin
