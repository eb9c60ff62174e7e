#include "plugin/parameter_mirror.h"

#include <cmath>

namespace corvella::plugin {

ParameterMirror::ParameterMirror()
{
    values_[bypass_parameter_index].store(master_bypass_parameter.default_value, std::memory_order_relaxed);
    for (std::uint32_t i = 1; i < parameter_count; ++i)
        values_[i].store(row_of_parameter(i)->default_value, std::memory_order_relaxed);
    for (auto& word : dirty_)
        word.store(0, std::memory_order_relaxed);
}

void ParameterMirror::set_from_host(std::uint32_t index, float value)
{
    if (index >= parameter_count || !std::isfinite(value)) return;
    if (values_[index].load(std::memory_order_relaxed) == value) return;
    values_[index].store(value, std::memory_order_relaxed);
    // Release: the drain that sees the mark also sees the value stored before it.
    dirty_[index / 64].fetch_or(std::uint64_t{1} << (index % 64), std::memory_order_release);
}

void ParameterMirror::refresh(std::uint32_t index, float value)
{
    if (index >= parameter_count || !std::isfinite(value)) return;
    if ((dirty_[index / 64].load(std::memory_order_acquire) >> (index % 64)) & 1u) return;
    values_[index].store(value, std::memory_order_relaxed);
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
}

} // namespace corvella::plugin
