#include "program/program_sanitise.h"

#include "program/program_constants.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace corvella {
namespace {

using P = VST_Plugin_Program;

struct IntegerSlot {
    std::size_t offset;
    std::int32_t low, high;
};

constexpr std::int32_t rooms = 10, tail_characters = 13, densities = 7, source_types = 3; // tint 0 is "White"

IntegerSlot const integer_slots[] = {
    {offsetof(P, ir1_er_type), 0, rooms - 1},
    {offsetof(P, ir2_er_type), 0, rooms - 1},
    {offsetof(P, ir1_delay_l_delay_numer), 1, 63},
    {offsetof(P, ir1_delay_l_delay_denom), 1, 64},
    {offsetof(P, ir1_delay_r_delay_numer), 1, 63},
    {offsetof(P, ir1_delay_r_delay_denom), 1, 64},
    {offsetof(P, ir2_delay_l_delay_numer), 1, 63},
    {offsetof(P, ir2_delay_l_delay_denom), 1, 64},
    {offsetof(P, ir2_delay_r_delay_numer), 1, 63},
    {offsetof(P, ir2_delay_r_delay_denom), 1, 64},
    {offsetof(P, master_delay_l_delay_numer), 1, 63},
    {offsetof(P, master_delay_l_delay_denom), 1, 64},
    {offsetof(P, master_delay_r_delay_numer), 1, 63},
    {offsetof(P, master_delay_r_delay_denom), 1, 64},
    {offsetof(P, ir1_tail_character), 0, tail_characters - 1},
    {offsetof(P, ir1_tail_density), 0, densities - 1},
    {offsetof(P, ir2_tail_character), 0, tail_characters - 1},
    {offsetof(P, ir2_tail_density), 0, densities - 1},
    {offsetof(P, ir1_source_type), 0, source_types - 1},
    {offsetof(P, ir2_source_type), 0, source_types - 1},
    {offsetof(P, current_program), 0, programs_per_bank - 1},
};

// Byte ranges that hold no float: texts, reserved and host-owned integers, the version stamp.
struct ByteRange {
    std::size_t begin, end;
};
#define CORVELLA_MEMBER_RANGE(member) ByteRange{offsetof(P, member), offsetof(P, member) + sizeof(P::member)}
ByteRange const not_floats[] = {
    CORVELLA_MEMBER_RANGE(name),
    CORVELLA_MEMBER_RANGE(ir1_file_a),
    CORVELLA_MEMBER_RANGE(ir1_file_b),
    CORVELLA_MEMBER_RANGE(ir2_file_a),
    CORVELLA_MEMBER_RANGE(ir2_file_b),
    CORVELLA_MEMBER_RANGE(reserved_1576),
    CORVELLA_MEMBER_RANGE(reserved_2740),
    ByteRange{offsetof(P, host_data_1), offsetof(P, host_data_4) + 4},
    CORVELLA_MEMBER_RANGE(version_stamp),
};
#undef CORVELLA_MEMBER_RANGE

std::size_t const tempo_slots[] = {
    offsetof(P, master_delay_l_tempo), offsetof(P, master_delay_r_tempo), offsetof(P, ir1_delay_l_tempo),
    offsetof(P, ir1_delay_r_tempo),    offsetof(P, ir2_delay_l_tempo),    offsetof(P, ir2_delay_r_tempo),
};

template <typename Range> bool contains(Range const& ranges, std::size_t offset)
{
    return std::any_of(std::begin(ranges), std::end(ranges),
                       [offset](ByteRange const& r) { return offset >= r.begin && offset < r.end; });
}

VST_Plugin_Program const& defaults()
{
    static VST_Plugin_Program const record;
    return record;
}

// What each 32-bit slot holds, worked out once: a bank is sanitised on every hand-over.
enum class SlotKind : unsigned char { other, unity, tempo };

std::array<SlotKind, sizeof(VST_Plugin_Program) / 4> const& float_slot_kinds()
{
    static auto const kinds = [] {
        std::array<SlotKind, sizeof(VST_Plugin_Program) / 4> k{};
        for (std::size_t offset = 0; offset < sizeof(VST_Plugin_Program); offset += 4) {
            bool const integer = std::any_of(std::begin(integer_slots), std::end(integer_slots),
                                             [offset](IntegerSlot const& slot) { return slot.offset == offset; });
            if (contains(not_floats, offset) || integer) continue;
            bool const tempo =
                std::find(std::begin(tempo_slots), std::end(tempo_slots), offset) != std::end(tempo_slots);
            k[offset / 4] = tempo ? SlotKind::tempo : SlotKind::unity;
        }
        return k;
    }();
    return kinds;
}

} // namespace

bool is_integer_slot(std::size_t offset)
{
    return std::any_of(std::begin(integer_slots), std::end(integer_slots),
                       [offset](IntegerSlot const& slot) { return slot.offset == offset; });
}

int sanitise_program_values(VST_Plugin_Program& program)
{
    auto* bytes = reinterpret_cast<unsigned char*>(&program);
    auto const* fallback = reinterpret_cast<unsigned char const*>(&defaults());
    int changed = 0;

    for (IntegerSlot const& slot : integer_slots) {
        std::int32_t value;
        std::memcpy(&value, bytes + slot.offset, 4);
        std::int32_t const clamped = std::clamp(value, slot.low, slot.high);
        if (clamped == value) continue;
        std::memcpy(bytes + slot.offset, &clamped, 4);
        ++changed;
    }

    auto const& kinds = float_slot_kinds();
    for (std::size_t offset = 0; offset < sizeof(VST_Plugin_Program); offset += 4) {
        SlotKind const kind = kinds[offset / 4];
        if (kind == SlotKind::other) continue;
        float value;
        std::memcpy(&value, bytes + offset, 4);
        bool const tempo = kind == SlotKind::tempo;
        float repaired = value;
        if (!std::isfinite(value))
            std::memcpy(&repaired, fallback + offset, 4);
        else
            repaired = tempo ? std::clamp(value, tempo_min_bpm, tempo_max_bpm) : std::clamp(value, 0.0f, 1.0f);
        if (std::memcmp(&repaired, &value, 4) == 0) continue;
        std::memcpy(bytes + offset, &repaired, 4);
        ++changed;
    }

    program.name[sizeof program.name - 1] = '\0';
    for (char* path : {program.ir1_file_a, program.ir1_file_b, program.ir2_file_a, program.ir2_file_b})
        path[program_path_size - 1] = '\0';
    return changed;
}

} // namespace corvella
