#pragma once

// Records every message shown through MessageBoxA while it exists, and answers the yes/no
// questions from a script.
//
// Threading: messages may arrive from any thread; the accessors may be called at any time.

#include "platform/message_box.h"

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace corvella::test {

struct RecordedMessage {
    std::string caption;
    std::string text;
    int type = -1;

    bool operator==(RecordedMessage const&) const = default;
};

std::ostream& operator<<(std::ostream& stream, RecordedMessage const& message);

class MessageRecorder {
public:
    // Installs the recording handler; the destructor puts the previous one back.
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(MessageRecorder const&) = delete;
    MessageRecorder& operator=(MessageRecorder const&) = delete;

    // Answers for the next type-1 questions, in order; once they run out the answer is "No".
    void answer_yes();
    void answer_no();
    std::size_t unused_answers() const;

    std::vector<RecordedMessage> messages() const;
    std::size_t count() const;
    // The latest message; a failed test expectation and an empty record when there is none.
    RecordedMessage last() const;
    void clear();

private:
    struct State;
    std::shared_ptr<State> state_;
    MessageHandler previous_;
};

} // namespace corvella::test
