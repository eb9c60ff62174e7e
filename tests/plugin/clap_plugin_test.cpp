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
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace corvella::test {
namespace {

// Streams that move at most `step` bytes per call, as some hosts' file streams do.
struct ByteSink {
    std::string bytes;
    std::size_t step;
};
struct ByteSource {
    std::string const* bytes;
    std::size_t position = 0;
    std::size_t step;
};

int64_t write_some(clap_ostream_t const* stream, void const* buffer, uint64_t size)
{
    auto* sink = static_cast<ByteSink*>(stream->ctx);
    std::size_t const n = std::min<std::size_t>(size, sink->step);
    sink->bytes.append(static_cast<char const*>(buffer), n);
    return static_cast<int64_t>(n);
}

int64_t read_some(clap_istream_t const* stream, void* buffer, uint64_t size)
{
    auto* source = static_cast<ByteSource*>(stream->ctx);
    std::size_t const n =
        std::min({static_cast<std::size_t>(size), source->step, source->bytes->size() - source->position});
    std::memcpy(buffer, source->bytes->data() + source->position, n);
    source->position += n;
    return static_cast<int64_t>(n);
}

// A host that offers no extension at all: the plug-in must cope (no latency, no params, no
// thread check).
clap_host_t const bare_host{CLAP_VERSION,
                            nullptr,
                            "corvella-tests",
                            "Tarnwick",
                            "",
                            "0",
                            [](clap_host_t const*, char const*) -> void const* { return nullptr; },
                            [](clap_host_t const*) {},
                            [](clap_host_t const*) {},
                            [](clap_host_t const*) {}};

struct ParamEvents {
    std::vector<clap_event_param_value_t> events;
    clap_input_events_t list{this,
                             [](clap_input_events_t const* l) {
                                 return static_cast<uint32_t>(
                                     static_cast<ParamEvents*>(l->ctx)->events.size());
                             },
                             [](clap_input_events_t const* l, uint32_t i) -> clap_event_header_t const* {
                                 return &static_cast<ParamEvents*>(l->ctx)->events[i].header;
                             }};
};

clap_output_events_t const ignore_output{
    nullptr, [](clap_output_events_t const*, clap_event_header_t const*) { return true; }};

class ClapModule {
public:
    ClapModule()
    {
        // Kept loaded for the whole process, as hosts keep their modules: the module's
        // process-lifetime data then stays reachable for leak checks.
        handle_ = dlopen(CORVELLA_CLAP_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (handle_ == nullptr) return;
        entry_ = static_cast<clap_plugin_entry_t const*>(dlsym(handle_, "clap_entry"));
        if (entry_ == nullptr || !entry_->init(CORVELLA_CLAP_MODULE)) {
            entry_ = nullptr;
            return;
        }
        factory_ = static_cast<clap_plugin_factory_t const*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
    }
    ~ClapModule()
    {
        if (entry_ != nullptr) entry_->deinit();
        if (handle_ != nullptr) dlclose(handle_);
    }
    clap_plugin_factory_t const* factory() const { return factory_; }

private:
    void* handle_ = nullptr;
    clap_plugin_entry_t const* entry_ = nullptr;
    clap_plugin_factory_t const* factory_ = nullptr;
};

class ClapInstance {
public:
    explicit ClapInstance(clap_plugin_factory_t const* factory)
    {
        clap_plugin_descriptor_t const* descriptor = factory->get_plugin_descriptor(factory, 0);
        plugin_ = factory->create_plugin(factory, &bare_host, descriptor->id);
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

    clap_plugin_t const* plugin() const { return plugin_; }
    clap_plugin_params_t const* params() const { return params_; }

    clap_id param_id(std::string const& name_or_key) const
    {
        for (uint32_t i = 0; i < params_->count(plugin_); ++i) {
            clap_param_info_t info{};
            params_->get_info(plugin_, i, &info);
            if (name_or_key == info.name) return info.id;
        }
        return CLAP_INVALID_ID;
    }

    // Parameter changes while inactive go through flush(), as hosts do before activating.
    void flush(std::vector<std::pair<clap_id, double>> const& values)
    {
        ParamEvents events;
        for (auto const& [id, value] : values) {
            clap_event_param_value_t e{};
            e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            e.param_id = id;
            e.note_id = -1;
            e.port_index = -1;
            e.channel = -1;
            e.key = -1;
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

    Stereo process(Stereo const& input)
    {
        Stereo out{std::vector<float>(input.frames()), std::vector<float>(input.frames())};
        ParamEvents none;
        for (std::size_t done = 0; done < input.frames(); done += plugin_test_block) {
            auto const n =
                static_cast<uint32_t>(std::min<std::size_t>(plugin_test_block, input.frames() - done));
            float* in[2] = {const_cast<float*>(input.left.data() + done),
                            const_cast<float*>(input.right.data() + done)};
            float* o[2] = {out.left.data() + done, out.right.data() + done};
            clap_audio_buffer_t in_buffer{in, nullptr, 2, 0, 0};
            clap_audio_buffer_t out_buffer{o, nullptr, 2, 0, 0};
            clap_process_t process{};
            process.steady_time = static_cast<int64_t>(done);
            process.frames_count = n;
            process.audio_inputs = &in_buffer;
            process.audio_outputs = &out_buffer;
            process.audio_inputs_count = 1;
            process.audio_outputs_count = 1;
            process.in_events = &none.list;
            process.out_events = &ignore_output;
            EXPECT_EQ(plugin_->process(plugin_, &process), CLAP_PROCESS_CONTINUE);
        }
        return out;
    }

    bool save(std::string& bytes, std::size_t step)
    {
        ByteSink sink{{}, step};
        clap_ostream_t stream{&sink, write_some};
        bool const ok = state_->save(plugin_, &stream);
        bytes = sink.bytes;
        return ok;
    }

    bool load(std::string const& bytes, std::size_t step)
    {
        ByteSource source{&bytes, 0, step};
        clap_istream_t stream{&source, read_some};
        return state_->load(plugin_, &stream);
    }

private:
    clap_plugin_t const* plugin_ = nullptr;
    clap_plugin_params_t const* params_ = nullptr;
    clap_plugin_state_t const* state_ = nullptr;
    bool active_ = false;
};

// DPF's state stream: key/value strings separated by NUL, ended by 0xFE.
std::string state_with_ir_file(std::string const& path)
{
    std::string s;
    for (char const* part : {"__dpf_state_begin__", "ir1_file_a"})
        s.append(part).push_back('\0');
    s.append(path).push_back('\0');
    s.append("__dpf_state_end__").push_back('\0');
    s.push_back('\xfe');
    s.push_back('\0');
    return s;
}

class ClapPlugin : public testing::Test {
protected:
    void SetUp() override
    {
        // A latency the host has no extension to be told about.
        set_latency_setting(512);
        write_wav(ir_file_, make_impulse_response(7000, 21), plugin_test_rate);
        ASSERT_NE(module_.factory(), nullptr) << CORVELLA_CLAP_MODULE;
    }

    TempDir folder_{"corvella-clap-"};
    std::string ir_file_ = (folder_ / "Plate \xc3\xa4 #2.wav").string();
    ClapModule module_;
};

TEST_F(ClapPlugin, ListsTheParameters)
{
    ClapInstance instance(module_.factory());
    ASSERT_NE(instance.plugin(), nullptr);
    uint32_t const count = instance.params()->count(instance.plugin());
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
        clap_param_info_t info{};
        ASSERT_TRUE(instance.params()->get_info(instance.plugin(), i, &info));
        if ((info.flags & CLAP_PARAM_IS_READONLY) == 0) names.emplace_back(info.name);
        // DPF's CLAP wrapper names the bypass "Bypass" itself; what matters is the flag.
        if (names.size() == 1) {
            EXPECT_NE(info.flags & CLAP_PARAM_IS_BYPASS, 0u);
        }
    }
    ASSERT_EQ(names.size(), 367u);
    EXPECT_EQ(names[0], "Bypass");
    for (int i = 0; i < keyed_parameter_count; ++i)
        EXPECT_EQ(names[static_cast<std::size_t>(i) + 1], parameter_at(i)->name);
}

TEST_F(ClapPlugin, ProcessesLikeTheInProcessHostAndRoundTripsStateThroughShortStreams)
{
    ParameterValues const parameters{{"master_mix", 0.6f}, {"ir1_gain", 0.52f}};
    Stereo const input = make_input(12000, 31);
    Stereo const expected = reference_render(input, ir_file_, parameters, plugin_test_block, false);
    ASSERT_GT(peak(expected), 0.01f);

    std::string saved;
    Stereo first_out;
    {
        ClapInstance first(module_.factory());
        ASSERT_NE(first.plugin(), nullptr);
        ASSERT_TRUE(first.load(state_with_ir_file(ir_file_), 7));
        std::vector<std::pair<clap_id, double>> values;
        for (auto const& [key, value] : parameters)
            values.emplace_back(first.param_id(parameter_at(find_parameter(key)->index)->name), value);
        first.flush(values);
        first.activate();
        first_out = first.process(input);
        EXPECT_LE(max_difference(first_out, expected), 1e-5f * peak(expected));
        ASSERT_TRUE(first.save(saved, 7));
    }
    ASSERT_EQ(saved.back(), '\0');
    EXPECT_NE(saved.find(ir_file_), std::string::npos);

    ClapInstance second(module_.factory());
    ASSERT_NE(second.plugin(), nullptr);
    ASSERT_TRUE(second.load(saved, 7));
    std::string again;
    ASSERT_TRUE(second.save(again, 1 << 20));
    EXPECT_EQ(again, saved);
    second.activate();
    EXPECT_LE(max_difference(second.process(input), first_out), 1e-5f * peak(expected));
}

} // namespace
} // namespace corvella::test
