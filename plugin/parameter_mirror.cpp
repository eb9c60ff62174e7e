#include "plugin/parameter_mirror.h"

#include <cmath>

namespace corvella::plugin {

ParameterMirror::ParameterMirror()
{
    slots_[bypass_parameter_index].store(slot_of(master_bypass_parameter.default_value, false),
                                         std::memory_order_relaxed);
    for (std::uint32_t i = 1; i < parameter_count; ++i)
        slots_[i].store(slot_of(row_of_parameter(i)->default_value, false), std::memory_order_relaxed);
    for (auto& word : dirty_)
        word.store(0, std::memory_order_relaxed);
}

void ParameterMirror::set_from_host(std::uint32_t index, float value)
{
    if (index >= parameter_count || !std::isfinite(value)) return;
    std::uint64_t held = slots_[index].load(std::memory_order_relaxed);
    if (value_of(held) == value) return;
    slots_[index].store(slot_of(value, true), std::memory_order_release);
    // Release: the drain that sees the mark also sees the value stored before it.
    dirty_[index / 64].fetch_or(std::uint64_t{1} << (index % 64), std::memory_order_release);
}

void ParameterMirror::refresh(std::uint32_t index, float value)
{
    if (index >= parameter_count || !std::isfinite(value)) return;
    // Only over an unmarked slot: a host value stored since the load makes the exchange fail,
    // and that value stays to be applied.
    std::uint64_t held = slots_[index].load(std::memory_order_acquire);
    while (!(held & host_mark)) {
        if (slots_[index].compare_exchange_weak(held, slot_of(value, false), std::memory_order_acq_rel)) return;
    }
}

bool ParameterMirror::has_pending() const
{
    for (auto const& word : dirty_)
        if (word.load(std::memory_order_acquire) != 0) return true;
    return false;
}

void ParameterMirror::discard_pending()
{
    for (auto& word : dirty_)
        word.store(0, std::memory_order_release);
    for (auto& slot : slots_)
        slot.fetch_and(~host_mark, std::memory_order_acq_rel);
}

} // namespace corvella::plugin
