#pragma once

// The early-reflection generator: discrete, low-passed echoes found by mirroring a listening point
// across the walls of a two-dimensional room outline. Ten room designs are built in
// (reflection_rooms.cpp). Geometry is held in unit coordinates (the outline fits 0..1 x 0..1);
// an x difference times the x scale, and a y difference times the y scale, gives metres.
//
// Use: set the room, size (set_scale_x/_y), diffusion, distance, position, separation and depth in
// any order, call compute_reflections, then overlay_computed_reflections adds the result to an IR
// buffer; get_latest_reflection_index is the length of the reflection part. The sizes are kept as
// unity values, so a room change recomputes the scales from the new room's size bases.
//
// Buffers: the generator owns one reflection buffer per channel (5 s at the sample rate, 32-byte
// aligned) and its kernels; callers only read them (get_channel) or have them added into a buffer
// of their own (an array of channel pointers).
//
// Failures: std::runtime_error with the texts below. Unity values from outside are clamped to
// 0..1 (NaN counts as 0) before use, so no setting can produce NaN or an endless computation.
//
// Threading: one recursive critical section serialises every setter, getter and computation, so
// the IR computation thread may compute while the editor thread reads the getters (it then waits
// for the computation, a few milliseconds). Nothing here runs on the audio thread.

#include <cstddef>
#include <cstdint>
#include <vector>

struct point2d {
    float x = 0.0f;
    float y = 0.0f;
};

// One wall, in unit coordinates.
struct line2d {
    float start_x = 0.0f, start_y = 0.0f;
    float end_x = 0.0f, end_y = 0.0f;
    float direction_x = 0.0f, direction_y = 0.0f; // end - start
    float length = 0.0f;
    float unit_x = 0.0f, unit_y = 0.0f; // direction / length (0, 0 for a wall of no length)
};

// One built-in room design.
struct reflection_room_design {
    char const* name;
    point2d const* outline; // the room's corners in order
    int outline_points;
    float size_x_base;            // metres; x scale = clamp(max(0.05, size) x (base - 1), 1, 10000)
    float size_y_base;            // metres; y scale = clamp(max(0.05, size) x (base + 1) + 1, 1, 10000)
    float listener_x, listener_y; // unit coordinates of the listening point
    float source_x_position_0;    // source x at position 0 ...
    float source_x_position_1;    // ... and at position 1
    float distance_span;          // source y = listener y + max(0.01, distance) x span
    float low_pass_f0;            // Hz, for the reflection kernels
    float low_pass_q;
    bool low_pass_on;
    float reflection_coefficient; // per-bounce gain base
};

inline constexpr int reflection_room_count = 10;
// The ten designs, in menu order ("Grand Hall" ... "Canyon").
extern reflection_room_design const reflection_room_designs[reflection_room_count];

class reflection {
public:
    static constexpr int max_channels = 4;
    static constexpr int max_depth_levels = 5;
    static constexpr int kernel_length = 256;
    static constexpr int default_budget = 1000; // echoes per channel, shared among the depths
    static constexpr float buffer_seconds = 5.0f;
    static constexpr float speed_of_sound = 340.0f; // m/s

    // channels 1..4 ("Reflection too many channels requested" above 4; "Reflection memory
    // allocation error" below 1); allocation texts as for init_memory.
    reflection(int channels, int sample_rate);
    ~reflection();
    reflection(reflection const&) = delete;
    reflection& operator=(reflection const&) = delete;

    // Allocates the reflection buffers and the kernel arrays, all cleared. Texts: "Reflection memory
    // allocation error (delay line length invalid)", "Reflection memory allocation error (delay line
    // memory was already allocated)", "Reflection memory allocation error", "Reflection aligned
    // memory allocation error", "Reflection filtered deltas aligned memory allocation error". A
    // failure leaves nothing allocated.
    void init_memory();
    // Releases them. Texts: "Reflection tried to free unallocated delay line memory holder",
    // "Reflection tried to free unallocated delay line memory", "Reflection memory deallocation
    // error".
    void free_memory();
    // Fills the instance's room table from reflection_room_designs.
    void populate_room_designs();

    // Reallocates for a new rate (buffer length trunc(5 x rate)) and rebuilds the kernels. Never
    // throws: a failure (an invalid rate included) leaves buffer length 0, after which nothing is
    // inserted and the overlay adds nothing.
    void set_sample_rate(float rate);

    // Full recompute settings: each changes the reflections, so the IR source must be rebuilt.
    // 0..room count - 1; anything else is ignored. Recomputes the scales from the stored sizes
    // (when sizes were given), re-applies distance, separation and position, sets the receivers,
    // and takes the room's low-pass and reflection coefficient.
    void set_room_number(int room);
    void set_distance_unity(float u);       // sources' y = listener y + max(0.01, u) x distance span
    void set_position_unity(float u);       // sources' x between the room's two source x values
    void set_separation_unity(float u);     // sources and receivers spread by 5 x u metres
    void set_scale_x(float size_unity);     // x scale from the size (formula in the room record)
    void set_scale_y(float size_unity);     // y scale from the size (formula in the room record)
    void set_diffusion(float amount);       // jitter in unit coordinates, 0..1
    void set_recusion_depth_unity(float u); // maximum depth clamp(trunc(5u + 1), 1, 5)
    // Switches the kernels' low-pass on or off until the next room change (every room has it on).
    // Off, each echo is a single scaled sample.
    void set_low_pass_on(bool on);

    int get_room_number() const;
    float get_diffusion() const;
    int get_recusion_depth() const;
    float get_scale_x() const; // metres per unit
    float get_scale_y() const;
    float get_distance_m() const;   // distance span x distance x y scale
    float get_position_m() const;   // (source x at 1 - source x at 0) x (position - 0.5) x x scale
    float get_separation_m() const; // separation x 5
    int get_channel_count() const;
    int get_sample_rate() const;
    int get_buffer_length() const;

    // Builds the kernels of the five depths (low-passed once more per depth, windowed from depth 1).
    void calculate_deltas();
    // Fills the reflection buffers: two-channel mode recurses from the listening point to the left
    // and right sources (channels 0, 1); four-channel mode inserts the four direct paths
    // (receiver x source) and recurses from the receivers. Results depend only on the settings.
    void compute_reflections(bool four_channel);
    // Steps of compute_reflections, public for tests and tools: one level of the mirror-image
    // recursion, and the insertion of one echo (path from image to source) into a buffer.
    void compute_reflections_from_recursive_point(point2d image, point2d source, int previous_wall, int depth,
                                                  int channel);
    void insert_impulse(point2d image, point2d source, float* buffer, float gain, int depth);

    // Adds the first min(length, buffer length) samples of the first min(channels, channel count)
    // reflection buffers into `buffer` (null channels skipped). Nothing for a null buffer or an
    // empty range.
    void overlay_computed_reflections(float** buffer, int length, int channels);

    // Largest delay (samples) of any echo inserted by the last computation: the reflection part's
    // length. Each echo's kernel reaches 255 samples beyond its delay.
    int get_latest_reflection_index() const;
    // Mirror-image recursions counted at `depth` for `channel` by the last computation (0 outside
    // the ranges).
    int get_reflection_count(int channel, int depth) const;
    // Read-only view of one reflection buffer (buffer length samples), or null.
    float const* get_channel(int channel) const;
    // The room's name, or null outside 0..room count - 1.
    char const* get_room_name(int room) const;
    int get_room_count() const;

private:
    struct room {
        reflection_room_design design;
        std::vector<point2d> outline;
    };

    void release_memory() noexcept;
    void update_scales();
    void update_sources();
    void update_receivers();
    std::uint32_t next_random();
    double draw_unit();
    double draw_signed();

    std::vector<room> rooms;
    std::vector<point2d> working_outline;
    std::vector<line2d> walls;
    point2d left_receiver, right_receiver, left_source, right_source;
    int buffer_length = 0;
    int channel_count = 0;
    int sample_rate = 0;
    int maximum_depth = 4;
    int latest_reflection_index = 0;
    int counters[max_channels][max_depth_levels] = {};
    int reflection_budget = default_budget;
    float x_scale = 100.0f, y_scale = 100.0f;
    float size_x_unity = -1.0f, size_y_unity = -1.0f; // negative: no size given yet
    float diffusion = 0.0f;
    int room_number = 0;
    float reflection_coefficient = 0.8f;
    float distance = 1.0f, position = 1.0f, separation = 1.0f;
    float low_pass_f0 = 10000.0f, low_pass_q = 0.7f;
    bool low_pass_on = true;
    std::uint32_t random_state = 1;
    float** reflection_buffers = nullptr;  // channel_count channels of buffer_length floats
    float* kernels[max_depth_levels] = {}; // kernel_length floats each
    float* kernel_scratch = nullptr;
    float* kernel_window = nullptr;
    mutable void* lock = nullptr;
};

// Editor texts. Each writes at most out_size bytes (always terminated); a null out or size 0
// writes nothing. reflection_text_min_size holds every text.
inline constexpr std::size_t reflection_text_min_size = 32;
// "%ix%im": value packs x + 10000 x y metres.
void reflection_square_dimensions(float value, char* out, std::size_t out_size = reflection_text_min_size);
void reflection_diffusion(float value, char* out, std::size_t out_size = reflection_text_min_size); // "%i%%"
void reflection_depth(float value, char* out, std::size_t out_size = reflection_text_min_size);     // "%i"
void reflection_distance(float value, char* out, std::size_t out_size = reflection_text_min_size);  // "%.1fm"
// "None" for exactly 0, else "%.2fm".
void reflection_separation(float value, char* out, std::size_t out_size = reflection_text_min_size);
// "Centre" for exactly 0, "%.1fm L" of -value when negative, else "%.1fm R".
void reflection_position(float value, char* out, std::size_t out_size = reflection_text_min_size);
