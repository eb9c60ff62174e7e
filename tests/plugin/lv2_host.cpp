#include "lv2_host.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/patch/patch.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

namespace corvella::test {
namespace {

// lilv's world (everything in LV2_PATH, loaded once per process) and the URID map.
class World {
public:
    static World& get()
    {
        static World world;
        return world;
    }

    std::uint32_t urid(char const* uri)
    {
        std::lock_guard lock(mutex_);
        auto [it, added] = ids_.try_emplace(uri, static_cast<std::uint32_t>(uris_.size() + 1));
        if (added) uris_.emplace_back(uri);
        return it->second;
    }
    char const* uri(std::uint32_t id)
    {
        std::lock_guard lock(mutex_);
        return id >= 1 && id <= uris_.size() ? uris_[id - 1].c_str() : nullptr;
    }

    LilvWorld* const lilv = lilv_world_new();
    LV2_URID_Map map{this,
                     [](LV2_URID_Map_Handle h, char const* u) { return static_cast<World*>(h)->urid(u); }};
    LV2_URID_Unmap unmap{
        this, [](LV2_URID_Unmap_Handle h, LV2_URID id) { return static_cast<World*>(h)->uri(id); }};

private:
    World() { lilv_world_load_all(lilv); }
    ~World() { lilv_world_free(lilv); }
    std::mutex mutex_;
    std::unordered_map<std::string, std::uint32_t> ids_;
    std::deque<std::string> uris_; // stable addresses for unmap
};

using Node = std::unique_ptr<LilvNode, void (*)(LilvNode*)>;

Node uri_node(char const* uri)
{
    return {lilv_new_uri(World::get().lilv, uri), lilv_node_free};
}

using Queue = std::deque<std::vector<std::uint8_t>>;

LV2_Worker_Status enqueue(void* queue, std::uint32_t size, void const* data)
{
    auto const* bytes = static_cast<std::uint8_t const*>(data);
    static_cast<Queue*>(queue)->emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

constexpr std::uint32_t pod_portable = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;

} // namespace

// Everything the features point at, alive as long as the instance, and the worker's queues.
struct Lv2Instance::Host {
    std::int32_t block_min = 1, block_max = 0;
    float rate = 0.0f;
    LV2_Options_Option options[5]{};
    Queue requests, responses;
    LV2_Worker_Schedule schedule{&requests, enqueue};
    LV2_Feature map{LV2_URID__map, &World::get().map}, unmap{LV2_URID__unmap, &World::get().unmap};
    LV2_Feature options_feature{LV2_OPTIONS__options, options}, worker{LV2_WORKER__schedule, &schedule};
    LV2_Feature bounded{LV2_BUF_SIZE__boundedBlockLength, nullptr};
    LV2_Feature const* features[6]{&map, &unmap, &options_feature, &worker, &bounded, nullptr};
    LV2_Worker_Interface const* worker_interface = nullptr;
    int events_in = -1, events_out = -1;
    std::vector<std::uint64_t> events_in_buffer = std::vector<std::uint64_t>(8192);
    std::vector<std::uint64_t> events_out_buffer = std::vector<std::uint64_t>(8192);
};

Lv2Instance::Lv2Instance(std::string const& uri, double sample_rate, std::uint32_t max_block)
    : max_block_(max_block), host_(std::make_unique<Host>())
{
    World& world = World::get();
    plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world.lilv), uri_node(uri.c_str()).get());
    if (plugin_ == nullptr) return;

    Host& h = *host_;
    h.block_max = static_cast<std::int32_t>(max_block);
    h.rate = static_cast<float>(sample_rate);
    auto option = [&](char const* key, char const* type, std::uint32_t size, void const* value) {
        return LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, world.urid(key), size, world.urid(type), value};
    };
    h.options[0] = option(LV2_BUF_SIZE__minBlockLength, LV2_ATOM__Int, sizeof(std::int32_t), &h.block_min);
    h.options[1] = option(LV2_BUF_SIZE__maxBlockLength, LV2_ATOM__Int, sizeof(std::int32_t), &h.block_max);
    h.options[2] =
        option(LV2_BUF_SIZE__nominalBlockLength, LV2_ATOM__Int, sizeof(std::int32_t), &h.block_max);
    h.options[3] = option(LV2_PARAMETERS__sampleRate, LV2_ATOM__Float, sizeof(float), &h.rate);

    instance_ = lilv_plugin_instantiate(plugin_, sample_rate, h.features);
    if (instance_ == nullptr) return;
    // The shared object stays loaded for the whole process, as hosts keep their modules: its
    // process-lifetime data then stays reachable for leak checks.
    if (char* path = lilv_node_get_path(lilv_plugin_get_library_uri(plugin_), nullptr)) {
        dlopen(path, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        lilv_free(path);
    }
    h.worker_interface = static_cast<LV2_Worker_Interface const*>(
        lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));

    Node const audio = uri_node(LV2_CORE__AudioPort), control = uri_node(LV2_CORE__ControlPort),
               atom = uri_node(LV2_ATOM__AtomPort), input = uri_node(LV2_CORE__InputPort);
    std::uint32_t const count = lilv_plugin_get_num_ports(plugin_);
    controls_.assign(count, NAN);
    lilv_plugin_get_port_ranges_float(plugin_, nullptr, nullptr, controls_.data());
    for (std::uint32_t i = 0; i < count; ++i) {
        LilvPort const* port = lilv_plugin_get_port_by_index(plugin_, i);
        bool const is_input = lilv_port_is_a(plugin_, port, input.get());
        void* buffer = nullptr;
        if (lilv_port_is_a(plugin_, port, audio.get())) {
            (is_input ? audio_in_ : audio_out_).push_back(i);
            continue;
        } else if (lilv_port_is_a(plugin_, port, control.get())) {
            if (std::isnan(controls_[i])) controls_[i] = 0.0f;
            buffer = &controls_[i];
        } else if (lilv_port_is_a(plugin_, port, atom.get())) {
            (is_input ? h.events_in : h.events_out) = static_cast<int>(i);
            buffer = (is_input ? h.events_in_buffer : h.events_out_buffer).data();
        }
        lilv_instance_connect_port(instance_, i, buffer);
    }
}

Lv2Instance::~Lv2Instance()
{
    if (instance_ != nullptr) lilv_instance_free(instance_);
}

float& Lv2Instance::control_slot(std::string const& symbol) const
{
    LilvNode* node = lilv_new_string(World::get().lilv, symbol.c_str());
    LilvPort const* port = lilv_plugin_get_port_by_symbol(plugin_, node);
    lilv_node_free(node);
    if (port == nullptr) throw std::invalid_argument("no port " + symbol);
    return controls_[lilv_port_get_index(plugin_, port)];
}

void Lv2Instance::set_control(std::string const& symbol, float value)
{
    control_slot(symbol) = value;
}

float Lv2Instance::control(std::string const& symbol) const
{
    return control_slot(symbol);
}

std::vector<std::string> Lv2Instance::input_control_symbols() const
{
    std::vector<std::string> symbols;
    Node const control = uri_node(LV2_CORE__ControlPort), input = uri_node(LV2_CORE__InputPort);
    for (std::uint32_t i = 0; i < lilv_plugin_get_num_ports(plugin_); ++i) {
        LilvPort const* port = lilv_plugin_get_port_by_index(plugin_, i);
        if (lilv_port_is_a(plugin_, port, control.get()) && lilv_port_is_a(plugin_, port, input.get()))
            symbols.emplace_back(lilv_node_as_string(lilv_port_get_symbol(plugin_, port)));
    }
    return symbols;
}

void Lv2Instance::set_path(std::string const& property_uri, std::string const& path)
{
    pending_paths_.emplace_back(property_uri, path);
}

void Lv2Instance::activate()
{
    lilv_instance_activate(instance_);
}

void Lv2Instance::run_unconnected(std::uint32_t frames)
{
    for (std::uint32_t port : audio_in_) lilv_instance_connect_port(instance_, port, nullptr);
    for (std::uint32_t port : audio_out_) lilv_instance_connect_port(instance_, port, nullptr);
    lilv_instance_run(instance_, frames);
}

void Lv2Instance::run(float const* const in[2], float* const out[2], std::uint32_t frames)
{
    if (frames > max_block_) throw std::invalid_argument("block longer than the announced maximum");
    World& world = World::get();
    Host& h = *host_;
    for (std::size_t c = 0; c < 2; ++c) {
        if (c < audio_in_.size())
            lilv_instance_connect_port(instance_, audio_in_[c], const_cast<float*>(in[c]));
        if (c < audio_out_.size()) lilv_instance_connect_port(instance_, audio_out_[c], out[c]);
    }
    if (h.events_in >= 0) {
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, &world.map);
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<std::uint8_t*>(h.events_in_buffer.data()),
                                  h.events_in_buffer.size() * 8);
        LV2_Atom_Forge_Frame sequence, object;
        lv2_atom_forge_sequence_head(&forge, &sequence, 0);
        for (auto const& [property, path] : pending_paths_) {
            lv2_atom_forge_frame_time(&forge, 0);
            lv2_atom_forge_object(&forge, &object, 0, world.urid(LV2_PATCH__Set));
            lv2_atom_forge_key(&forge, world.urid(LV2_PATCH__property));
            lv2_atom_forge_urid(&forge, world.urid(property.c_str()));
            lv2_atom_forge_key(&forge, world.urid(LV2_PATCH__value));
            lv2_atom_forge_path(&forge, path.c_str(), static_cast<std::uint32_t>(path.size() + 1));
            lv2_atom_forge_pop(&forge, &object);
        }
        lv2_atom_forge_pop(&forge, &sequence);
        pending_paths_.clear();
    }
    if (h.events_out >= 0) {
        auto* sequence = reinterpret_cast<LV2_Atom*>(h.events_out_buffer.data());
        sequence->type = world.urid(LV2_ATOM__Chunk);
        sequence->size = static_cast<std::uint32_t>(h.events_out_buffer.size() * 8 - sizeof(LV2_Atom));
    }
    lilv_instance_run(instance_, frames);

    if (h.worker_interface == nullptr) return;
    LV2_Handle handle = lilv_instance_get_handle(instance_);
    for (; !h.requests.empty(); h.requests.pop_front())
        h.worker_interface->work(handle, enqueue, &h.responses,
                                 static_cast<std::uint32_t>(h.requests.front().size()),
                                 h.requests.front().data());
    for (; !h.responses.empty(); h.responses.pop_front())
        h.worker_interface->work_response(handle, static_cast<std::uint32_t>(h.responses.front().size()),
                                          h.responses.front().data());
    if (h.worker_interface->end_run != nullptr) h.worker_interface->end_run(handle);
}

namespace {

void const* get_port_value(char const* symbol, void* self, std::uint32_t* size, std::uint32_t* type)
{
    static thread_local float value;
    value = static_cast<Lv2Instance*>(self)->control(symbol);
    *size = sizeof(float);
    *type = World::get().urid(LV2_ATOM__Float);
    return &value;
}

void set_port_value(char const* symbol, void* self, void const* value, std::uint32_t size, std::uint32_t type)
{
    if (size == sizeof(float) && type == World::get().urid(LV2_ATOM__Float))
        static_cast<Lv2Instance*>(self)->set_control(symbol, *static_cast<float const*>(value));
}

LV2_State_Status store_value(LV2_State_Handle values, std::uint32_t key, void const* value, std::size_t size,
                             std::uint32_t type, std::uint32_t)
{
    std::string text(static_cast<char const*>(value), size);
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    (*static_cast<Lv2StateValues*>(values))[World::get().uri(key)] = {World::get().uri(type), text};
    return LV2_STATE_SUCCESS;
}

void const* retrieve_value(LV2_State_Handle values, std::uint32_t key, std::size_t* size, std::uint32_t* type,
                           std::uint32_t* flags)
{
    auto* map = static_cast<Lv2StateValues*>(values);
    auto const it = map->find(World::get().uri(key));
    if (it == map->end()) return nullptr;
    *size = it->second.value.size() + 1;
    *type = World::get().urid(it->second.type.c_str());
    *flags = pod_portable;
    return it->second.value.c_str();
}

LV2_State_Interface const* state_interface(LilvInstance* instance)
{
    return static_cast<LV2_State_Interface const*>(
        lilv_instance_get_extension_data(instance, LV2_STATE__interface));
}

} // namespace

bool Lv2Instance::save_state_file(std::filesystem::path const& folder)
{
    World& world = World::get();
    std::string const dir = folder.string() + "/";
    LilvState* state = lilv_state_new_from_instance(plugin_, instance_, &world.map, nullptr, nullptr, nullptr,
                                                    dir.c_str(), get_port_value, this, pod_portable, nullptr);
    if (state == nullptr) return false;
    int const rc =
        lilv_state_save(world.lilv, &world.map, &world.unmap, state, nullptr, dir.c_str(), "state.ttl");
    lilv_state_free(state);
    return rc == 0;
}

bool Lv2Instance::restore_state_file(std::filesystem::path const& folder)
{
    World& world = World::get();
    LilvState* state =
        lilv_state_new_from_file(world.lilv, &world.map, nullptr, (folder / "state.ttl").c_str());
    if (state == nullptr) return false;
    lilv_state_restore(state, instance_, set_port_value, this, 0, nullptr);
    lilv_state_free(state);
    return true;
}

namespace {

// A lilv world on its own search path, and the plug-in in it.
struct PathWorld {
    explicit PathWorld(std::string const& lv2_path)
    {
        LilvNode* path = lilv_new_string(world, lv2_path.c_str());
        lilv_world_set_option(world, LILV_OPTION_LV2_PATH, path);
        lilv_node_free(path);
        lilv_world_load_all(world);
    }
    ~PathWorld() { lilv_world_free(world); }
    LilvPlugin const* plugin(std::string const& uri) const
    {
        LilvNode* node = lilv_new_uri(world, uri.c_str());
        LilvPlugin const* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
        lilv_node_free(node);
        return found;
    }
    LilvWorld* const world = lilv_world_new();
};

} // namespace

std::vector<Lv2PresetEntry> lv2_presets(std::string const& uri, std::string const& lv2_path)
{
    PathWorld const w(lv2_path);
    std::vector<Lv2PresetEntry> entries;
    LilvPlugin const* plugin = w.plugin(uri);
    if (plugin == nullptr) return entries;
    LilvNode* preset_class = lilv_new_uri(w.world, LV2_PRESETS__Preset);
    LilvNode* label_property = lilv_new_uri(w.world, LILV_NS_RDFS "label");
    LilvNodes* presets = lilv_plugin_get_related(plugin, preset_class);
    LILV_FOREACH (nodes, i, presets) {
        LilvNode const* preset = lilv_nodes_get(presets, i);
        lilv_world_load_resource(w.world, preset);
        LilvNode* label = lilv_world_get(w.world, preset, label_property, nullptr);
        entries.push_back({lilv_node_as_uri(preset), label != nullptr ? lilv_node_as_string(label) : ""});
        lilv_node_free(label);
    }
    lilv_nodes_free(presets);
    lilv_node_free(label_property);
    lilv_node_free(preset_class);
    std::sort(entries.begin(), entries.end(), [](auto const& a, auto const& b) { return a.uri < b.uri; });
    return entries;
}

bool Lv2Instance::load_preset(std::string const& preset_uri, std::string const& lv2_path)
{
    PathWorld const w(lv2_path);
    LilvNode* preset = lilv_new_uri(w.world, preset_uri.c_str());
    lilv_world_load_resource(w.world, preset);
    LilvState* state = lilv_state_new_from_world(w.world, &World::get().map, preset);
    lilv_node_free(preset);
    if (state == nullptr) return false;
    lilv_state_restore(state, instance_, set_port_value, this, 0, nullptr);
    lilv_state_free(state);
    return true;
}

Lv2StateValues Lv2Instance::save_state_values()
{
    Lv2StateValues values;
    if (auto const* iface = state_interface(instance_))
        iface->save(lilv_instance_get_handle(instance_), store_value, &values, pod_portable, nullptr);
    return values;
}

bool Lv2Instance::restore_state_values(Lv2StateValues const& values)
{
    auto const* iface = state_interface(instance_);
    Lv2StateValues copy = values;
    return iface != nullptr && iface->restore(lilv_instance_get_handle(instance_), retrieve_value, &copy,
                                              pod_portable, nullptr) == LV2_STATE_SUCCESS;
}

} // namespace corvella::test
