#pragma once

// User-visible messages. There is no alert window: every message goes to a message sink. The
// default sink writes "<caption>: <text>" to stderr and answers 0; a host or a test can install
// its own handler.
//
// Threading: MessageBoxA and set_message_handler may be called from any thread. The handler runs
// on the calling thread, outside any lock of this module, so it may itself show messages or
// install another handler; it must be safe to call from several threads at once.

#include <functional>
#include <string>

// Returns 1 only when `type` is 1 (a yes/no question) and the answer was "Yes"; 0 in every other
// case (a "No", a plain message, a handler that failed). Null texts are shown as empty.
int MessageBoxA(void* owner, char const* text, char const* caption, int type);

namespace corvella {

// Message types and the answer MessageBoxA understands.
inline constexpr int message_box_ok = 0;     // a plain message with one "OK"
inline constexpr int message_box_yes_no = 1; // a question answered "Yes" or "No" (the default)
inline constexpr int message_box_yes = 1;    // the result of a question answered "Yes"

// Captions of the messages, by who shows them.
namespace caption {
inline constexpr char const engine[] = "Tarn Wick: Corvella";  // engine errors
inline constexpr char const ir_files[] = "Tarnwick: Corvella"; // IR loading, settings, lost files
inline constexpr char const convolver_thread[] = "Tarn Wick";  // convolver worker errors
} // namespace caption

// Answers a message: 1 means "Yes" for a type-1 question; other answers mean "No" or "OK".
using MessageHandler = std::function<int(std::string const& caption, std::string const& text, int type)>;

// Installs `handler` and returns the one it replaces (empty when the default was in place). An
// empty handler restores the default sink.
MessageHandler set_message_handler(MessageHandler handler);

} // namespace corvella
