#include "editor/direct_editor_host.h"

#include "host/demogain_parameters.h"
#include "program/parameter_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace corvella::editor {

bool host_parameter_holds(std::string const& key, float unity)
{
    ParameterRow const* row = find_parameter(key);
    return row != nullptr && (row->kind != ParameterKind::on_off || unity == 0.0f || unity == 1.0f);
}

DirectEditorHost::DirectEditorHost(DemoGain_Parameters& parameters, ParameterPath path)
    : parameters_(parameters), path_(std::move(path))
{
}

bool DirectEditorHost::host_parameter(std::string const& key) const
{
    return find_parameter(key) != nullptr;
}

float DirectEditorHost::get_parameter(std::string const& key)
{
    return static_cast<float>(parameters_.return_parameter_float_value(key.c_str()));
}

void DirectEditorHost::begin_gesture(std::string const& key)
{
    if (host_parameter(key) && path_.begin) path_.begin(key);
}

void DirectEditorHost::set_parameter(std::string const& key, float unity)
{
    if (!std::isfinite(unity)) return;
    if (host_parameter_holds(key, unity) && path_.set) path_.set(key, unity);
    else parameters_.assign_parameter_float_value(key.c_str(), unity, true); // tail variants, STS middle state
}

void DirectEditorHost::end_gesture(std::string const& key)
{
    if (host_parameter(key) && path_.end) path_.end(key);
}

bool DirectEditorHost::set_custom_data(int id, void const* data, std::size_t size)
{
    if (size > std::numeric_limits<std::uint32_t>::max()) return false;
    return parameters_.SetCustomData(id, static_cast<std::uint32_t>(size), data) == host::success;
}

std::size_t DirectEditorHost::get_custom_data(int id, void* data, std::size_t capacity)
{
    CustomDataSizes const sizes = custom_data_sizes(id);
    if (sizes.get == 0) return 0;
    std::vector<std::uint8_t> block(sizes.get);
    std::uint32_t written = 0;
    if (parameters_.GetCustomData(id, sizes.get, block.data(), &written) != host::success) return 0;
    std::memcpy(data, block.data(), std::min<std::size_t>(capacity, written));
    return written;
}

void DirectEditorHost::request(std::string const& force_key)
{
    parameters_.notify_plugin_of_changes(force_key.c_str());
}

void DirectEditorHost::request_full_recompute()
{
    parameters_.post_to_plugin_snapshot();
    parameters_.post_full_recompute();
}

void DirectEditorHost::hand_over_program()
{
    parameters_.post_to_plugin_snapshot();
}

double DirectEditorHost::sample_rate()
{
    return path_.sample_rate ? path_.sample_rate() : 48000.0;
}

int DirectEditorHost::running_latency()
{
    return path_.latency ? path_.latency() : 0;
}

bool DirectEditorHost::choose_file(FileDialog const& dialog, std::function<void(std::string const&)> chosen)
{
    return path_.choose_file && path_.choose_file(dialog, std::move(chosen));
}

} // namespace corvella::editor
