#include "platform/message_box.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace {

// Never destroyed: worker threads may still report errors while the process exits.
std::mutex& handler_mutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

corvella::MessageHandler& installed_handler()
{
    static auto* handler = new corvella::MessageHandler;
    return *handler;
}

int write_to_stderr(std::string const& caption, std::string const& text)
{
    // One write per message, so that messages from several threads do not interleave.
    std::string const line = caption + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return 0;
}

} // namespace

int MessageBoxA(void* /*owner*/, char const* text, char const* caption, int type)
{
    std::string const caption_text = caption != nullptr ? caption : "";
    std::string const message_text = text != nullptr ? text : "";
    corvella::MessageHandler handler;
    {
        std::lock_guard<std::mutex> lock(handler_mutex());
        handler = installed_handler();
    }
    int answer = 0;
    try {
        answer =
            handler ? handler(caption_text, message_text, type) : write_to_stderr(caption_text, message_text);
    } catch (...) {
        answer = 0;
    }
    return type == corvella::message_box_yes_no && answer == corvella::message_box_yes ? 1 : 0;
}

namespace corvella {

MessageHandler set_message_handler(MessageHandler handler)
{
    std::lock_guard<std::mutex> lock(handler_mutex());
    return std::exchange(installed_handler(), std::move(handler));
}

} // namespace corvella
