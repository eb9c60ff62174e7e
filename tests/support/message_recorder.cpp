#include "support/message_recorder.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>

namespace corvella::test {

// Shared with the installed handler, so that a message arriving while the recorder is being
// destroyed still finds live state.
struct MessageRecorder::State {
    mutable std::mutex mutex;
    std::vector<RecordedMessage> messages;
    std::deque<bool> answers;
};

std::ostream& operator<<(std::ostream& stream, RecordedMessage const& message)
{
    return stream << "{caption \"" << message.caption << "\", text \"" << message.text << "\", type "
                  << message.type << "}";
}

MessageRecorder::MessageRecorder() : state_(std::make_shared<State>())
{
    previous_ =
        set_message_handler([state = state_](std::string const& caption, std::string const& text, int type) {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->messages.push_back({caption, text, type});
            if (type != message_box_yes_no || state->answers.empty()) return 0;
            bool const yes = state->answers.front();
            state->answers.pop_front();
            return yes ? message_box_yes : 0;
        });
}

MessageRecorder::~MessageRecorder()
{
    set_message_handler(std::move(previous_));
}

void MessageRecorder::answer_yes()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->answers.push_back(true);
}

void MessageRecorder::answer_no()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->answers.push_back(false);
}

std::size_t MessageRecorder::unused_answers() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->answers.size();
}

std::vector<RecordedMessage> MessageRecorder::messages() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->messages;
}

std::size_t MessageRecorder::count() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->messages.size();
}

RecordedMessage MessageRecorder::last() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->messages.empty()) {
        ADD_FAILURE() << "no message was shown";
        return {};
    }
    return state_->messages.back();
}

void MessageRecorder::clear()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->messages.clear();
}

} // namespace corvella::test
