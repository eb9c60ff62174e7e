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

// Installs a handler for one test and puts the previous one back afterwards.
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

TEST(MessageBox, CaptionsOfTheSystem)
{
    EXPECT_STREQ(corvella::caption::engine, "Tarn Wick: Corvella");
    EXPECT_STREQ(corvella::caption::ir_files, "Tarnwick: Corvella");
    EXPECT_STREQ(corvella::caption::convolver_thread, "Tarn Wick");
}

TEST(MessageBox, DefaultSinkWritesCaptionAndTextToStandardErrorAndAnswersNo)
{
    ScopedHandler nothing_installed{corvella::MessageHandler()};
    testing::internal::CaptureStderr();
    int const plain = MessageBoxA(nullptr, "Chorus memory allocation error", "Tarn Wick: Corvella", 0);
    int const question = MessageBoxA(nullptr, "Specify a location?", "Tarnwick: Corvella", 1);
    std::string const written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(plain, 0);
    EXPECT_EQ(question, 0);
    EXPECT_EQ(written, "Tarn Wick: Corvella: Chorus memory allocation error\n"
                       "Tarnwick: Corvella: Specify a location?\n");
}

TEST(MessageBox, NullTextsAreShownAsEmpty)
{
    MessageRecorder recorder;
    EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(recorder.last(), (RecordedMessage{"", "", 0}));
}

TEST(MessageBox, HandlerReceivesCaptionTextAndTypeUnchanged)
{
    MessageRecorder recorder;
    std::string const text = "Low system memory: \nmalloc error on buffer \xC3\xA9";
    MessageBoxA(reinterpret_cast<void*>(0x1234), text.c_str(), "Tarn Wick", 0);
    EXPECT_EQ(recorder.last(), (RecordedMessage{"Tarn Wick", text, 0}));
}

struct AnswerCase {
    int type;
    int handler_answer;
    int expected;
};

class MessageBoxResult : public testing::TestWithParam<AnswerCase> {};

TEST_P(MessageBoxResult, IsOneOnlyForAYesToAQuestion)
{
    int const answer = GetParam().handler_answer;
    ScopedHandler handler([answer](std::string const&, std::string const&, int) { return answer; });
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", GetParam().type), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Answers, MessageBoxResult,
                         testing::Values(AnswerCase{1, 1, 1},  // question, "Yes"
                                         AnswerCase{1, 0, 0},  // question, "No"
                                         AnswerCase{1, 2, 0},  // question, an answer that is not "Yes"
                                         AnswerCase{1, -1, 0}, // question, failure
                                         AnswerCase{0, 0, 0},  // plain message, "OK"
                                         AnswerCase{0, 1, 0},  // plain message, whatever the handler says
                                         AnswerCase{4, 1, 0}, AnswerCase{-1, 1, 0}));

TEST(MessageBox, HandlerThatThrowsCountsAsNo)
{
    ScopedHandler handler(
        [](std::string const&, std::string const&, int) -> int { throw std::runtime_error("x"); });
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", 1), 0);
}

TEST(MessageBox, SetHandlerReturnsThePreviousOneAndEmptyRestoresTheDefault)
{
    std::vector<std::string> first_seen;
    corvella::MessageHandler first = [&](std::string const&, std::string const& text, int) {
        first_seen.push_back(text);
        return 0;
    };
    corvella::MessageHandler const outer = corvella::set_message_handler(first);

    corvella::MessageHandler previous =
        corvella::set_message_handler([](std::string const&, std::string const&, int) { return 1; });
    ASSERT_TRUE(previous);
    previous("c", "through the returned handler", 0);
    EXPECT_EQ(first_seen, std::vector<std::string>{"through the returned handler"});

    corvella::set_message_handler(corvella::MessageHandler());
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "back to the default", "Tarn Wick", 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Tarn Wick: back to the default\n");

    corvella::set_message_handler(outer);
}

TEST(MessageRecorder, RecordsInOrderAndAnswersFromItsScript)
{
    MessageRecorder recorder;
    recorder.answer_yes();
    recorder.answer_no();
    recorder.answer_yes();

    EXPECT_EQ(MessageBoxA(nullptr, "plain", "Tarn Wick", 0), 0); // does not use an answer
    EXPECT_EQ(recorder.unused_answers(), 3u);
    EXPECT_EQ(MessageBoxA(nullptr, "q1", "Tarnwick: Corvella", 1), 1);
    EXPECT_EQ(MessageBoxA(nullptr, "q2", "Tarnwick: Corvella", 1), 0);
    EXPECT_EQ(MessageBoxA(nullptr, "q3", "Tarnwick: Corvella", 1), 1);
    EXPECT_EQ(MessageBoxA(nullptr, "q4", "Tarnwick: Corvella", 1), 0); // script exhausted: "No"

    std::vector<RecordedMessage> const expected = {{"Tarn Wick", "plain", 0},
                                                   {"Tarnwick: Corvella", "q1", 1},
                                                   {"Tarnwick: Corvella", "q2", 1},
                                                   {"Tarnwick: Corvella", "q3", 1},
                                                   {"Tarnwick: Corvella", "q4", 1}};
    EXPECT_EQ(recorder.messages(), expected);
    EXPECT_EQ(recorder.count(), 5u);
    EXPECT_EQ(recorder.last(), expected.back());

    recorder.clear();
    EXPECT_EQ(recorder.count(), 0u);
    EXPECT_TRUE(recorder.messages().empty());
}

TEST(MessageRecorder, NestedRecordersRestoreTheOuterOne)
{
    MessageRecorder outer;
    {
        MessageRecorder inner;
        MessageBoxA(nullptr, "inner", "c", 0);
        EXPECT_EQ(inner.count(), 1u);
    }
    MessageBoxA(nullptr, "outer", "c", 0);
    ASSERT_EQ(outer.count(), 1u);
    EXPECT_EQ(outer.last().text, "outer");
}

TEST(MessageRecorder, RestoresTheDefaultSinkWhenItWasInPlace)
{
    ScopedHandler nothing_installed{corvella::MessageHandler()};
    {
        MessageRecorder recorder;
    }
    testing::internal::CaptureStderr();
    MessageBoxA(nullptr, "after", "Tarn Wick", 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Tarn Wick: after\n");
}

TEST(MessageRecorder, CollectsMessagesFromManyThreads)
{
    MessageRecorder recorder;
    constexpr int threads = 4;
    constexpr int per_thread = 250;
    std::vector<std::thread> senders;
    for (int t = 0; t < threads; ++t)
        senders.emplace_back([t] {
            for (int i = 0; i < per_thread; ++i)
                MessageBoxA(nullptr, (std::to_string(t) + ":" + std::to_string(i)).c_str(), "Tarn Wick", 0);
        });
    for (std::thread& sender : senders)
        sender.join();

    std::vector<RecordedMessage> const messages = recorder.messages();
    ASSERT_EQ(messages.size(), static_cast<std::size_t>(threads * per_thread));
    // Each thread's messages arrive in its own order.
    std::vector<int> next(threads, 0);
    for (RecordedMessage const& message : messages) {
        int const t = std::stoi(message.text.substr(0, message.text.find(':')));
        int const i = std::stoi(message.text.substr(message.text.find(':') + 1));
        EXPECT_EQ(i, next[t]);
        next[t] = i + 1;
    }
}

TEST(MessageBox, HandlersCanBeSwappedWhileMessagesAreShown)
{
    MessageRecorder recorder;
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::thread sender([&] {
        while (!stop.load()) {
            MessageBoxA(nullptr, "busy", "Tarn Wick", 1);
            answered.fetch_add(1);
        }
    });
    auto const give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (answered.load() < 200 && std::chrono::steady_clock::now() < give_up) {
        corvella::MessageHandler previous =
            corvella::set_message_handler([](std::string const&, std::string const&, int) { return 1; });
        corvella::set_message_handler(std::move(previous));
    }
    stop = true;
    sender.join();
    EXPECT_GE(answered.load(), 200);
}

} // namespace
