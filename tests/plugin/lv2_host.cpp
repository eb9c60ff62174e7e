#include "lv2_host.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/worker/worker.h>

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <stdexcept>

namespace corvella::test {

// ---- World ----

Lv2World& Lv2World::get()
{
    static Lv2World world;
    return world;
}

Lv2World::Lv2World() : world_(lilv_world_new())
{
    lilv_world_load_all(world_);
    map_.handle = this;
    map_.map = [](LV2_URID_Map_Handle handle, char const* uri) {
        return static_cast<Lv2World*>(handle)->urid(uri);
    };
    unmap_.handle = this;
    unmap_.unmap = [](LV2_URID_Unmap_Handle handle, LV2_URID urid) {
        return static_cast<Lv2World*>(handle)->uri(urid);
    };
}

Lv2World::~Lv2World()
{
    lilv_world_free(world_);
}

LilvPlugin const* Lv2World::plugin(std::string const& uri) const
{
    LilvNode* node = lilv_new_uri(world_, uri.c_str());
    LilvPlugin const* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), node);
    lilv_node_free(node);
    return found;
}

std::uint32_t Lv2World::urid(char const* uri)
{
    std::lock_guard lock(mutex_);
    auto [it, added] = ids_.try_emplace(uri, static_cast<std::uint32_t>(uris_.size() + 1));
    if (added) uris_.push_back(std::make_unique<std::string>(uri));
    return it->second;
}

char const* Lv2World::uri(std::uint32_t urid)
{
    std::lock_guard lock(mutex_);
    return urid >= 1 && urid <= uris_.size() ? uris_[urid - 1]->c_str() : nullptr;
}

// ---- Worker: work runs on the host's thread right after run() ----

// Everything the features point at, alive as long as the instance.
struct Lv2Instance::Features {
    std::int32_t block_min = 1;
    std::int32_t block_max = 0;
    float rate = 0.0f;
    LV2_Options_Option options[5]{};
    LV2_Feature map{}, unmap{}, options_feature{}, worker{}, bounded{};
    LV2_Feature const* list[6]{};
};

struct Lv2Instance::Worker {
    LV2_Worker_Schedule schedule{};
    LV2_Worker_Interface const* iface = nullptr;
    std::deque<std::vector<std::uint8_t>> requests;
    std::deque<std::vector<std::uint8_t>> responses;
};

namespace {

LV2_Worker_Status schedule_work(LV2_Worker_Schedule_Handle handle, std::uint32_t size, void const* data)
{
    auto* worker = static_cast<std::deque<std::vector<std::uint8_t>>*>(handle);
    auto const* bytes = static_cast<std::uint8_t const*>(data);
    worker->emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, std::uint32_t size, void const* data)
{
    return schedule_work(handle, size, data);
}

} // namespace

// ---- Instance ----

Lv2Instance::Lv2Instance(std::string const& uri, double sample_rate, std::uint32_t max_block)
    : world_(Lv2World::get()), max_block_(max_block), worker_(std::make_unique<Worker>())
{
    plugin_ = world_.plugin(uri);
    if (plugin_ == nullptr) return;

    features_ = std::make_unique<Features>();
    Features& f = *features_;
    f.block_min = 1;
    f.block_max = static_cast<std::int32_t>(max_block);
    f.rate = static_cast<float>(sample_rate);
    std::uint32_t const int_type = world_.urid(LV2_ATOM__Int);
    std::uint32_t const float_type = world_.urid(LV2_ATOM__Float);
    f.options[0] = {LV2_OPTIONS_INSTANCE, 0,        world_.urid(LV2_BUF_SIZE__minBlockLength),
                    sizeof(std::int32_t), int_type, &f.block_min};
    f.options[1] = {LV2_OPTIONS_INSTANCE, 0,        world_.urid(LV2_BUF_SIZE__maxBlockLength),
                    sizeof(std::int32_t), int_type, &f.block_max};
    f.options[2] = {LV2_OPTIONS_INSTANCE, 0,        world_.urid(LV2_BUF_SIZE__nominalBlockLength),
                    sizeof(std::int32_t), int_type, &f.block_max};
    f.options[3] = {LV2_OPTIONS_INSTANCE, 0,          world_.urid(LV2_PARAMETERS__sampleRate),
                    sizeof(float),        float_type, &f.rate};
    f.options[4] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
    worker_->schedule.handle = &worker_->requests;
    worker_->schedule.schedule_work = schedule_work;
    f.map = {LV2_URID__map, world_.map()};
    f.unmap = {LV2_URID__unmap, world_.unmap()};
    f.options_feature = {LV2_OPTIONS__options, f.options};
    f.worker = {LV2_WORKER__schedule, &worker_->schedule};
    f.bounded = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
    f.list[0] = &f.map;
    f.list[1] = &f.unmap;
    f.list[2] = &f.options_feature;
    f.list[3] = &f.worker;
    f.list[4] = &f.bounded;
    f.list[5] = nullptr;

    instance_ = lilv_plugin_instantiate(plugin_, sample_rate, f.list);
    if (instance_ == nullptr) return;
    // The shared object stays loaded for the whole process, as hosts keep their modules: its
    // process-lifetime data then stays reachable for leak checks.
    if (char* path = lilv_node_get_path(lilv_plugin_get_library_uri(plugin_), nullptr)) {
        dlopen(path, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        lilv_free(path);
    }
    worker_->iface = static_cast<LV2_Worker_Interface const*>(
        lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));

    LilvWorld* w = world_.world();
    LilvNode* audio = lilv_new_uri(w, LV2_CORE__AudioPort);
    LilvNode* control = lilv_new_uri(w, LV2_CORE__ControlPort);
    LilvNode* atom = lilv_new_uri(w, LV2_ATOM__AtomPort);
    LilvNode* input = lilv_new_uri(w, LV2_CORE__InputPort);

    std::uint32_t const count = lilv_plugin_get_num_ports(plugin_);
    controls_.assign(count, 0.0f);
    std::vector<float> defaults(count, NAN);
    lilv_plugin_get_port_ranges_float(plugin_, nullptr, nullptr, defaults.data());
    events_in_buffer_.assign(8192, 0);
    events_out_buffer_.assign(8192, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
        LilvPort const* port = lilv_plugin_get_port_by_index(plugin_, i);
        bool const is_input = lilv_port_is_a(plugin_, port, input);
        if (lilv_port_is_a(plugin_, port, audio)) {
            (is_input ? audio_in_ : audio_out_).push_back(static_cast<int>(i));
        } else if (lilv_port_is_a(plugin_, port, control)) {
            controls_[i] = std::isnan(defaults[i]) ? 0.0f : defaults[i];
            lilv_instance_connect_port(instance_, i, &controls_[i]);
        } else if (lilv_port_is_a(plugin_, port, atom)) {
            if (is_input) {
                events_in_ = static_cast<int>(i);
                lilv_instance_connect_port(instance_, i, events_in_buffer_.data());
            } else {
                events_out_ = static_cast<int>(i);
                lilv_instance_connect_port(instance_, i, events_out_buffer_.data());
            }
        } else {
            lilv_instance_connect_port(instance_, i, nullptr);
        }
    }
    lilv_node_free(audio);
    lilv_node_free(control);
    lilv_node_free(atom);
    lilv_node_free(input);
}

Lv2Instance::~Lv2Instance()
{
    if (instance_ != nullptr) lilv_instance_free(instance_);
}

std::uint32_t Lv2Instance::port_count() const
{
    return plugin_ == nullptr ? 0 : lilv_plugin_get_num_ports(plugin_);
}

namespace {

LilvPort const* port_by_symbol(LilvWorld* world, LilvPlugin const* plugin, std::string const& symbol)
{
    LilvNode* node = lilv_new_string(world, symbol.c_str());
    LilvPort const* port = lilv_plugin_get_port_by_symbol(plugin, node);
    lilv_node_free(node);
    return port;
}

} // namespace

bool Lv2Instance::has_control(std::string const& symbol) const
{
    return plugin_ != nullptr && port_by_symbol(world_.world(), plugin_, symbol) != nullptr;
}

void Lv2Instance::set_control(std::string const& symbol, float value)
{
    LilvPort const* port = port_by_symbol(world_.world(), plugin_, symbol);
    if (port == nullptr) throw std::invalid_argument("no port " + symbol);
    controls_[lilv_port_get_index(plugin_, port)] = value;
}

float Lv2Instance::control(std::string const& symbol) const
{
    LilvPort const* port = port_by_symbol(world_.world(), plugin_, symbol);
    if (port == nullptr) throw std::invalid_argument("no port " + symbol);
    return controls_[lilv_port_get_index(plugin_, port)];
}

std::vector<std::string> Lv2Instance::input_control_symbols() const
{
    std::vector<std::string> symbols;
    LilvNode* control = lilv_new_uri(world_.world(), LV2_CORE__ControlPort);
    LilvNode* input = lilv_new_uri(world_.world(), LV2_CORE__InputPort);
    for (std::uint32_t i = 0; i < port_count(); ++i) {
        LilvPort const* port = lilv_plugin_get_port_by_index(plugin_, i);
        if (lilv_port_is_a(plugin_, port, control) && lilv_port_is_a(plugin_, port, input))
            symbols.emplace_back(lilv_node_as_string(lilv_port_get_symbol(plugin_, port)));
    }
    lilv_node_free(control);
    lilv_node_free(input);
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

void Lv2Instance::deactivate()
{
    lilv_instance_deactivate(instance_);
}

void Lv2Instance::run(float const* const in[2], float* const out[2], std::uint32_t frames)
{
    if (frames > max_block_) throw std::invalid_argument("block longer than the announced maximum");
    for (std::size_t c = 0; c < audio_in_.size() && c < 2; ++c)
        lilv_instance_connect_port(instance_, static_cast<std::uint32_t>(audio_in_[c]),
                                   const_cast<float*>(in[c]));
    for (std::size_t c = 0; c < audio_out_.size() && c < 2; ++c)
        lilv_instance_connect_port(instance_, static_cast<std::uint32_t>(audio_out_[c]), out[c]);

    if (events_in_ >= 0) {
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, world_.map());
        std::uint32_t const capacity = static_cast<std::uint32_t>(events_in_buffer_.size() * 8);
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<std::uint8_t*>(events_in_buffer_.data()),
                                  capacity);
        LV2_Atom_Forge_Frame sequence;
        lv2_atom_forge_sequence_head(&forge, &sequence, 0);
        for (auto const& [property, path] : pending_paths_) {
            LV2_Atom_Forge_Frame object;
            lv2_atom_forge_frame_time(&forge, 0);
            lv2_atom_forge_object(&forge, &object, 0, world_.urid(LV2_PATCH__Set));
            lv2_atom_forge_key(&forge, world_.urid(LV2_PATCH__property));
            lv2_atom_forge_urid(&forge, world_.urid(property.c_str()));
            lv2_atom_forge_key(&forge, world_.urid(LV2_PATCH__value));
            lv2_atom_forge_path(&forge, path.c_str(), static_cast<std::uint32_t>(path.size() + 1));
            lv2_atom_forge_pop(&forge, &object);
        }
        lv2_atom_forge_pop(&forge, &sequence);
        pending_paths_.clear();
    }
    if (events_out_ >= 0) {
        auto* sequence = reinterpret_cast<LV2_Atom*>(events_out_buffer_.data());
        sequence->type = world_.urid(LV2_ATOM__Chunk);
        sequence->size = static_cast<std::uint32_t>(events_out_buffer_.size() * 8 - sizeof(LV2_Atom));
    }

    lilv_instance_run(instance_, frames);
    run_scheduled_work();
}

void Lv2Instance::run_scheduled_work()
{
    if (worker_->iface == nullptr) return;
    LV2_Handle handle = lilv_instance_get_handle(instance_);
    while (!worker_->requests.empty()) {
        std::vector<std::uint8_t> request = std::move(worker_->requests.front());
        worker_->requests.pop_front();
        worker_->iface->work(handle, respond, &worker_->responses, static_cast<std::uint32_t>(request.size()),
                             request.data());
    }
    while (!worker_->responses.empty()) {
        std::vector<std::uint8_t> response = std::move(worker_->responses.front());
        worker_->responses.pop_front();
        worker_->iface->work_response(handle, static_cast<std::uint32_t>(response.size()), response.data());
    }
    if (worker_->iface->end_run != nullptr) worker_->iface->end_run(handle);
}

// ---- State ----

namespace {

void const* get_port_value(char const* symbol, void* user_data, std::uint32_t* size, std::uint32_t* type)
{
    auto* self = static_cast<std::pair<Lv2Instance*, Lv2World*>*>(user_data);
    static thread_local float value;
    value = self->first->control(symbol);
    *size = sizeof(float);
    *type = self->second->urid(LV2_ATOM__Float);
    return &value;
}

void set_port_value(char const* symbol, void* user_data, void const* value, std::uint32_t size,
                    std::uint32_t type)
{
    auto* self = static_cast<std::pair<Lv2Instance*, Lv2World*>*>(user_data);
    if (size == sizeof(float) && type == self->second->urid(LV2_ATOM__Float))
        self->first->set_control(symbol, *static_cast<float const*>(value));
}

} // namespace

bool Lv2Instance::save_state_file(std::filesystem::path const& folder)
{
    std::pair<Lv2Instance*, Lv2World*> self{this, &world_};
    std::string const dir = folder.string() + "/";
    LilvState* state = lilv_state_new_from_instance(plugin_, instance_, world_.map(), nullptr, nullptr,
                                                    nullptr, dir.c_str(), get_port_value, &self,
                                                    LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
    if (state == nullptr) return false;
    int const rc = lilv_state_save(world_.world(), world_.map(), world_.unmap(), state, nullptr, dir.c_str(),
                                   "state.ttl");
    lilv_state_free(state);
    return rc == 0;
}

bool Lv2Instance::restore_state_file(std::filesystem::path const& folder)
{
    std::string const file = (folder / "state.ttl").string();
    LilvState* state = lilv_state_new_from_file(world_.world(), world_.map(), nullptr, file.c_str());
    if (state == nullptr) return false;
    std::pair<Lv2Instance*, Lv2World*> self{this, &world_};
    lilv_state_restore(state, instance_, set_port_value, &self, 0, nullptr);
    lilv_state_free(state);
    return true;
}

namespace {

struct StateContext {
    Lv2World* world;
    Lv2StateValues* values;
};

LV2_State_Status store_value(LV2_State_Handle handle, std::uint32_t key, void const* value, std::size_t size,
                             std::uint32_t type, std::uint32_t)
{
    auto* context = static_cast<StateContext*>(handle);
    auto const* text = static_cast<char const*>(value);
    std::size_t length = size;
    while (length > 0 && text[length - 1] == '\0')
        --length;
    (*context->values)[context->world->uri(key)] = {context->world->uri(type), std::string(text, length)};
    return LV2_STATE_SUCCESS;
}

void const* retrieve_value(LV2_State_Handle handle, std::uint32_t key, std::size_t* size, std::uint32_t* type,
                           std::uint32_t* flags)
{
    auto* context = static_cast<StateContext*>(handle);
    auto const it = context->values->find(context->world->uri(key));
    if (it == context->values->end()) return nullptr;
    *size = it->second.value.size() + 1;
    *type = context->world->urid(it->second.type.c_str());
    *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return it->second.value.c_str();
}

} // namespace

Lv2StateValues Lv2Instance::save_state_values()
{
    Lv2StateValues values;
    auto const* iface = static_cast<LV2_State_Interface const*>(
        lilv_instance_get_extension_data(instance_, LV2_STATE__interface));
    if (iface == nullptr) return values;
    StateContext context{&world_, &values};
    iface->save(lilv_instance_get_handle(instance_), store_value, &context,
                LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
    return values;
}

bool Lv2Instance::restore_state_values(Lv2StateValues const& values)
{
    auto const* iface = static_cast<LV2_State_Interface const*>(
        lilv_instance_get_extension_data(instance_, LV2_STATE__interface));
    if (iface == nullptr) return false;
    Lv2StateValues copy = values;
    StateContext context{&world_, &copy};
    return iface->restore(lilv_instance_get_handle(instance_), retrieve_value, &context,
                          LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr) == LV2_STATE_SUCCESS;
}

} // namespace corvella::test
