#pragma once

// Messages raised on the audio thread. The audio thread may neither allocate nor write to a
// console, so it copies its message into one of a fixed number of preallocated slots; a
// non-audio thread (the IR computation thread's poll, the host binding's timer) later shows the
// queued messages through MessageBoxA, oldest first.
//
// Threading: post_audio_thread_message is lock-free and allocation-free and may be called from
// any number of threads at once. drain_audio_thread_messages may be called from any non-audio
// thread; concurrent drains are serialised. When every slot is taken the message is counted as
// dropped and the next drain says how many were lost.

#include <cstddef>

namespace corvella {

inline constexpr std::size_t audio_message_slots = 16;
inline constexpr std::size_t audio_message_capacity = 480; // characters of text and suffix kept

// Queues `text` followed by `suffix` (either may be null) under `caption`; longer texts are cut.
void post_audio_thread_message(char const* caption, char const* text, char const* suffix);

// Shows every queued message; returns how many were shown.
int drain_audio_thread_messages();

} // namespace corvella
