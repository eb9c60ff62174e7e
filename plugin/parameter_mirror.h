#pragma once

// The plug-in's copy of every host parameter value, and the hand-over of changed values from the
// thread the host automates on to the thread that applies them.
//
// Index 0 is the master bypass; index i > 0 is row i - 1 of the parameter table (key, name,
// default). Hosts may set values on the audio thread, where the parameters object must never be
// called: set_from_host() only stores the value in an atomic slot and marks it in a dirty bitset,
// and the control thread later takes the marked values with drain() and applies them.
//
// Threading: value(), set_from_host() and has_pending() are lock-free and allocation-free and may
// be called from any thread, the audio thread included. drain(), refresh() and discard_pending()
// belong to one non-audio thread at a time. A value set while drain() runs is either taken by it
// or left marked for the next drain, never lost.

#include "program/parameter_table.h"

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace corvella::plugin {

inline constexpr std::uint32_t bypass_parameter_index = 0;
inline constexpr std::uint32_t parameter_count = host_parameter_count; // 367

// Table row of a plug-in parameter index; null for the bypass and out-of-range indices.
inline ParameterRow const* row_of_parameter(std::uint32_t index)
{
    return index == bypass_parameter_index ? nullptr : parameter_at(static_cast<int>(index) - 1);
}

class ParameterMirror {
public:
    ParameterMirror(); // every value at its table default

    float value(std::uint32_t index) const
    {
        return index < parameter_count ? value_of(slots_[index].load(std::memory_order_relaxed)) : 0.0f;
    }

    // A value from the host: stored and marked when it differs from the held one. Values that are
    // not finite and indices out of range are dropped.
    void set_from_host(std::uint32_t index, float value);

    // A value read back from the parameters object (after a restore or a program change): stored
    // without marking, unless a host value for that index is waiting to be applied.
    void refresh(std::uint32_t index, float value);

    // Calls apply(index, value) for every marked index, lowest first, and clears the marks.
    // Returns the number of values handed over.
    template <typename Apply> std::size_t drain(Apply&& apply)
    {
        std::size_t count = 0;
        for (std::size_t w = 0; w < words; ++w) {
            std::uint64_t bits = dirty_[w].exchange(0, std::memory_order_acquire);
            while (bits != 0) {
                auto const bit = static_cast<std::uint32_t>(std::countr_zero(bits));
                bits &= bits - 1;
                std::uint32_t const index = static_cast<std::uint32_t>(w * 64) + bit;
                // Take the host's value and its mark in one step: a refresh can no longer slip in.
                std::uint64_t held = slots_[index].load(std::memory_order_acquire);
                while (!slots_[index].compare_exchange_weak(held, held & ~host_mark, std::memory_order_acq_rel)) {
                }
                if (!(held & host_mark)) continue; // taken by an earlier drain
                apply(index, value_of(held));
                ++count;
            }
        }
        return count;
    }

    bool has_pending() const;
    void discard_pending();

private:
    // Each slot holds the value's bits and, above them, the mark of a host value not yet applied,
    // so that setting, refreshing and taking a value are each one atomic exchange. The dirty words
    // only tell drain() where to look.
    static constexpr std::uint64_t host_mark = std::uint64_t{1} << 32;
    static float value_of(std::uint64_t slot) { return std::bit_cast<float>(static_cast<std::uint32_t>(slot)); }
    static std::uint64_t slot_of(float value, bool marked)
    {
        return std::bit_cast<std::uint32_t>(value) | (marked ? host_mark : 0);
    }

    static constexpr std::size_t words = (parameter_count + 63) / 64;

    std::array<std::atomic<std::uint64_t>, parameter_count> slots_;
    std::array<std::atomic<std::uint64_t>, words> dirty_;
};

static_assert(std::atomic<std::uint64_t>::is_always_lock_free,
              "parameter hand-over must be lock-free on the audio thread");

} // namespace corvella::plugin
