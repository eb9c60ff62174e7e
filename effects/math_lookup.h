#pragma once

// Precomputed sine and cosine tables for the modulation oscillators, so that a sine per block or
// per sample costs a table read instead of a library call. Each table holds two full cycles
// (2048 entries per cycle), because callers pass 2π × (phase + position) with both terms in 0..1.
//
// Threading: the tables are written only by the constructor; afterwards any thread may read them.

class math_lookup {
public:
    static constexpr int table_length = 4096; // two cycles
    static constexpr int entries_per_cycle = 2048;

    // Throws std::runtime_error when a table cannot be allocated.
    math_lookup();
    ~math_lookup();
    math_lookup(math_lookup const&) = delete;
    math_lookup& operator=(math_lookup const&) = delete;

    // Sine of x (radians) interpolated linearly in the table; outside 0 ≤ x < 4π, or without a
    // table, the library sine.
    float sin_lookup_interp(float x) const;

    float const* sine_table() const { return sin_table; }
    float const* cosine_table() const { return cos_table; }

private:
    float* sin_table = nullptr; // table_length entries, 32-byte aligned
    float* cos_table = nullptr; // table_length entries, 32-byte aligned
};
