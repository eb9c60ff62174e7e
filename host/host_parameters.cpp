#include "host/host_parameters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace corvella::host {

namespace {
double clamp_unit(double value)
{
    if (std::isnan(value)) return 0.0;
    return std::clamp(value, 0.0, 1.0);
}
} // namespace

double Taper::real_from_normalized(double normalized) const
{
    double const n = constrain(normalized);
    return minimum + n * (maximum - minimum);
}

double Taper::normalized_from_real(double real) const
{
    if (maximum == minimum) return 0.0;
    return constrain((real - minimum) / (maximum - minimum));
}

double Taper::constrain(double normalized) const
{
    double const n = clamp_unit(normalized);
    if (kind == TaperKind::binary) return n >= 0.5 ? 1.0 : 0.0;
    return n;
}

std::string Display::text(double real) const
{
    if (kind == DisplayKind::binary) return real >= 0.5 ? on_text : off_text;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", std::clamp(precision, 0, 10), real);
    std::string result(buffer);
    if (trailing_space) result += ' ';
    return result;
}

Parameter::Parameter(std::string identifier, std::string name, double default_normalized, Taper taper,
                     Display display, bool automatable)
    : identifier_(std::move(identifier)), name_(std::move(name)),
      default_(taper.constrain(default_normalized)), taper_(taper), display_(std::move(display)),
      automatable_(automatable), value_(default_)
{
}

bool ParameterManager::add(std::unique_ptr<Parameter> parameter)
{
    if (parameter == nullptr || by_identifier_.contains(parameter->identifier())) return false;
    by_identifier_.emplace(parameter->identifier(), parameters_.size());
    parameters_.push_back(std::move(parameter));
    return true;
}

void ParameterManager::register_packet(std::string identifier, int field)
{
    packets_.push_back({std::move(identifier), field});
}

Parameter const* ParameterManager::at(int index) const
{
    if (index < 0 || index >= count()) return nullptr;
    return parameters_[static_cast<std::size_t>(index)].get();
}

Parameter* ParameterManager::find(std::string_view identifier)
{
    auto const it = by_identifier_.find(std::string(identifier));
    return it == by_identifier_.end() ? nullptr : parameters_[it->second].get();
}

Parameter const* ParameterManager::find(std::string_view identifier) const
{
    auto const it = by_identifier_.find(std::string(identifier));
    return it == by_identifier_.end() ? nullptr : parameters_[it->second].get();
}

std::optional<int> ParameterManager::packet_field(std::string_view identifier) const
{
    for (PacketBinding const& packet : packets_)
        if (packet.identifier == identifier) return packet.field;
    return std::nullopt;
}

} // namespace corvella::host
