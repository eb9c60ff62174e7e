// The VST3 module in the build tree, loaded by a minimal host of our own on DPF's C interface
// headers: class info, parameter listing through the controller, audio against the in-process
// host, and state through streams that read and write a few bytes at a time.

#include "plugin_test_support.h"

#include "support/temp_dir.h"

#include <travesty/audio_processor.h>
#include <travesty/bstream.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/factory.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

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

// An interface pointer points at the object, whose first member points at the functions.
struct Vst3Stream {
    struct Vtable {
        v3_funknown unknown;
        v3_bstream stream;
    };
    Vtable const* vtable;
    ChunkedStream chunks;

    static v3_result V3_API read(void* self, void* buffer, int32_t size, int32_t* done)
    {
        auto const n =
            static_cast<int32_t>(static_cast<Vst3Stream*>(self)->chunks.read(buffer, uint64_t(size)));
        if (done != nullptr) *done = n;
        return V3_OK;
    }
    static v3_result V3_API write(void* self, void* buffer, int32_t size, int32_t* done)
    {
        auto const n =
            static_cast<int32_t>(static_cast<Vst3Stream*>(self)->chunks.write(buffer, uint64_t(size)));
        if (done != nullptr) *done = n;
        return V3_OK;
    }
    static v3_result V3_API seek(void*, int64_t, int32_t, int64_t*) { return V3_NOT_IMPLEMENTED; }
    static v3_result V3_API tell(void* self, int64_t* pos)
    {
        *pos = static_cast<int64_t>(static_cast<Vst3Stream*>(self)->chunks.position);
        return V3_OK;
    }
    v3_bstream** as_stream() { return reinterpret_cast<v3_bstream**>(this); }
};

Vst3Stream::Vtable const stream_vtable{
    {no_interface, one_reference, one_reference},
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

// Kept loaded for the whole process, as hosts keep their modules: the module's process-lifetime
// data then stays reachable for leak checks.
v3_plugin_factory** vst3_factory()
{
    static v3_plugin_factory** factory = []() -> v3_plugin_factory** {
        void* handle = dlopen(CORVELLA_VST3_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (handle == nullptr) return nullptr;
        auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(handle, "ModuleEntry"));
        auto get_factory = reinterpret_cast<v3_plugin_factory** (*)()>(dlsym(handle, "GetPluginFactory"));
        return entry != nullptr && get_factory != nullptr && entry(handle) ? get_factory() : nullptr;
    }();
    return factory;
}

class Vst3Instance {
public:
    explicit Vst3Instance(v3_plugin_factory** factory)
    {
        v3_class_info info{};
        void* object = nullptr;
        if (v3_cpp_obj(factory)->get_class_info(factory, 0, &info) != V3_OK ||
            v3_cpp_obj(factory)->create_instance(factory, info.class_id, v3_component_iid, &object) != V3_OK)
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
    uint32_t latency() const { return v3_cpp_obj(processor_)->get_latency_samples(processor_); }

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

    Stereo process(Stereo const& input)
    {
        EmptyChanges in_changes{&changes_vtable}, out_changes{&changes_vtable};
        return process_in_blocks(input, plugin_test_block, [&](float const** in, float** out, uint32_t n) {
            v3_audio_bus_buffers in_bus{}, out_bus{};
            in_bus.num_channels = out_bus.num_channels = 2;
            in_bus.channel_buffers_32 = const_cast<float**>(in);
            out_bus.channel_buffers_32 = out;
            v3_process_data data{};
            data.process_mode = V3_OFFLINE;
            data.symbolic_sample_size = V3_SAMPLE_32;
            data.nframes = static_cast<int32_t>(n);
            data.num_input_buses = data.num_output_buses = 1;
            data.inputs = &in_bus;
            data.outputs = &out_bus;
            data.input_params = reinterpret_cast<v3_param_changes**>(&in_changes);
            data.output_params = reinterpret_cast<v3_param_changes**>(&out_changes);
            EXPECT_EQ(v3_cpp_obj(processor_)->process(processor_, &data), V3_OK);
        });
    }

    bool save(std::string& bytes, std::size_t step)
    {
        Vst3Stream stream{&stream_vtable, {{}, step}};
        v3_result const rc = v3_cpp_obj(component_)->get_state(component_, stream.as_stream());
        bytes = stream.chunks.bytes;
        return rc == V3_OK;
    }

    bool load(std::string const& bytes, std::size_t step)
    {
        Vst3Stream stream{&stream_vtable, {bytes, step}};
        return v3_cpp_obj(component_)->set_state(component_, stream.as_stream()) == V3_OK;
    }

private:
    v3_component** component_ = nullptr;
    v3_audio_processor** processor_ = nullptr;
    v3_edit_controller** controller_ = nullptr;
    bool active_ = false;
};

class Vst3Plugin : public testing::Test {
protected:
    void SetUp() override
    {
        set_latency_setting(256);
        write_wav(ir_file_, make_impulse_response(6000, 41), plugin_test_rate);
        ASSERT_NE(vst3_factory(), nullptr) << CORVELLA_VST3_MODULE;
    }

    TempDir folder_{"corvella-vst3-"};
    std::string ir_file_ = (folder_ / "Room 3.wav").string();
};

TEST_F(Vst3Plugin, DescribesItselfAndListsTheParameters)
{
    v3_plugin_factory** factory = vst3_factory();
    v3_class_info info{};
    ASSERT_EQ(v3_cpp_obj(factory)->get_class_info(factory, 0, &info), V3_OK);
    EXPECT_STREQ(info.name, "Corvella");

    Vst3Instance instance(factory);
    ASSERT_TRUE(instance.ready());
    v3_edit_controller** controller = instance.controller();
    std::vector<std::string> names;
    for (int32_t i = 0; i < v3_cpp_obj(controller)->get_parameter_count(controller); ++i) {
        v3_param_info param{};
        ASSERT_EQ(v3_cpp_obj(controller)->get_parameter_info(controller, i, &param), V3_OK);
        if (param.flags & (V3_PARAM_READ_ONLY | V3_PARAM_IS_HIDDEN)) continue; // DPF's own (latency)
        names.emplace_back();
        for (int c = 0; c < 128 && param.title[c] != 0; ++c)
            names.back() += static_cast<char>(param.title[c]); // our names are ASCII
        EXPECT_TRUE(names.size() > 1 || (param.flags & V3_PARAM_IS_BYPASS)) << "the bypass flag";
    }
    expect_parameter_names(names, "Master Bypass");
}

TEST_F(Vst3Plugin, ProcessesLikeTheInProcessHostAndRoundTripsStateThroughShortStreams)
{
    ParameterValues const parameters{{"master_mix", 0.65f}, {"ir1_gain", 0.5f}, {"ir1_width", 0.25f}};
    expect_audio_and_state_round_trip<Vst3Instance>(
        vst3_factory(), parameters, ir_file_, [&](Vst3Instance& first) {
            ASSERT_TRUE(first.load(dpf_state_stream(ir_file_, parameters), 7));
            first.activate();
            EXPECT_EQ(first.latency(), 256u);
        });
}

TEST_F(Vst3Plugin, StateOfTheWrongSizeOrShapeChangesNothing)
{
    expect_bad_state_changes_nothing<Vst3Instance>(vst3_factory(), ir_file_);
}

} // namespace
} // namespace corvella::test
