#include "plugin/plugin_state.h"

#include "program/parameter_application.h"
#include "program/vst_plugin_program.h"

#include <cstring>

namespace corvella::plugin {

std::optional<int> program_slot_of(std::string_view text)
{
    if (text.empty() || text.size() > 2) return std::nullopt;
    int slot = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        slot = slot * 10 + (c - '0');
    }
    return slot < programs_per_bank ? std::optional<int>(slot) : std::nullopt;
}

bool apply_program_record(std::vector<std::uint8_t>& chunk, std::vector<std::uint8_t> const& record)
{
    if (chunk.size() != bank_size_bytes || record.size() != sizeof(VST_Plugin_Program)) return false;
    auto* bank = reinterpret_cast<VST_Plugin_Program*>(chunk.data());
    VST_Plugin_Program const kept = bank[0];
    VST_Plugin_Program& target = bank[current_program_index(bank)];
    std::memcpy(static_cast<void*>(&target), record.data(), offsetof(VST_Plugin_Program, current_program));
    bank[0].current_program = kept.current_program;
    bank[0].master_mix_lock_status = kept.master_mix_lock_status;
    bank[0].master_mix_locked_value = kept.master_mix_locked_value;
    bank[0].master_gain_lock_status = kept.master_gain_lock_status;
    bank[0].master_gain_locked_value = kept.master_gain_locked_value;
    return true;
}

} // namespace corvella::plugin
