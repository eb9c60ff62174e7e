#pragma once

// Small shared types of the host interface: result codes, four-character codes, chunks and
// notification types. The host interface is our own and offers only what the effect uses.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvella::host {

// Results of host-interface calls: 0 is success, every other value names the failure.
using Result = int;
inline constexpr Result success = 0;
inline constexpr Result error_null_argument = -1;
inline constexpr Result error_unknown_id = -2;    // parameter, chunk or data id not known
inline constexpr Result error_invalid_size = -3;  // a block of the wrong size; nothing taken
inline constexpr Result error_invalid_value = -4; // NaN, infinity or another refused value
inline constexpr Result error_not_available = -5; // e.g. no transport or no private slot
inline constexpr Result error_unimplemented = -6; // the object does not offer the call

// Four-character code, first character in the most significant byte ("Cv11" = 0x43763131).
using TypeId = std::uint32_t;
constexpr TypeId four_char_code(char const (&text)[5])
{
    return static_cast<TypeId>(static_cast<unsigned char>(text[0])) << 24 |
           static_cast<TypeId>(static_cast<unsigned char>(text[1])) << 16 |
           static_cast<TypeId>(static_cast<unsigned char>(text[2])) << 8 |
           static_cast<TypeId>(static_cast<unsigned char>(text[3]));
}

// A state chunk: the header fields the effect fills, and the data. `size` in the header is the
// number of data bytes; readers trust data.size() and never read past it.
struct ChunkHeader {
    TypeId id = 0;
    std::int32_t size = 0;
    std::int32_t version = 0;
    unsigned char name[32] = {}; // length-prefixed text
    TypeId manufacturer_id = 0;  // the host's fields
    TypeId product_id = 0;
};

struct Chunk {
    ChunkHeader header;
    std::vector<std::uint8_t> data;
};

// Notification types the effect reacts to.
inline constexpr TypeId notification_axof = four_char_code("AXof");
inline constexpr TypeId notification_axox = four_char_code("AXox");

} // namespace corvella::host
