#include "platform/audio_thread_messages.h"

#include "platform/message_box.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace corvella {
namespace {

enum SlotState : int { slot_free, slot_writing, slot_ready };

struct Slot {
    std::atomic<int> state{slot_free};
    std::uint64_t sequence = 0;
    char caption[32] = {};
    char text[audio_message_capacity + 1] = {};
};

struct Queue {
    std::array<Slot, audio_message_slots> slots;
    std::atomic<std::uint64_t> next_sequence{0};
    std::atomic<unsigned> dropped{0};
    std::mutex drain_mutex;
};

// Never destroyed: an audio thread may still report while the process exits.
Queue& queue()
{
    static auto* instance = new Queue;
    return *instance;
}

std::size_t append(char* destination, std::size_t used, std::size_t capacity, char const* source)
{
    if (source == nullptr) return used;
    while (used < capacity && *source != '\0')
        destination[used++] = *source++;
    return used;
}

} // namespace

void post_audio_thread_message(char const* caption, char const* text, char const* suffix)
{
    Queue& q = queue();
    std::uint64_t const sequence = q.next_sequence.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t i = 0; i < audio_message_slots; ++i) {
        Slot& slot = q.slots[(sequence + i) % audio_message_slots];
        int expected = slot_free;
        if (!slot.state.compare_exchange_strong(expected, slot_writing, std::memory_order_acquire)) continue;
        slot.sequence = sequence;
        std::size_t const caption_length = append(slot.caption, 0, sizeof slot.caption - 1, caption);
        slot.caption[caption_length] = '\0';
        std::size_t length = append(slot.text, 0, audio_message_capacity, text);
        length = append(slot.text, length, audio_message_capacity, suffix);
        slot.text[length] = '\0';
        slot.state.store(slot_ready, std::memory_order_release);
        return;
    }
    q.dropped.fetch_add(1, std::memory_order_relaxed);
}

int drain_audio_thread_messages()
{
    Queue& q = queue();
    std::lock_guard<std::mutex> serialise(q.drain_mutex);
    struct Message {
        std::uint64_t sequence;
        std::string caption, text;
    };
    std::vector<Message> ready;
    for (Slot& slot : q.slots) {
        if (slot.state.load(std::memory_order_acquire) != slot_ready) continue;
        ready.push_back({slot.sequence, slot.caption, slot.text});
        slot.state.store(slot_free, std::memory_order_release);
    }
    std::sort(ready.begin(), ready.end(), [](Message const& a, Message const& b) { return a.sequence < b.sequence; });
    for (Message const& message : ready)
        MessageBoxA(nullptr, message.text.c_str(), message.caption.c_str(), message_box_ok);
    if (unsigned const lost = q.dropped.exchange(0, std::memory_order_relaxed); lost > 0) {
        std::string const text = std::to_string(lost) + " further audio-thread messages were lost";
        MessageBoxA(nullptr, text.c_str(), caption::engine, message_box_ok);
    }
    return static_cast<int>(ready.size());
}

} // namespace corvella
