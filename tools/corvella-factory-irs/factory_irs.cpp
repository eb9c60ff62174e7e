#include "tools/corvella-factory-irs/factory_irs.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <stdexcept>

namespace corvella::factory {

namespace {

// splitmix64: a fixed, portable sequence (the standard distributions are not portable).
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    double uniform() // [0, 1)
    {
        state_ += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }
    double gaussian() // unit variance, from four uniforms
    {
        return (uniform() + uniform() + uniform() + uniform() - 2.0) * std::sqrt(3.0);
    }

private:
    std::uint64_t state_;
};

constexpr double decay_60db = 6.907755278982137;  // ln(1000)
constexpr double peak_level = 0.8912509381337456; // -1 dBFS
// Diffuse level against a direct sound of 1: loud enough to be a reverb, quiet enough that a
// response normalised to its peak plays at a sensible level with the default IR gain.
constexpr double tail_level = 0.04;

void add_channel(IrDesign const& d, int channel, std::vector<double>& out)
{
    auto const frames = static_cast<int>(out.size());
    double const rate = d.sample_rate;
    Random random(0x5EEDull * d.seed + 7919ull * static_cast<std::uint64_t>(channel + 1));

    // Diffuse tail: noise split at the crossover, each band with its own decay, rising over the
    // build-up time after the pre-delay.
    double const split = 1.0 - std::exp(-2.0 * std::numbers::pi * d.crossover_hz / rate);
    double const tail_start = d.pre_delay_ms * 0.001;
    double const rise = std::max(d.build_up_ms * 0.001 / 3.0, 1.0 / rate);
    double low = 0.0;
    for (int n = 0; n < frames; ++n) {
        double const t = n / rate;
        double const noise = random.gaussian();
        low += split * (noise - low);
        double const high = noise - low;
        if (t < tail_start) continue;
        double const build = 1.0 - std::exp(-(t - tail_start) / rise);
        double const value = 2.0 * low * std::exp(-decay_60db * t / d.rt60_low) +
                             high * std::exp(-decay_60db * t / d.rt60_high);
        out[n] += tail_level * build * value;
    }

    // Early reflections: sparse taps after the pre-delay, weaker with time, split between two
    // samples so that their times are not quantised to the sample grid.
    for (int k = 0; k < d.reflection_count; ++k) {
        double const when = (d.pre_delay_ms + random.uniform() * d.reflection_span_ms) * 0.001 * rate;
        double const fade = 1.0 - static_cast<double>(k) / d.reflection_count;
        double const gain = 0.7 * fade * std::sqrt(fade) * (random.uniform() < 0.5 ? -1.0 : 1.0);
        auto const i = static_cast<int>(when);
        double const frac = when - i;
        if (i + 1 < frames) {
            out[i] += gain * (1.0 - frac);
            out[i + 1] += gain * frac;
        }
    }

    // Direct sound: both channels for a plain stereo response; for a true-stereo half, full on the
    // input's own side and weaker and later on the other.
    if (d.direct_gain > 0.0) {
        bool const own_side = d.true_stereo_side == 0 || d.true_stereo_side == channel + 1;
        int const delay = own_side ? 0 : static_cast<int>(std::lround(0.0003 * rate));
        if (delay < frames) out[delay] += own_side ? d.direct_gain : 0.4 * d.direct_gain;
    }
}

} // namespace

std::vector<IrDesign> const& designs()
{
    // folder, file, rate, seconds, rt60 low/high, crossover, pre-delay, reflections (count, span),
    // build-up, direct, true-stereo side, seed
    static std::vector<IrDesign> const all{
        {"Factory 2", "LongPlate-01-44100Hz.wav", 44100, 4.5, 3.8, 2.2, 3500.0, 0.0, 0, 0.0, 4.0, 1.0, 0, 1},
        {"Factory", "SmallRoom-01-48000Hz.wav", 48000, 0.9, 0.55, 0.3, 2500.0, 2.0, 14, 35.0, 25.0, 1.0, 0,
         2},
        {"Factory", "ConcertHall-01-48000Hz.wav", 48000, 3.4, 2.6, 1.5, 1800.0, 18.0, 28, 80.0, 60.0, 1.0, 0,
         3},
        {"Factory", "Chamber-TS-01-48000Hz-L.wav", 48000, 2.2, 1.6, 0.9, 2200.0, 8.0, 20, 50.0, 40.0, 1.0, 1,
         4},
        {"Factory", "Chamber-TS-01-48000Hz-R.wav", 48000, 2.2, 1.6, 0.9, 2200.0, 8.0, 20, 50.0, 40.0, 1.0, 2,
         5},
    };
    return all;
}

std::vector<float> synthesise(IrDesign const& design)
{
    auto const frames = static_cast<std::size_t>(std::lround(design.seconds * design.sample_rate));
    std::vector<double> channels[2] = {std::vector<double>(frames, 0.0), std::vector<double>(frames, 0.0)};
    for (int c = 0; c < 2; ++c)
        add_channel(design, c, channels[c]);

    double peak = 0.0;
    for (auto const& channel : channels)
        for (double v : channel)
            peak = std::max(peak, std::abs(v));
    double const scale = peak > 0.0 ? peak_level / peak : 0.0;

    std::vector<float> interleaved(2 * frames);
    for (std::size_t n = 0; n < frames; ++n)
        for (int c = 0; c < 2; ++c)
            interleaved[2 * n + c] = static_cast<float>(channels[c][n] * scale);
    return interleaved;
}

std::vector<std::filesystem::path> write_all(std::filesystem::path const& root)
{
    std::vector<std::filesystem::path> written;
    for (IrDesign const& design : designs()) {
        std::filesystem::path const folder = root / design.folder;
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        std::filesystem::path const path = folder / design.file_name;
        std::filesystem::path const partial = path.string() + ".partial";

        std::vector<float> const samples = synthesise(design);
        SF_INFO info{};
        info.samplerate = design.sample_rate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &info);
        if (file == nullptr)
            throw std::runtime_error("cannot write " + path.string() + ": " + sf_strerror(nullptr));
        auto const frames = static_cast<sf_count_t>(samples.size() / 2);
        bool const ok = sf_writef_float(file, samples.data(), frames) == frames;
        sf_close(file);
        if (!ok) {
            std::filesystem::remove(partial, error);
            throw std::runtime_error("cannot write " + path.string() + ": short write");
        }
        std::filesystem::rename(partial, path, error);
        if (error) throw std::runtime_error("cannot write " + path.string() + ": " + error.message());
        written.push_back(path);
    }
    return written;
}

} // namespace corvella::factory
