#pragma once

// Host-binding tests: a private settings folder and data folder, an empty initial preset (no
// factory file is needed), and a controller that records every packet the parameters object posts.

#include "host/demogain_parameters.h"
#include "host/host_controller.h"
#include "platform/settings_fixture.h"
#include "platform/settings_store.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace corvella::test {

class HostTest : public SettingsTest {
protected:
    HostTest()
    {
        CheckPrefs();
        set_data_in_registry_int("AAXEmptyInitialPreset", 1);
    }

    TempDir data_{"corvella-data-"};
    ScopedVariable data_home_{"XDG_DATA_HOME", data_.path().c_str()};
};

struct Packet {
    int field;
    std::vector<std::uint8_t> data;
};

class RecordingController : public host::Controller, public host::Transport {
public:
    host::Result PostPacket(int field, void const* data, std::size_t size) override
    {
        auto const* bytes = static_cast<std::uint8_t const*>(data);
        packets.push_back({field, std::vector<std::uint8_t>(bytes, bytes + size)});
        return host::success;
    }
    host::Result GetSampleRate(float* rate) const override { return *rate = sample_rate, host::success; }
    host::Transport const* GetTransport() const override { return has_transport ? this : nullptr; }
    host::EffectParameters* GetEffectParameters() override { return parameters; }
    host::Result GetCurrentTempo(double* bpm) const override { return *bpm = tempo, host::success; }

    std::vector<int> fields() const
    {
        std::vector<int> result;
        for (Packet const& packet : packets)
            result.push_back(packet.field);
        return result;
    }
    void clear() { packets.clear(); }

    std::vector<Packet> packets;
    float sample_rate = 48000.0f;
    double tempo = 120.0;
    bool has_transport = true;
    host::EffectParameters* parameters = nullptr;
};

// A parameters object initialised against a recording controller.
class ParametersTest : public HostTest {
protected:
    ParametersTest()
    {
        controller.parameters = &parameters;
        EXPECT_EQ(parameters.Initialize(&controller), host::success);
        controller.clear();
    }

    static bool same_bank(std::vector<VST_Plugin_Program> const& a, std::vector<VST_Plugin_Program> const& b)
    {
        return std::memcmp(a.data(), b.data(), bank_size_bytes) == 0;
    }
    VST_Plugin_Program current() const
    {
        auto const bank = parameters.bank_copy();
        return bank[static_cast<std::size_t>(current_program_index(bank.data()))];
    }
    host::Result set(int id, std::uint32_t size, void const* data)
    {
        return parameters.SetCustomData(id, size, data);
    }
    template <typename T> host::Result set(int id, T const& value) { return set(id, sizeof value, &value); }

    RecordingController controller;
    DemoGain_Parameters parameters;
};

} // namespace corvella::test
