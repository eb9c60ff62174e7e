#include "support/message_recorder.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>

namespace corvella::test {

// Shared with the installed handler, so that a message arriving while the recorder is being
// destroyed still finds live state.
struct MessageRecorder::State {
    std::mutex mutex;
    std::vector<RecordedMessage> messages;
    std::deque<bool> answers;

    template <typename Action> auto locked(Action action)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return action();
    }
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
            return state->locked([&] {
                state->messages.push_back({caption, text, type});
                if (type != message_box_yes_no || state->answers.empty()) return 0;
                bool const yes = state->answers.front();
                state->answers.pop_front();
                return yes ? message_box_yes : 0;
            });
        });
}

MessageRecorder::~MessageRecorder()
{
    set_message_handler(std::move(previous_));
}

void MessageRecorder::answer_yes()
{
    state_->locked([&] { state_->answers.push_back(true); });
}

void MessageRecorder::answer_no()
{
    state_->locked([&] { state_->answers.push_back(false); });
}

std::size_t MessageRecorder::unused_answers() const
{
    return state_->locked([&] { return state_->answers.size(); });
}

std::vector<RecordedMessage> MessageRecorder::messages() const
{
    return state_->locked([&] { return state_->messages; });
}

std::size_t MessageRecorder::count() const
{
    return state_->locked([&] { return state_->messages.size(); });
}

RecordedMessage MessageRecorder::last() const
{
    std::vector<RecordedMessage> const all = messages();
    if (all.empty()) ADD_FAILURE() << "no message was shown";
    return all.empty() ? RecordedMessage{} : all.back();
}

void MessageRecorder::clear()
{
    state_->locked([&] { state_->messages.clear(); });
}

} // namespace corvella::test
