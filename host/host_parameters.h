#pragma once

// Parameter objects of the host interface: tapers (normalised value <-> real value), displays
// (real value -> text), the parameter itself with its stored normalised value, and the manager
// that lists the parameters in registration order.
//
// Threading: a ParameterManager is filled once by its owner (EffectInit) and then only read; the
// stored values are atomics, so the host may read and write them from any non-audio thread.

#include "host/host_types.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvella::host {

enum class TaperKind { linear, binary };

// Maps between the normalised 0..1 value the host automates and the parameter's real value.
struct Taper {
    TaperKind kind = TaperKind::linear;
    double minimum = 0.0;
    double maximum = 1.0;

    // Real value for a normalised one: linear interpolation, or 0/1 split at 0.5 for binary.
    // Inputs outside 0..1 are clamped.
    double real_from_normalized(double normalized) const;
    double normalized_from_real(double real) const;
    // The normalised value the taper can hold (binary: exactly 0 or 1).
    double constrain(double normalized) const;
};

inline Taper linear_taper(double minimum, double maximum)
{
    return {TaperKind::linear, minimum, maximum};
}
inline Taper binary_taper()
{
    return {TaperKind::binary, 0.0, 1.0};
}

enum class DisplayKind { number, binary };

// Turns a real value into the text the host shows.
struct Display {
    DisplayKind kind = DisplayKind::number;
    int precision = 2;           // number display
    bool trailing_space = false; // number display: space before the (empty) unit
    std::string off_text;        // binary display
    std::string on_text;

    std::string text(double real) const;
};

inline Display number_display(int precision, bool trailing_space)
{
    return {DisplayKind::number, precision, trailing_space, {}, {}};
}
inline Display binary_display(std::string off_text, std::string on_text)
{
    return {DisplayKind::binary, 0, false, std::move(off_text), std::move(on_text)};
}

enum class ParameterType { continuous, discrete };

class Parameter {
public:
    Parameter(std::string identifier, std::string name, double default_normalized, Taper taper,
              Display display, bool automatable);

    std::string const& identifier() const { return identifier_; }
    std::string const& name() const { return name_; }
    Taper const& taper() const { return taper_; }
    Display const& display() const { return display_; }
    bool automatable() const { return automatable_; }
    bool is_boolean() const { return taper_.kind == TaperKind::binary; }

    int steps() const { return steps_; }
    void set_steps(int steps) { steps_ = steps; }
    ParameterType type() const { return type_; }
    void set_type(ParameterType type) { type_ = type; }

    double default_normalized() const { return default_; }
    double normalized_value() const { return value_.load(); }
    // Stores the value as the taper holds it (clamped, binary rounded).
    void set_normalized_value(double normalized) { value_.store(taper_.constrain(normalized)); }
    std::string value_text() const { return display_.text(taper_.real_from_normalized(normalized_value())); }

private:
    std::string identifier_;
    std::string name_;
    double default_;
    Taper taper_;
    Display display_;
    bool automatable_;
    int steps_ = 128;
    ParameterType type_ = ParameterType::continuous;
    std::atomic<double> value_;
};

// The packet a parameter is bound to: the algorithm-context field its value would reach.
struct PacketBinding {
    std::string identifier;
    int field;
};

class ParameterManager {
public:
    // Adds a parameter; a second parameter with an identifier already present is refused (false).
    bool add(std::unique_ptr<Parameter> parameter);
    void register_packet(std::string identifier, int field);

    int count() const { return static_cast<int>(parameters_.size()); }
    Parameter const* at(int index) const;
    Parameter* find(std::string_view identifier);
    Parameter const* find(std::string_view identifier) const;
    // The field registered for an identifier, if any.
    std::optional<int> packet_field(std::string_view identifier) const;
    std::vector<PacketBinding> const& packets() const { return packets_; }

private:
    std::vector<std::unique_ptr<Parameter>> parameters_;
    std::unordered_map<std::string, std::size_t> by_identifier_;
    std::vector<PacketBinding> packets_;
};

} // namespace corvella::host
