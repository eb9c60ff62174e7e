// The message sink: the default writes to stderr and answers "No", handlers see every message
// unchanged, and only a "Yes" to a question returns 1.
#include "platform/message_box.h"

#include "support/message_recorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using corvella::test::MessageRecorder;
using corvella::test::RecordedMessage;
using Messages = std::vector<RecordedMessage>;

class ScopedHandler {
public:
    explicit ScopedHandler(corvella::MessageHandler handler)
        : previous_(corvella::set_message_handler(std::move(handler)))
    {
    }
    ~ScopedHandler() { corvella::set_message_handler(std::move(previous_)); }

private:
    corvella::MessageHandler previous_;
};

int answer(std::string const&, std::string const&, int)
{
    return 1;
}

} // namespace

TEST(MessageBox, DefaultSinkWritesCaptionAndTextToStandardErrorAndAnswersNo)
{
    EXPECT_STREQ(corvella::caption::engine, "Tarn Wick: Corvella");
    EXPECT_STREQ(corvella::caption::ir_files, "Tarnwick: Corvella");
    EXPECT_STREQ(corvella::caption::convolver_thread, "Tarn Wick");
    ScopedHandler outer{answer};
    corvella::MessageHandler const previous = corvella::set_message_handler(corvella::MessageHandler());
    ASSERT_TRUE(previous);
    EXPECT_EQ(previous("c", "t", 1), 1); // the returned handler is the one replaced
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Chorus memory allocation error", "Tarn Wick: Corvella", 0), 0);
    EXPECT_EQ(MessageBoxA(nullptr, "Specify a location?", "Tarnwick: Corvella", 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Tarn Wick: Corvella: Chorus memory allocation error\n"
                                                      "Tarnwick: Corvella: Specify a location?\n");
}

TEST(MessageBox, ResultIsOneOnlyForAYesToAQuestion)
{
    struct Case {
        int type, handler_answer, expected;
    };
    // Question "Yes", "No", another answer, failure; a plain message whatever the handler says.
    for (Case c : {Case{1, 1, 1}, Case{1, 0, 0}, Case{1, 2, 0}, Case{1, -1, 0}, Case{0, 0, 0}, Case{0, 1, 0},
                   Case{4, 1, 0}, Case{-1, 1, 0}}) {
        ScopedHandler handler([&c](std::string const&, std::string const&, int) { return c.handler_answer; });
        EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", c.type), c.expected)
            << "type " << c.type << ", answer " << c.handler_answer;
    }
    ScopedHandler throwing(
        [](std::string const&, std::string const&, int) -> int { throw std::runtime_error("x"); });
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", 1), 0);
}

TEST(MessageBox, HandlersSeeEveryMessageUnchangedAndCanBeSwappedWhileMessagesAreShown)
{
    MessageRecorder outer;
    {
        MessageRecorder recorder;
        recorder.answer_yes();
        recorder.answer_no();
        std::string const text = "Low system memory: \nmalloc error on buffer \xC3\xA9";
        EXPECT_EQ(MessageBoxA(reinterpret_cast<void*>(0x1234), text.c_str(), "Tarn Wick", 0), 0);
        EXPECT_EQ(MessageBoxA(nullptr, "q1", "Tarnwick: Corvella", 1), 1);
        EXPECT_EQ(MessageBoxA(nullptr, "q2", "Tarnwick: Corvella", 1), 0);
        EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, 1), 0); // script exhausted: "No"
        EXPECT_EQ(recorder.messages(), (Messages{{"Tarn Wick", text, 0},
                                                 {"Tarnwick: Corvella", "q1", 1},
                                                 {"Tarnwick: Corvella", "q2", 1},
                                                 {"", "", 1}}));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::thread sender([&] {
        while (!stop.load()) {
            MessageBoxA(nullptr, "busy", "Tarn Wick", 0);
            answered.fetch_add(1);
        }
    });
    auto const give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (answered.load() < 200 && std::chrono::steady_clock::now() < give_up)
        corvella::set_message_handler(corvella::set_message_handler(answer));
    stop = true;
    sender.join();
    EXPECT_GE(answered.load(), 200);
    MessageBoxA(nullptr, "after", "c", 0); // the outer recorder is back in place
    EXPECT_EQ(outer.last(), (RecordedMessage{"c", "after", 0}));
}
