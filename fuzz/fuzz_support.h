#pragma once

// What every fuzz target shares: a private home for the settings, caches and scratch files, a
// silent message sink, a minimal host controller, and the mapping of short inputs onto
// fixed-size images.

#include "host/demogain_parameters.h"
#include "host/host_controller.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace corvella::fuzz {

// Points HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME and XDG_DATA_HOME at a fresh folder under the
// temporary folder (removed at a normal exit), so that no target touches the user's own files,
// and makes messages silent ("No" to every question). Call from LLVMFuzzerInitialize.
void initialise();

// The private folder initialise() made.
std::filesystem::path const& private_home();

// Writes the bytes to `name` in the private folder and returns its path.
std::filesystem::path write_scratch_file(std::string const& name, void const* data, std::size_t size);

// An image of `base.size()` bytes from a fuzz input: an input of at least that size is taken as
// it is (cut to size); a shorter one is laid over `base`, from the offset its first four bytes
// give (little-endian, modulo the size). Short inputs so reach every part of a large image.
std::string overlay(std::string base, std::uint8_t const* data, std::size_t size);

// A host controller that takes every packet and reports 48 kHz and 120 BPM.
class QuietController final : public host::Controller, public host::Transport {
public:
    host::Result PostPacket(int, void const*, std::size_t) override { return host::success; }
    host::Result GetSampleRate(float* rate) const override;
    host::Transport const* GetTransport() const override { return this; }
    host::EffectParameters* GetEffectParameters() override { return parameters; }
    host::Result GetCurrentTempo(double* bpm) const override;

    host::EffectParameters* parameters = nullptr;
};

// A parameters object of a new instance, initialised against its own controller.
struct Instance {
    Instance();
    QuietController controller;
    DemoGain_Parameters parameters;
};

// Stops the run with a crash report when a property of the code under test does not hold.
[[noreturn]] void fail(char const* what);

} // namespace corvella::fuzz
