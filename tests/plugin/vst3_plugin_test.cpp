// The VST3 module in the build tree, loaded by a minimal host of our own on DPF's C interface
// headers: class info, parameter listing through the controller, audio against the in-process
// host, and state through streams that read and write a few bytes at a time.

#include "plugin_test_support.h"

#include "program/parameter_table.h"
#include "support/temp_dir.h"

#include <travesty/audio_processor.h>
#include <travesty/bstream.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/factory.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace corvella::test {
namespace {

v3_result V3_API no_interface(void*, v3_tuid const, void** obj)
{
    *obj = nullptr;
    return V3_NO_INTERFACE;
}
uint32_t V3_API one_reference(void*)
{
    return 1;
}

struct StreamVtable {
    v3_funknown unknown;
    v3_bstream stream;
};

// A byte stream that moves at most `step` bytes per read or write.
struct Vst3Stream {
    StreamVtable const* vtable;
    std::string bytes;
    std::size_t position = 0;
    std::size_t step;

    static Vst3Stream* of(void* self) { return static_cast<Vst3Stream*>(self); }
    static v3_result V3_API read(void* self, void* buffer, int32_t size, int32_t* done)
    {
        Vst3Stream* s = of(self);
        std::size_t const n =
            std::min({static_cast<std::size_t>(size), s->step, s->bytes.size() - s->position});
        std::memcpy(buffer, s->bytes.data() + s->position, n);
        s->position += n;
        if (done != nullptr) *done = static_cast<int32_t>(n);
        return V3_OK;
    }
    static v3_result V3_API write(void* self, void* buffer, int32_t size, int32_t* done)
    {
        Vst3Stream* s = of(self);
        std::size_t const n = std::min(static_cast<std::size_t>(size), s->step);
        s->bytes.append(static_cast<char const*>(buffer), n);
        if (done != nullptr) *done = static_cast<int32_t>(n);
        return V3_OK;
    }
    static v3_result V3_API seek(void*, int64_t, int32_t, int64_t*) { return V3_NOT_IMPLEMENTED; }
    static v3_result V3_API tell(void* self, int64_t* pos)
    {
        *pos = static_cast<int64_t>(of(self)->position);
        return V3_OK;
    }
};

StreamVtable const stream_vtable{{no_interface, one_reference, one_reference},
                                 {Vst3Stream::read, Vst3Stream::write, Vst3Stream::seek, Vst3Stream::tell}};

// Parameter changes with nothing in them, for both directions of process().
struct EmptyChanges {
    v3_param_changes_cpp const* vtable;
    static int32_t V3_API count(void*) { return 0; }
    static v3_param_value_queue** V3_API get(void*, int32_t) { return nullptr; }
    static v3_param_value_queue** V3_API add(void*, v3_param_id*, int32_t* index)
    {
        if (index != nullptr) *index = 0;
        return nullptr;
    }
};
v3_param_changes_cpp const changes_vtable{{no_interface, one_reference, one_reference},
                                          {EmptyChanges::count, EmptyChanges::get, EmptyChanges::add}};

std::string utf8(v3_str_128 const text)
{
    std::string s;
    for (int i = 0; i < 128 && text[i] != 0; ++i)
        s += static_cast<char>(text[i]); // our names are ASCII
    return s;
}

class Vst3Module {
public:
    Vst3Module()
    {
        // Kept loaded for the whole process, as hosts keep their modules: the module's
        // process-lifetime data then stays reachable for leak checks.
        handle_ = dlopen(CORVELLA_VST3_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (handle_ == nullptr) return;
        auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(handle_, "ModuleEntry"));
        auto get_factory = reinterpret_cast<v3_plugin_factory** (*)()>(dlsym(handle_, "GetPluginFactory"));
        if (entry == nullptr || get_factory == nullptr || !entry(handle_)) return;
        entered_ = true;
        factory_ = get_factory();
    }
    ~Vst3Module()
    {
        if (factory_ != nullptr) v3_cpp_obj_unref(factory_);
        if (entered_) reinterpret_cast<bool (*)()>(dlsym(handle_, "ModuleExit"))();
        if (handle_ != nullptr) dlclose(handle_);
    }
    v3_plugin_factory** factory() const { return factory_; }

private:
    void* handle_ = nullptr;
    bool entered_ = false;
    v3_plugin_factory** factory_ = nullptr;
};

class Vst3Instance {
public:
    explicit Vst3Instance(v3_plugin_factory** factory)
    {
        v3_class_info info{};
        if (v3_cpp_obj(factory)->get_class_info(factory, 0, &info) != V3_OK) return;
        void* object = nullptr;
        if (v3_cpp_obj(factory)->create_instance(factory, info.class_id, v3_component_iid, &object) != V3_OK)
            return;
        component_ = static_cast<v3_component**>(object);
        if (v3_cpp_obj_initialize(component_, nullptr) != V3_OK) return;
        v3_cpp_obj_query_interface(component_, v3_audio_processor_iid, &processor_);
        v3_cpp_obj_query_interface(component_, v3_edit_controller_iid, &controller_);
    }
    ~Vst3Instance()
    {
        if (active_) {
            v3_cpp_obj(processor_)->set_processing(processor_, false);
            v3_cpp_obj(component_)->set_active(component_, false);
        }
        if (controller_ != nullptr) v3_cpp_obj_unref(controller_);
        if (processor_ != nullptr) v3_cpp_obj_unref(processor_);
        if (component_ != nullptr) {
            v3_cpp_obj_terminate(component_);
            v3_cpp_obj_unref(component_);
        }
    }

    bool ready() const { return processor_ != nullptr && controller_ != nullptr; }
    v3_edit_controller** controller() const { return controller_; }

    void activate()
    {
        v3_process_setup setup{V3_OFFLINE, V3_SAMPLE_32, static_cast<int32_t>(plugin_test_block),
                               plugin_test_rate};
        ASSERT_EQ(v3_cpp_obj(processor_)->setup_processing(processor_, &setup), V3_OK);
        v3_cpp_obj(component_)->activate_bus(component_, V3_AUDIO, V3_INPUT, 0, true);
        v3_cpp_obj(component_)->activate_bus(component_, V3_AUDIO, V3_OUTPUT, 0, true);
        ASSERT_EQ(v3_cpp_obj(component_)->set_active(component_, true), V3_OK);
        ASSERT_EQ(v3_cpp_obj(processor_)->set_processing(processor_, true), V3_OK);
        active_ = true;
    }

    uint32_t latency() const { return v3_cpp_obj(processor_)->get_latency_samples(processor_); }

    Stereo process(Stereo const& input)
    {
        Stereo out{std::vector<float>(input.frames()), std::vector<float>(input.frames())};
        EmptyChanges in_changes{&changes_vtable}, out_changes{&changes_vtable};
        for (std::size_t done = 0; done < input.frames(); done += plugin_test_block) {
            auto const n =
                static_cast<int32_t>(std::min<std::size_t>(plugin_test_block, input.frames() - done));
            float* in[2] = {const_cast<float*>(input.left.data() + done),
                            const_cast<float*>(input.right.data() + done)};
            float* o[2] = {out.left.data() + done, out.right.data() + done};
            v3_audio_bus_buffers in_bus{};
            in_bus.num_channels = 2;
            in_bus.channel_buffers_32 = in;
            v3_audio_bus_buffers out_bus{};
            out_bus.num_channels = 2;
            out_bus.channel_buffers_32 = o;
            v3_process_data data{V3_OFFLINE,
                                 V3_SAMPLE_32,
                                 n,
                                 1,
                                 1,
                                 &in_bus,
                                 &out_bus,
                                 reinterpret_cast<v3_param_changes**>(&in_changes),
                                 reinterpret_cast<v3_param_changes**>(&out_changes),
                                 nullptr,
                                 nullptr,
                                 nullptr};
            EXPECT_EQ(v3_cpp_obj(processor_)->process(processor_, &data), V3_OK);
        }
        return out;
    }

    bool save(std::string& bytes, std::size_t step)
    {
        // An interface pointer points at the object, whose first member points at the functions.
        Vst3Stream stream{&stream_vtable, {}, 0, step};
        v3_result const rc =
            v3_cpp_obj(component_)->get_state(component_, reinterpret_cast<v3_bstream**>(&stream));
        bytes = stream.bytes;
        return rc == V3_OK;
    }

    bool load(std::string const& bytes, std::size_t step)
    {
        Vst3Stream stream{&stream_vtable, bytes, 0, step};
        return v3_cpp_obj(component_)->set_state(component_, reinterpret_cast<v3_bstream**>(&stream)) ==
               V3_OK;
    }

private:
    v3_component** component_ = nullptr;
    v3_audio_processor** processor_ = nullptr;
    v3_edit_controller** controller_ = nullptr;
    bool active_ = false;
};

// DPF's state stream: NUL-separated strings, the states, then parameters by symbol, ended by 0xFE.
std::string state_stream(std::string const& ir_file, ParameterValues const& parameters)
{
    std::vector<std::string> parts{"__dpf_state_begin__", "ir1_file_a", ir_file, "__dpf_state_end__",
                                   "__dpf_parameters_begin__"};
    for (auto const& [key, value] : parameters) {
        parts.push_back(key);
        parts.push_back(std::to_string(value));
    }
    parts.emplace_back("__dpf_parameters_end__");
    std::string s;
    for (auto const& part : parts)
        s.append(part).push_back('\0');
    s.push_back('\xfe');
    s.push_back('\0');
    return s;
}

class Vst3Plugin : public testing::Test {
protected:
    void SetUp() override
    {
        set_latency_setting(256);
        write_wav(ir_file_, make_impulse_response(6000, 41), plugin_test_rate);
        ASSERT_NE(module_.factory(), nullptr) << CORVELLA_VST3_MODULE;
    }

    TempDir folder_{"corvella-vst3-"};
    std::string ir_file_ = (folder_ / "Room 3.wav").string();
    Vst3Module module_;
};

TEST_F(Vst3Plugin, DescribesItselfAndListsTheParameters)
{
    v3_plugin_factory** factory = module_.factory();
    v3_class_info info{};
    ASSERT_EQ(v3_cpp_obj(factory)->get_class_info(factory, 0, &info), V3_OK);
    EXPECT_STREQ(info.name, "Corvella");

    Vst3Instance instance(factory);
    ASSERT_TRUE(instance.ready());
    v3_edit_controller** controller = instance.controller();
    int32_t const count = v3_cpp_obj(controller)->get_parameter_count(controller);
    std::vector<std::string> names;
    for (int32_t i = 0; i < count; ++i) {
        v3_param_info param{};
        ASSERT_EQ(v3_cpp_obj(controller)->get_parameter_info(controller, i, &param), V3_OK);
        if (param.flags & (V3_PARAM_READ_ONLY | V3_PARAM_IS_HIDDEN))
            continue; // DPF's own read-only entries (latency)
        names.push_back(utf8(param.title));
        if (names.size() == 1) {
            EXPECT_NE(param.flags & V3_PARAM_IS_BYPASS, 0);
        }
    }
    ASSERT_EQ(names.size(), 367u);
    EXPECT_EQ(names[0], "Master Bypass");
    for (int i = 0; i < keyed_parameter_count; ++i)
        EXPECT_EQ(names[static_cast<std::size_t>(i) + 1], parameter_at(i)->name);
}

TEST_F(Vst3Plugin, ProcessesLikeTheInProcessHostAndRoundTripsStateThroughShortStreams)
{
    ParameterValues const parameters{{"master_mix", 0.65f}, {"ir1_gain", 0.5f}, {"ir1_width", 0.25f}};
    Stereo const input = make_input(10000, 51);
    Stereo const expected = reference_render(input, ir_file_, parameters, plugin_test_block, false);
    ASSERT_GT(peak(expected), 0.01f);

    std::string saved;
    Stereo first_out;
    {
        Vst3Instance first(module_.factory());
        ASSERT_TRUE(first.ready());
        ASSERT_TRUE(first.load(state_stream(ir_file_, parameters), 7));
        first.activate();
        EXPECT_EQ(first.latency(), 256u);
        first_out = first.process(input);
        EXPECT_LE(max_difference(first_out, expected), 1e-5f * peak(expected));
        ASSERT_TRUE(first.save(saved, 5));
    }
    EXPECT_NE(saved.find(ir_file_), std::string::npos);

    Vst3Instance second(module_.factory());
    ASSERT_TRUE(second.ready());
    ASSERT_TRUE(second.load(saved, 3));
    std::string again;
    ASSERT_TRUE(second.save(again, 1 << 20));
    EXPECT_EQ(again, saved);
    second.activate();
    EXPECT_LE(max_difference(second.process(input), first_out), 1e-5f * peak(expected));
}

} // namespace
} // namespace corvella::test
