// How the program's model and core talk to the user: plain message boxes and
// yes/no questions. The Qt program implements it with message boxes, tavrinctl
// with standard error, and tests with a recorder that answers as scripted.
#pragma once

#include "JournalLines.h"
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
// control bytes are escaped: messages quote texts from files. When the stream is the
// journal, a message carries its priority: a box without an icon is a failure or a
// warning (the program's boxes are), a question answered for the user a notice.
class StreamMessages final : public Messages {
public:
    StreamMessages(std::FILE* stream, Answer answer) : m_lines(stream), m_answer(answer) {}

    void show(std::string_view text, std::string_view caption, MessageIcon icon) override {
        write(priorityOf(icon), text, caption);
    }
    Answer askYesNo(std::string_view text, std::string_view caption, MessageIcon) override {
        write(journal::Priority::Notice, text, caption);
        return m_answer == Answer::Cancel ? Answer::No : m_answer;
    }
    Answer askYesNoCancel(std::string_view text, std::string_view caption, MessageIcon) override {
        write(journal::Priority::Notice, text, caption);
        return m_answer;
    }

    static journal::Priority priorityOf(MessageIcon icon) {
        switch (icon) {
        case MessageIcon::Error: return journal::Priority::Error;
        case MessageIcon::Information: return journal::Priority::Info;
        case MessageIcon::Question: return journal::Priority::Notice;
        case MessageIcon::Warning:
        case MessageIcon::None: break;
        }
        return journal::Priority::Warning;
    }

private:
    void write(journal::Priority priority, std::string_view text, std::string_view caption) {
        std::string line;
        if (!caption.empty()) {
            line.append("[").append(escapeControlBytes(caption)).append("] ");
        }
        std::string oneLine(text);
        for (char& c : oneLine)
            if (c == '\n')
                c = ' ';
        line.append(escapeControlBytes(oneLine));
        m_lines.write(priority, line);
    }

    journal::LineWriter m_lines;
    Answer m_answer;
};

} // namespace tavrin
