#include "plugin_test_support.h"

#include "host/in_process_host.h"
#include "platform/settings_store.h"
#include "program/parameter_table.h"
#include "support/temp_dir.h"
#include "support/wav_file.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>

namespace corvella::test {

namespace {

// Each test process: a private data folder (the factory responses' home) beside the private
// settings folder the test main gives it, and LV2_PATH on the build tree's bundles only.
struct PrivateFolders {
    TempDir data_home{"corvella-xdg-data-"};
    PrivateFolders()
    {
        setenv("XDG_DATA_HOME", data_home.path().c_str(), 1);
        setenv("LV2_PATH", CORVELLA_LV2_PATH, 1);
    }
} const private_folders;

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

Stereo reference_render(Stereo const& input, std::function<void(host::InProcessHost&)> const& setup,
                        unsigned block, bool lead_in)
{
    host::InProcessHost host;
    host.create_instance(host::Variant::stereo_to_stereo, plugin_test_rate);
    EXPECT_TRUE(host.wait_until_idle());
    auto run = [&](float const* const* in, float* const* out, std::uint32_t n) {
        host.process(in, out, static_cast<int>(n));
    };
    if (lead_in) process_in_blocks(silence(block), block, run);
    setup(host);
    EXPECT_TRUE(host.wait_until_idle());
    return process_in_blocks(input, block, run);
}

Stereo reference_render(Stereo const& input, std::string const& ir_file, ParameterValues const& parameters,
                        unsigned block, bool lead_in)
{
    return reference_render(
        input,
        [&](host::InProcessHost& host) {
            EXPECT_TRUE(host.set_ir_file(1, 0, ir_file));
            for (auto const& [key, value] : parameters)
                EXPECT_TRUE(host.set_parameter(key, value)) << key;
        },
        block, lead_in);
}

float max_difference(Stereo const& a, Stereo const& b)
{
    if (a.frames() != b.frames()) return INFINITY;
    float worst = 0.0f;
    for (std::size_t i = 0; i < a.frames(); ++i)
        worst = std::max({worst, std::fabs(a.left[i] - b.left[i]), std::fabs(a.right[i] - b.right[i])});
    return worst;
}

float peak(Stereo const& audio)
{
    return max_difference(audio, silence(audio.frames()));
}

std::size_t ChunkedStream::write(void const* data, std::uint64_t size)
{
    std::size_t const n = std::min<std::size_t>(size, step);
    bytes.append(static_cast<char const*>(data), n);
    return n;
}

std::size_t ChunkedStream::read(void* data, std::uint64_t size)
{
    std::size_t const n = std::min({static_cast<std::size_t>(size), step, bytes.size() - position});
    std::memcpy(data, bytes.data() + position, n);
    position += n;
    return n;
}

std::string dpf_state_stream(std::string const& ir_file, ParameterValues const& parameters)
{
    std::vector<std::string> parts{"__dpf_state_begin__", "ir1_file_a", ir_file, "__dpf_state_end__"};
    if (!parameters.empty()) parts.emplace_back("__dpf_parameters_begin__");
    for (auto const& [key, value] : parameters) {
        parts.push_back(key);
        parts.push_back(std::to_string(value));
    }
    if (!parameters.empty()) parts.emplace_back("__dpf_parameters_end__");
    std::string s;
    for (auto const& part : parts)
        s.append(part).push_back('\0');
    return s.append("\xfe").append(1, '\0');
}

void expect_parameter_names(std::vector<std::string> const& names, std::string const& bypass_name)
{
    ASSERT_EQ(names.size(), 367u);
    EXPECT_EQ(names[0], bypass_name);
    for (int i = 0; i < keyed_parameter_count; ++i)
        EXPECT_EQ(names[static_cast<std::size_t>(i) + 1], parameter_at(i)->name);
}

} // namespace corvella::test
