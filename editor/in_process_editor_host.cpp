#include "editor/in_process_editor_host.h"

#include "host/demogain_parameters.h"
#include "host/in_process_host.h"
#include "program/parameter_table.h"

#include <utility>

namespace corvella::editor {

float InProcessEditorHost::get_parameter(std::string const& key)
{
    return host_.get_parameter(key);
}

void InProcessEditorHost::begin_gesture(std::string const&)
{
    ++open_;
}

void InProcessEditorHost::set_parameter(std::string const& key, float unity)
{
    ++sets_;
    if (find_parameter(key) != nullptr && !host_parameter_holds(key, unity))
        host_.parameters().assign_parameter_float_value(key.c_str(), unity, true);
    else
        host_.set_parameter(key, unity);
}

void InProcessEditorHost::end_gesture(std::string const&)
{
    if (open_ > 0) --open_;
    ++ended_;
}

bool InProcessEditorHost::set_custom_data(int id, void const* data, std::size_t size)
{
    return host_.set_custom_data(id, data, size);
}

std::size_t InProcessEditorHost::get_custom_data(int id, void* data, std::size_t capacity)
{
    return host_.get_custom_data(id, data, capacity);
}

void InProcessEditorHost::request(std::string const& force_key)
{
    host_.set_parameter(force_key, 1.0f);
}

void InProcessEditorHost::request_full_recompute()
{
    host_.parameters().post_to_plugin_snapshot();
    host_.parameters().post_full_recompute();
}

void InProcessEditorHost::hand_over_program()
{
    host_.parameters().post_to_plugin_snapshot();
}

bool InProcessEditorHost::choose_file(FileDialog const& dialog, std::function<void(std::string const&)> chosen)
{
    dialog_ = dialog;
    chosen_ = std::move(chosen);
    return true;
}

bool InProcessEditorHost::answer_file_dialog(std::string const& path)
{
    if (!chosen_) return false;
    auto chosen = std::move(chosen_);
    chosen_ = nullptr;
    chosen(path);
    return true;
}

double InProcessEditorHost::sample_rate()
{
    return host_.sample_rate();
}

int InProcessEditorHost::running_latency()
{
    int const latency = host_.latency_samples();
    return latency < 0 ? 0 : latency;
}

} // namespace corvella::editor
