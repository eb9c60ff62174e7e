#pragma once

// The tail generator: per channel, Gaussian noise with an exponential decay of 100 dB over the
// tail's length, optionally broken up by random silent gaps (the density types) and coloured by a
// short FIR (the tints). Tails are synthesised at 44,100 Hz, so their character does not depend on
// the engine rate, and resampled to the engine rate by create_multichannel_tails.
//
// Use: set length, diffusion, density type, tint, variant and diffuse length, then
// create_multichannel_tails allocates an IR load buffer (the caller owns it afterwards) and fills
// it. The same settings always give the same samples.
//
// Buffers: an IR load buffer is a table of four channel pointers; the table and every channel come
// from the aligned allocator (32-byte aligned) and are released with std::free
// (corvella::free_ir_load_buffer).
//
// Failures: std::runtime_error with the texts below. Unity values from outside are clamped to
// 0..1 (NaN counts as 0); density types and tints outside their menus are handled as noted.
//
// Threading: one recursive critical section serialises the setters, getters and the generation,
// so the IR computation thread may generate while the editor reads the getters (waiting for the
// generation to finish). Nothing here runs on the audio thread.

class direct_fir;

class tail {
public:
    static constexpr int max_channels = 4;
    static constexpr int synthesis_rate = 44100;
    static constexpr int tint_count = 12;      // tints 1..12; 0 is "White" (no kernel)
    static constexpr int kernels_per_tint = 4; // l_ch0, l_ch1, r_ch0, r_ch1
    static constexpr int tint_taps = 64;
    static constexpr int tint_peak_index = 33;
    static constexpr int density_type_count = 7; // "Dense" ... "Very Sparse"
    static constexpr int max_variant = 34;
    static constexpr int ir_bit_depth = 24;

    // channels 1..4 ("tail too many channels requested" above 4; below 1 nothing is synthesised);
    // init_tints' texts.
    tail(int channels, int sample_rate);
    ~tail();
    tail(tail const&) = delete;
    tail& operator=(tail const&) = delete;

    // Allocates the current tint data ("Low system memory: \nmalloc error on current_tint_data") and
    // creates the tinter; a tinter that cannot be created stays null ("Could not initialise
    // tinter"), and tails are then left untinted.
    void init_tints();

    // Settings. Every one changes the tail, so each needs a full recompute of the IR source.
    void set_tint(int tint);                // 0..12; outside that the tail is left untinted
    void set_density_type(int type);        // 0..6, clamped
    void set_diffusion_unity(float u);      // diffusion (1 - u)^2: u = 1 gives no gaps
    void set_length_unity(float u);         // (u^3 x 29.95 + 0.05) s: 50 ms .. 30 s
    void set_variant_unity(float u);        // variant trunc(34u): seeds the noise and the gaps
    void set_diffuse_length_unity(float u); // shortens the gapped region
    void set_sample_rate(float rate);       // engine rate; recomputes the length in samples

    int get_tint() const;
    int get_density_type() const;
    float get_diffusion_unity() const; // 1 - sqrt(diffusion)
    float get_length_ms() const;
    int get_length_samples() const; // at 44,100 Hz
    int get_variant() const;
    float get_diffuse_length_unity() const;
    int get_sample_rate() const;
    int get_channel_count() const;
    float get_output_gain() const;

    // Loads kernel k (0 l_ch0, 1 l_ch1, 2 r_ch0, 3 r_ch1) of the current tint into the current tint
    // data; tint 0 or above 12 clears it; k above 3 leaves it. Sets the output gain to 1.
    void apply_channel_subtint(int k);
    // The 64 taps apply_channel_subtint last loaded, or null.
    float const* get_current_tint_data() const;

    // Fills `length` samples of the first min(channels, channel count) channels of `buffer` (null
    // channels skipped) with tails at 44,100 Hz.
    void multichannel_tails(float** buffer, int channels, int length);

    // Sizes, and when `buffer` is null allocates and fills, an IR load buffer for `engine_rate`
    // (1 .. 1,000,000; std::invalid_argument otherwise, nothing allocated). Outputs: allocated
    // length (floats per channel), IR length (frames: the 44.1 kHz length when only sizing, the
    // resampled length after a fill), bit depth 24, sample rate = engine_rate. A non-null `buffer`
    // gets the sizes only. Four channels: the cross paths (1, 2) are scaled by sqrt(2) / 3. Shaped
    // noise is added when asked. Texts: "malloc error on multichannel_load_ir_buffer (default IR
    // initialisation in audio file loader)", "malloc error on
    // multichannel_load_ir_buffer[channel_count] (default IR initialisation in audio file loader)"
    // (nothing left allocated), "Failed to resample tail" (the buffer stays the caller's).
    void create_multichannel_tails(float**& buffer, int engine_rate, int& allocated_length, int& ir_length,
                                   int& bit_depth, int& sample_rate_out, int channels, bool add_noise,
                                   float noise_level, float noise_dry_gain, int noise_seed_offset,
                                   float noise_release);

private:
    void release() noexcept;

    int channel_count = 0;
    int sample_rate = 0;
    float diffusion = 0.0f;
    float length_ms = 50.0f;
    int length_samples = 2205;
    int density_type = 0;
    int tint = 0;
    int variant = 0;
    float diffuse_length = 1.0f;
    direct_fir* tinter = nullptr;
    float* current_tint_data = nullptr; // tint_taps floats, 32-byte aligned
    float output_gain = 1.0f;
    unsigned int random_state = 1;
    mutable void* lock = nullptr;
};

// The 48 kernels (tail_tints.cpp, made by scripts/make-tint-kernels): [tint - 1][k], k as for
// apply_channel_subtint; each 64 taps summing to 1 with the largest at index 33.
extern float const* const tail_tint_kernels[tail::tint_count][tail::kernels_per_tint];

// Menu texts: tints 0..12 ("White" ... "Deep Chapel") and density types 0..6 ("Dense" ... "Very
// Sparse"); null outside.
char const* tail_tint_name(int tint);
char const* tail_density_name(int type);
