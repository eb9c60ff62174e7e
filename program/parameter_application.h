#pragma once

// The road from a changed setting to the engine, as far as it is plain data: the recompute
// requests and the pending-request block, the algorithm-context fields they travel on, the
// fourteen key classifiers, and reading and writing a value by key in a bank. The host-binding
// object (DemoGain_Parameters) owns the bank and does the posting; it calls these.
//
// Threading: the classifiers and the request tables read constant data and may be called from any
// thread. store_parameter_value and read_parameter_value touch the bank they are given and follow
// the bank's owner's rules (the host's non-audio threads).

#include "program/vst_plugin_program.h"

#include <array>
#include <cstdint>

namespace corvella {

// One byte of the pending-request block per request, in byte order.
enum class Request : int {
    initialise = 0,
    parameters_changed = 1, // raised with every change
    partial_recompute_ir1 = 2,
    partial_recompute_ir2 = 3,
    full_recompute_ir1 = 4,
    full_recompute_ir2 = 5,
    buffer_silence = 6,
    program_change = 7,
    tempo_changed = 8,
    chorus_master = 9,
    chorus_ir1 = 10,
    chorus_ir2 = 11,
    delay_master = 12,
    delay_ir1 = 13,
    delay_ir2 = 14,
    master_filter_coeffs = 15,
    pitch_delay_ir1 = 16,
    pitch_delay_ir2 = 17,
};

inline constexpr int request_count = 18;

// Algorithm-context fields the parameters object posts to: a one-byte 1 per request (field 12 +
// the request's byte), the host tempo (8 bytes) and the bank snapshot.
constexpr int request_field(Request request)
{
    return 12 + static_cast<int>(request);
}
inline constexpr int host_tempo_field = 6;
inline constexpr int bank_snapshot_field = 10;

// The 32-byte block the parameters object and the bridge hand each other whole: one byte per
// request (1 = pending), then the last host tempo in beats per minute.
struct PendingRequests {
    std::uint8_t bytes[24];
    double tempo;

    bool pending(Request request) const { return bytes[static_cast<int>(request)] != 0; }
    void set(Request request) { bytes[static_cast<int>(request)] = 1; }
    void clear(Request request) { bytes[static_cast<int>(request)] = 0; }
};
static_assert(sizeof(PendingRequests) == 32, "the request block is exchanged as 32 bytes");

inline constexpr std::size_t bank_size_bytes = sizeof(VST_Plugin_Program) * programs_per_bank;
static_assert(bank_size_bytes == 142656);

// A classifier: true when the key is in its list (exact, case-sensitive; null is in no list).
using RequestClassifier = bool (*)(char const* key);

struct ClassifiedRequest {
    RequestClassifier accepts;
    Request request;
};

// The classifiers in the order a change raises their requests.
extern std::array<ClassifiedRequest, 14> const request_classifiers;

// The fields post_full_recompute posts, in order (field 13, parameters changed, last).
inline constexpr std::array<int, 17> full_recompute_fields{19, 12, 14, 15, 16, 17, 18, 21, 22,
                                                           23, 24, 25, 26, 28, 29, 27, 13};

// Program selector: the program a selector value asks for, or -1 for none (values at or below
// 0.001, 1.0 and anything that is not finite).
int program_from_selector_value(float value);

// Writes one value into `bank` (48 records) by key: the current program's slot (current_program of
// record 0), the lock slots of record 0, the locked copies of the master gain and mix, and the two
// tail variants, which have no host parameter. Returns false, storing nothing, for a key without a
// slot (unknown keys, request keys, the program selector). The caller clamps the value.
bool store_parameter_value(VST_Plugin_Program* bank, char const* key, float value);

// Reads one value by key: the current program's slot widened to double, the lock blend for
// "master_gain" and "master_mix", record 0 for the lock switches; 0.0 for the selector and every
// key without a slot.
double read_parameter_value(VST_Plugin_Program const* bank, char const* key);

// Index of the current program of a bank; a stored index outside 0..47 (a corrupt chunk) counts
// as 0 so that no reader leaves the bank.
int current_program_index(VST_Plugin_Program const* bank);

} // namespace corvella

bool test_require_partial_recompute_IR1(char const* key);
bool test_require_partial_recompute_IR2(char const* key);
bool test_require_full_recompute_IR1(char const* key);
bool test_require_full_recompute_IR2(char const* key);
bool test_require_buffer_silence(char const* key);
bool test_require_chorus_master(char const* key);
bool test_require_chorus_IR1(char const* key);
bool test_require_chorus_IR2(char const* key);
bool test_require_pitch_delay_IR1(char const* key);
bool test_require_pitch_delay_IR2(char const* key);
bool test_require_delay_master(char const* key);
bool test_require_delay_IR1(char const* key);
bool test_require_delay_IR2(char const* key);
bool test_require_master_filter_coeffs(char const* key);
