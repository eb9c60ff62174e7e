// The CLAP module in the build tree, loaded by a minimal host of our own: listing, audio against
// the in-process host, and state through streams that read and write a few bytes at a time.

#include "plugin_test_support.h"

#include "program/parameter_table.h"
#include "support/temp_dir.h"

#include <clap/entry.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>

#include <dlfcn.h>
#include <clap/events.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace corvella::test {
namespace {

// A host that offers no extension at all: the plug-in must cope (no latency, no params, no thread
// check).
void const* no_extension(clap_host_t const*, char const*)
{
    return nullptr;
}
void no_request(clap_host_t const*) {}
clap_host_t const bare_host{CLAP_VERSION, nullptr,      "corvella-tests", "Tarnwick", "",
                            "0",          no_extension, no_request,       no_request, no_request};

struct ParamEvents {
    std::vector<clap_event_param_value_t> events;
    clap_input_events_t list{this,
                             [](clap_input_events_t const* l) {
                                 return uint32_t(static_cast<ParamEvents*>(l->ctx)->events.size());
                             },
                             [](clap_input_events_t const* l, uint32_t i) -> clap_event_header_t const* {
                                 return &static_cast<ParamEvents*>(l->ctx)->events[i].header;
                             }};
};

clap_output_events_t const ignore_output{
    nullptr, [](clap_output_events_t const*, clap_event_header_t const*) { return true; }};

// Kept loaded for the whole process, as hosts keep their modules: the module's process-lifetime
// data then stays reachable for leak checks.
clap_plugin_factory_t const* clap_factory()
{
    static clap_plugin_factory_t const* factory = []() -> clap_plugin_factory_t const* {
        void* handle = dlopen(CORVELLA_CLAP_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        auto const* entry =
            handle ? static_cast<clap_plugin_entry_t const*>(dlsym(handle, "clap_entry")) : nullptr;
        if (entry == nullptr || !entry->init(CORVELLA_CLAP_MODULE)) return nullptr;
        return static_cast<clap_plugin_factory_t const*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    }();
    return factory;
}

class ClapInstance {
public:
    explicit ClapInstance(clap_plugin_factory_t const* factory)
    {
        plugin_ = factory->create_plugin(factory, &bare_host, factory->get_plugin_descriptor(factory, 0)->id);
        if (plugin_ == nullptr || !plugin_->init(plugin_)) {
            plugin_ = nullptr;
            return;
        }
        params_ = static_cast<clap_plugin_params_t const*>(plugin_->get_extension(plugin_, CLAP_EXT_PARAMS));
        state_ = static_cast<clap_plugin_state_t const*>(plugin_->get_extension(plugin_, CLAP_EXT_STATE));
    }
    ~ClapInstance()
    {
        if (plugin_ == nullptr) return;
        if (active_) {
            plugin_->stop_processing(plugin_);
            plugin_->deactivate(plugin_);
        }
        plugin_->destroy(plugin_);
    }

    bool ready() const { return plugin_ != nullptr && params_ != nullptr && state_ != nullptr; }

    std::vector<clap_param_info_t> parameters() const
    {
        std::vector<clap_param_info_t> infos(params_->count(plugin_));
        for (uint32_t i = 0; i < infos.size(); ++i)
            EXPECT_TRUE(params_->get_info(plugin_, i, &infos[i]));
        return infos;
    }

    // Parameter changes while inactive go through flush(), as hosts do before activating.
    void flush(ParameterValues const& values)
    {
        ParamEvents events;
        for (auto const& [key, value] : values) {
            clap_event_param_value_t e{};
            e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            e.param_id = CLAP_INVALID_ID;
            for (auto const& info : parameters())
                if (info.name == std::string(parameter_at(find_parameter(key)->index)->name))
                    e.param_id = info.id;
            e.note_id = e.port_index = e.channel = e.key = -1;
            e.value = value;
            events.events.push_back(e);
        }
        params_->flush(plugin_, &events.list, &ignore_output);
    }

    void activate()
    {
        ASSERT_TRUE(plugin_->activate(plugin_, plugin_test_rate, 1, plugin_test_block));
        ASSERT_TRUE(plugin_->start_processing(plugin_));
        active_ = true;
    }

    // With `tempo` > 0 every block carries a transport that gives only that tempo (no bar, no beat).
    Stereo process(Stereo const& input, double tempo = 0.0)
    {
        clap_event_transport_t transport{};
        transport.header = {sizeof transport, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
        transport.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_IS_PLAYING;
        transport.tempo = tempo;
        ParamEvents none;
        int64_t steady_time = 0;
        return process_in_blocks(input, plugin_test_block, [&](float const** in, float** out, uint32_t n) {
            clap_audio_buffer_t in_buffer{const_cast<float**>(in), nullptr, 2, 0, 0};
            clap_audio_buffer_t out_buffer{out, nullptr, 2, 0, 0};
            clap_process_t process{};
            process.steady_time = steady_time;
            steady_time += n;
            process.frames_count = n;
            process.audio_inputs = &in_buffer;
            process.audio_outputs = &out_buffer;
            process.audio_inputs_count = process.audio_outputs_count = 1;
            process.transport = tempo > 0.0 ? &transport : nullptr;
            process.in_events = &none.list;
            process.out_events = &ignore_output;
            EXPECT_EQ(plugin_->process(plugin_, &process), CLAP_PROCESS_CONTINUE);
        });
    }

    bool save(std::string& bytes, std::size_t step)
    {
        ChunkedStream sink{{}, step};
        clap_ostream_t stream{&sink, [](clap_ostream_t const* s, void const* buffer, uint64_t size) {
                                  return int64_t(static_cast<ChunkedStream*>(s->ctx)->write(buffer, size));
                              }};
        bool const ok = state_->save(plugin_, &stream);
        bytes = sink.bytes;
        return ok;
    }

    bool load(std::string const& bytes, std::size_t step)
    {
        ChunkedStream source{bytes, step};
        clap_istream_t stream{&source, [](clap_istream_t const* s, void* buffer, uint64_t size) {
                                  return int64_t(static_cast<ChunkedStream*>(s->ctx)->read(buffer, size));
                              }};
        return state_->load(plugin_, &stream);
    }

private:
    clap_plugin_t const* plugin_ = nullptr;
    clap_plugin_params_t const* params_ = nullptr;
    clap_plugin_state_t const* state_ = nullptr;
    bool active_ = false;
};

class ClapPlugin : public testing::Test {
protected:
    void SetUp() override
    {
        set_latency_setting(512); // a latency the host has no extension to be told about
        write_wav(ir_file_, make_impulse_response(7000, 21), plugin_test_rate);
        ASSERT_NE(clap_factory(), nullptr) << CORVELLA_CLAP_MODULE;
    }

    TempDir folder_{"corvella-clap-"};
    std::string ir_file_ = (folder_ / "Plate \xc3\xa4 #2.wav").string();
};

TEST_F(ClapPlugin, ListsTheParameters)
{
    ClapInstance instance(clap_factory());
    ASSERT_TRUE(instance.ready());
    std::vector<std::string> names;
    for (auto const& info : instance.parameters()) {
        if (info.flags & CLAP_PARAM_IS_READONLY) continue;
        names.emplace_back(info.name);
        EXPECT_TRUE(names.size() > 1 || (info.flags & CLAP_PARAM_IS_BYPASS)) << "the bypass flag";
    }
    // DPF's CLAP wrapper names the bypass "Bypass" itself; what matters is the flag.
    expect_parameter_names(names, "Bypass");
}

TEST_F(ClapPlugin, ProcessesLikeTheInProcessHostAndRoundTripsStateThroughShortStreams)
{
    ParameterValues const parameters{{"master_mix", 0.6f}, {"ir1_gain", 0.52f}};
    expect_audio_and_state_round_trip<ClapInstance>(
        clap_factory(), parameters, ir_file_, [&](ClapInstance& first) {
            ASSERT_TRUE(first.load(dpf_state_stream(ir_file_), 7));
            first.flush(parameters);
            first.activate();
        });
}

TEST_F(ClapPlugin, StateOfTheWrongSizeOrShapeChangesNothing)
{
    expect_bad_state_changes_nothing<ClapInstance>(clap_factory(), ir_file_);
}

// The host's tempo reaches the tempo-locked master delay: wet only, through a one-sample IR, a click
// comes back once, 3/16 of a bar at 100 BPM later (450 ms; 375 ms would be 120 BPM), plus the
// 512 samples of latency the fixture sets.
TEST_F(ClapPlugin, TheTransportTempoTimesTheTempoLockedEchoes)
{
    Stereo click = silence(100);
    click.left[0] = click.right[0] = 1.0f;
    std::string const click_ir = (folder_ / "click.wav").string();
    write_wav(click_ir, click, plugin_test_rate);
    ClapInstance instance(clap_factory());
    ASSERT_TRUE(instance.ready());
    ASSERT_TRUE(instance.load(dpf_state_stream(click_ir), 64));
    instance.flush({{"master_mix", 1.0f},
                    {"master_delay_dry", 0.0f},
                    {"master_delay_l_toggle", 1.0f},
                    {"master_delay_l_delay_mod", 0.0f},
                    {"master_delay_l_feedback", 0.0f},
                    {"master_delay_l_feedback_opposite", 0.0f}});
    instance.activate();
    instance.process(silence(4800), 100.0);
    // The engine looks at the host's tempo every 500 ms.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    Stereo input = silence(30000);
    input.left[0] = input.right[0] = 1.0f;
    Stereo const out = instance.process(input, 100.0);

    int const echo = static_cast<int>(plugin_test_rate) * 450 / 1000 + 512; // and the latency set up
    EXPECT_GT(std::fabs(out.left[echo]), 0.01f);
    float elsewhere = 0.0f;
    for (int n = 0; n < static_cast<int>(out.frames()); ++n)
        if (n != echo) elsewhere = std::max({elsewhere, std::fabs(out.left[n]), std::fabs(out.right[n])});
    EXPECT_LT(elsewhere, 1e-3f * std::fabs(out.left[echo]));
}

} // namespace
} // namespace corvella::test
