// The parameters object: the parameter list the host sees, the packets and pending requests a
// change raises, the program selector, the locks, bad input at the host entry points, the
// notifications and the tempo check.
#include "host/demogain_parameters.h"

#include "host/host_parameters.h"
#include "host_fixture.h"
#include "program/parameter_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace host = corvella::host;

namespace {

using Fields = std::vector<int>;
// The fields of a full recompute, in order.
Fields const kFull{19, 12, 14, 15, 16, 17, 18, 21, 22, 23, 24, 25, 26, 28, 29, 27, 13};

Fields operator+(Fields a, Fields const& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class DemoGainParametersTest : public corvella::test::ParametersTest {
protected:
    std::vector<int> pending_bytes() const
    {
        std::vector<int> bytes;
        corvella::PendingRequests const pending = parameters.pending_requests();
        for (int byte = 0; byte < corvella::request_count; ++byte)
            if (pending.bytes[byte] != 0) bytes.push_back(byte);
        return bytes;
    }
    void clear_pending()
    {
        corvella::PendingRequests none{};
        none.tempo = 120.0;
        ASSERT_EQ(parameters.SetCustomData(corvella::custom_data::pending_requests, sizeof none, &none),
                  host::success);
        controller.clear();
    }
};

} // namespace

TEST_F(DemoGainParametersTest, TheHostSeesTheBypassAndThen366ParametersInOrder)
{
    host::ParameterManager const& manager = parameters.parameter_manager();
    ASSERT_EQ(manager.count(), 367);
    host::Parameter const& bypass = *manager.at(0);
    EXPECT_EQ(bypass.name(), "Master Bypass");
    EXPECT_EQ(bypass.identifier(), corvella::master_bypass_identifier);
    EXPECT_TRUE(bypass.is_boolean());
    EXPECT_EQ(bypass.type(), host::ParameterType::discrete);
    EXPECT_EQ(bypass.steps(), 2);
    EXPECT_EQ(bypass.default_normalized(), 0.0);
    EXPECT_EQ(bypass.display().text(0.0) + "/" + bypass.display().text(1.0), "bypass/on");
    EXPECT_EQ(manager.packet_field(corvella::master_bypass_identifier), 0);

    // Rows are checked against their typed reference in the program tests; here they must reach the host.
    for (int index = 1; index < manager.count(); ++index) {
        host::Parameter const& parameter = *manager.at(index);
        corvella::ParameterRow const& row = *corvella::parameter_at(index - 1);
        SCOPED_TRACE(row.key);
        EXPECT_EQ(parameter.identifier(), row.key);
        EXPECT_EQ(parameter.name(), row.name);
        EXPECT_EQ(manager.packet_field(row.key), row.field);
        EXPECT_EQ(parameter.default_normalized(), double(row.default_value)); // a reset program's value
        EXPECT_TRUE(parameter.automatable());
        bool const on_off = row.kind == corvella::ParameterKind::on_off;
        bool const selector = row.kind == corvella::ParameterKind::program_selector;
        EXPECT_EQ(parameter.is_boolean(), on_off);
        EXPECT_EQ(parameter.steps(), on_off ? 2 : selector ? 48 : 128);
        EXPECT_EQ(parameter.display().text(0.0), on_off ? "Off" : "0.00");
        EXPECT_EQ(parameter.display().text(on_off ? 1.0 : 0.256), on_off ? "On" : "0.26");
    }
}

TEST_F(DemoGainParametersTest, AChangeRaisesExactlyTheRequestsOfItsKey)
{
    struct Case {
        char const* key;
        Fields fields;          // after the snapshot (field 10)
        std::vector<int> bytes; // pending bytes
    };
    // clang-format off
    Case const cases[] = {
        {"ir1_er_size", {14, 16, 13}, {1, 2, 4}}, {"ir1_er_type", {14, 13}, {1, 2}},
        {"ir2_tail_variant", {15, 17, 13}, {1, 3, 5}}, {"ir1_toggle", {18, 13}, {1, 6}},
        {"pitch_mod_ir2_split_point", {18, 15, 29, 13}, {1, 3, 6, 17}},
        {"force_master_delay_recompute", {24, 13}, {1, 12}}, {"chorus_ir2_wet", {23, 13}, {1, 11}},
        {"ir1_delay_r_wet", {25, 13}, {1, 13}}, {"flt2_gain", {27, 13}, {1, 15}}, {"master_gain", {13}, {1}},
        {"no_such_key", {13}, {1}}};
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(c.key);
        clear_pending();
        parameters.notify_plugin_of_changes(c.key);
        EXPECT_EQ(controller.fields(), Fields{10} + c.fields);
        EXPECT_EQ(pending_bytes(), c.bytes);
        for (corvella::test::Packet const& packet : controller.packets)
            EXPECT_TRUE(packet.field == 10 || packet.data == std::vector<std::uint8_t>{1}) << packet.field;
    }
}

TEST_F(DemoGainParametersTest, AssignStoresAndNotifiesTheLockKeepsTheLockedGain)
{
    clear_pending();
    EXPECT_TRUE(parameters.assign_parameter_float_value("ir2_tail_variant", 0.6f, true));
    EXPECT_EQ(current().ir2_tail_variant, 0.6f);
    EXPECT_EQ(pending_bytes(), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(parameters.snapshot_copy()[0].ir2_tail_variant, 0.6f); // the snapshot carries it
    clear_pending();
    EXPECT_TRUE(parameters.assign_parameter_float_value("ir1_width", 2.0f, false)); // clamped, nothing posted
    EXPECT_TRUE(controller.packets.empty() && pending_bytes().empty());
    EXPECT_EQ(current().ir1_width, 1.0f);
    auto const before = parameters.bank_copy(); // an unknown key stores nothing but reports the change
    EXPECT_FALSE(parameters.assign_parameter_float_value("no_such_key", 0.3f, true));
    EXPECT_EQ(pending_bytes(), std::vector<int>{1});
    EXPECT_TRUE(same_bank(before, parameters.bank_copy()));

    ASSERT_TRUE(parameters.assign_parameter_float_value("master_gain_lock_status", 1.0f, true));
    ASSERT_TRUE(parameters.assign_parameter_float_value("master_gain", 0.8f, true));
    EXPECT_EQ(parameters.bank_copy()[0].master_gain_locked_value, 0.8f);
    parameters.edit_bank([](VST_Plugin_Program* b) { b[3].master_gain = 0.1f; });
    std::int32_t const three = 3;
    ASSERT_EQ(parameters.SetCustomData(corvella::custom_data::current_program, 4, &three), host::success);
    EXPECT_DOUBLE_EQ(parameters.return_parameter_float_value("master_gain"), double(0.8f));
}

TEST_F(DemoGainParametersTest, ProgramSelector)
{
    clear_pending();
    ASSERT_TRUE(parameters.assign_parameter_float_value("automated_prog_num_sel", 0.5f, true));
    EXPECT_EQ(parameters.bank_copy()[0].current_program, 24);
    EXPECT_TRUE(parameters.program_changed());
    EXPECT_EQ(controller.fields(), (Fields{10} + kFull + Fields{10, 13}));
    EXPECT_EQ(parameters.return_parameter_float_value("automated_prog_num_sel"), 0.0);
    for (float value : {0.0005f, 1.0f, 0.5f}) { // too small, 1.0, the program already current
        clear_pending();
        ASSERT_EQ(parameters.SetCustomData(corvella::custom_data::program_changed, 1, "\0"), host::success);
        parameters.assign_parameter_float_value("automated_prog_num_sel", value, true);
        EXPECT_EQ(parameters.bank_copy()[0].current_program, 24) << value;
        EXPECT_EQ(controller.fields(), (Fields{10, 13})) << value;
        EXPECT_FALSE(parameters.program_changed()) << value;
    }
}

TEST_F(DemoGainParametersTest, HostEntryPointsRefuseBadValuesAndClampTheRest)
{
    auto const before = parameters.bank_copy();
    double const inf = std::numeric_limits<double>::infinity();
    for (double bad : {std::nan(""), inf, -inf}) {
        EXPECT_EQ(parameters.SetParameterNormalizedValue("master_gain", bad), host::error_invalid_value);
        EXPECT_EQ(parameters.UpdateParameterNormalizedValue("master_gain", bad, 0),
                  host::error_invalid_value);
        EXPECT_FALSE(parameters.assign_parameter_float_value("master_gain", static_cast<float>(bad), true));
    }
    EXPECT_EQ(parameters.SetParameterNormalizedValue("no_such_key", 0.5), host::error_unknown_id);
    EXPECT_EQ(parameters.SetParameterNormalizedValue("ir1_tail_variant", 0.5), host::error_unknown_id);
    EXPECT_EQ(parameters.SetParameterNormalizedValue(nullptr, 0.5), host::error_null_argument);
    EXPECT_TRUE(controller.packets.empty());
    EXPECT_TRUE(same_bank(before, parameters.bank_copy()));

    // Out of range is clamped; on/off parameters hold 0 or 1.
    for (auto [key, value, stored] :
         {std::tuple{"ir1_width", 1.7, 1.0f}, {"ir1_width", -0.5, 0.0f}, {"ir2_toggle", 0.7, 1.0f}}) {
        EXPECT_EQ(parameters.SetParameterNormalizedValue(key, value), host::success);
        EXPECT_EQ(current().*corvella::find_parameter(key)->slot, stored) << key << " " << value;
    }
    double normalized = -1.0;
    EXPECT_EQ(parameters.GetParameterNormalizedValue("ir2_toggle", &normalized), host::success);
    EXPECT_EQ(normalized, 1.0);

    controller.clear(); // the bypass goes to field 0 only
    EXPECT_EQ(parameters.SetParameterNormalizedValue(corvella::master_bypass_identifier, 1.0), host::success);
    ASSERT_EQ(controller.fields(), Fields{0});
    EXPECT_EQ(controller.packets[0].data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
}

TEST_F(DemoGainParametersTest, TheTwoHostNotificationsSilenceTheBuffers)
{
    char const types[][5] = {"AXof", "AXox", "AXon"};
    for (auto const& type : types) {
        clear_pending();
        EXPECT_EQ(parameters.NotificationReceived(host::four_char_code(type), nullptr, 0), host::success);
        bool const silences = type[3] != 'n';
        EXPECT_EQ(controller.fields(), silences ? Fields{18} : Fields{}) << type;
        EXPECT_EQ(pending_bytes(), silences ? std::vector<int>{6} : std::vector<int>{}) << type;
    }
}

TEST_F(DemoGainParametersTest, TheTempoIsCheckedAtMostEvery500ms)
{
    std::uint64_t now = 10000;
    parameters.set_clock([&now] { return now; });
    struct Step {
        std::uint64_t after_ms;
        double tempo;
        bool transport;
        Fields fields;
    };
    // A change is posted at once, then not before 500 ms; the same tempo or no transport posts nothing.
    for (Step step :
         {Step{0, 140, true, {6, 20, 13}}, Step{400, 150, true, {}}, Step{100, 150, true, {6, 20, 13}},
          Step{500, 150, true, {}}, Step{500, 60, false, {}}}) {
        clear_pending();
        now += step.after_ms;
        controller.tempo = step.tempo;
        controller.has_transport = step.transport;
        parameters.TimerWakeup();
        EXPECT_EQ(controller.fields(), step.fields) << now;
        EXPECT_EQ(parameters.pending_requests().tempo, step.fields.empty() ? 120.0 : step.tempo) << now;
        EXPECT_EQ(pending_bytes(), (step.fields.empty() ? std::vector<int>{} : std::vector<int>{1, 8}))
            << now;
    }
    EXPECT_EQ(parameters.host_tempo(), 150.0);
}
