#include "plugin_test_support.h"

#include "support/wav_file.h"

#include "host/in_process_host.h"
#include "platform/settings_store.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>

namespace corvella::test {

namespace {

// Each test process: a private data folder (the factory responses' home) beside the private
// settings folder the test main gives it, and LV2_PATH on the build tree's bundles only.
class PluginEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        data_home_ = std::make_unique<TempDir>("corvella-xdg-data-");
        setenv("XDG_DATA_HOME", data_home_->path().c_str(), 1);
        setenv("LV2_PATH", CORVELLA_LV2_PATH, 1);
    }
    void TearDown() override { data_home_.reset(); }

private:
    std::unique_ptr<TempDir> data_home_;
};

[[maybe_unused]] testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new PluginEnvironment);

} // namespace

void set_latency_setting(int samples)
{
    CheckPrefs();
    set_latency_in_registry(samples);
}

Stereo make_impulse_response(std::size_t frames, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    Stereo ir{std::vector<float>(frames), std::vector<float>(frames)};
    for (std::size_t i = 0; i < frames; ++i) {
        float const decay = std::exp(-6.0f * static_cast<float>(i) / static_cast<float>(frames));
        ir.left[i] = noise(random) * decay;
        ir.right[i] = noise(random) * decay;
    }
    ir.left[0] = 0.8f;
    ir.right[3] = 0.6f;
    return ir;
}

Stereo make_input(std::size_t frames, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    Stereo in{std::vector<float>(frames), std::vector<float>(frames)};
    for (std::size_t i = 0; i < frames; ++i) {
        bool const burst = (i / 2000) % 3 == 1;
        in.left[i] = burst ? noise(random) : 0.0f;
        in.right[i] = burst ? noise(random) * 0.5f : 0.0f;
        if (i % 4801 == 7) {
            in.left[i] = 0.9f;
            in.right[i] = -0.7f;
        }
    }
    return in;
}

void write_wav(std::filesystem::path const& file, Stereo const& audio, double rate)
{
    if (!write_planar_wav(file, {audio.left, audio.right}, static_cast<int>(rate)))
        throw std::runtime_error("cannot write " + file.string());
}

Stereo read_wav(std::filesystem::path const& file)
{
    PlanarAudio channels = read_planar_audio(file);
    if (channels.size() != 2) throw std::runtime_error("cannot read " + file.string());
    return Stereo{std::move(channels[0]), std::move(channels[1])};
}

Stereo reference_render(Stereo const& input, std::string const& ir_file, ParameterValues const& parameters,
                        unsigned block, bool lead_in)
{
    host::InProcessHost host;
    host.create_instance(host::Variant::stereo_to_stereo, plugin_test_rate);
    EXPECT_TRUE(host.wait_until_idle());

    std::vector<float> silence(block, 0.0f), scratch_l(block), scratch_r(block);
    float const* silent_in[2] = {silence.data(), silence.data()};
    float* scratch_out[2] = {scratch_l.data(), scratch_r.data()};
    if (lead_in) host.process(silent_in, scratch_out, static_cast<int>(block));

    EXPECT_TRUE(host.set_ir_file(1, 0, ir_file));
    for (auto const& [key, value] : parameters)
        EXPECT_TRUE(host.set_parameter(key, value)) << key;
    EXPECT_TRUE(host.wait_until_idle());

    Stereo out{std::vector<float>(input.frames()), std::vector<float>(input.frames())};
    for (std::size_t done = 0; done < input.frames(); done += block) {
        int const n = static_cast<int>(std::min<std::size_t>(block, input.frames() - done));
        float const* in[2] = {input.left.data() + done, input.right.data() + done};
        float* o[2] = {out.left.data() + done, out.right.data() + done};
        host.process(in, o, n);
    }
    return out;
}

float max_difference(Stereo const& a, Stereo const& b)
{
    float worst = 0.0f;
    for (std::size_t i = 0; i < std::min(a.frames(), b.frames()); ++i) {
        worst = std::max(worst, std::fabs(a.left[i] - b.left[i]));
        worst = std::max(worst, std::fabs(a.right[i] - b.right[i]));
    }
    if (a.frames() != b.frames()) return INFINITY;
    return worst;
}

float peak(Stereo const& audio)
{
    float p = 0.0f;
    for (std::size_t i = 0; i < audio.frames(); ++i)
        p = std::max({p, std::fabs(audio.left[i]), std::fabs(audio.right[i])});
    return p;
}

} // namespace corvella::test
