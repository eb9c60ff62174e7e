// Parameter application: every key of every request list against every classifier, the request
// order and fields, the program selector, and reading and writing values by key.
#include "program/parameter_application.h"
#include "program/parameter_table.h"
#include "program/vst_plugin_program.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

using corvella::Request;

namespace {

using Keys = std::vector<std::string>;

// IR2's lists are IR1's with ir1 / IR1 replaced by ir2 / IR2.
Keys to_ir2(Keys keys)
{
    for (std::string& key : keys)
        for (char const* from : {"ir1", "IR1"})
            if (auto const at = key.find(from); at != std::string::npos) key[at + 2] = '2';
    return keys;
}

// prefix + band + "_" + part for the bands 1 to 5.
void add_bands(Keys& keys, std::string const& prefix, std::initializer_list<char const*> parts)
{
    for (char band = '1'; band <= '5'; ++band)
        for (char const* part : parts)
            keys.push_back(prefix + band + "_" + part);
}

// clang-format off
Keys partial_ir1()
{
    Keys keys{"ir1_user_resample_factor", "ir1_crop_from_start", "ir1_crop_from_end", "ir1_reverse",
              "ir1_adshr_a", "ir1_adshr_d", "ir1_adshr_s", "ir1_adshr_h", "ir1_adshr_r", "ir1_pre_delay",
              "ir1_adshr_a_alpha", "ir1_adshr_d_alpha", "ir1_adshr_r_alpha", "ir1_adshr_a_alpha_inv",
              "ir1_adshr_d_alpha_inv", "ir1_adshr_r_alpha_inv", "ir1_width", "ir1_er_size",
              "ir1_er_diffusion", "ir1_er_distance", "ir1_er_position", "ir1_er_separation", "ir1_er_type",
              "ir1_er_depth",
              "ir1_tail_length", "ir1_tail_diffusion", "ir1_tail_variant", "ir1_tail_diffuse_length",
              "ir1_flt_master_toggle", "ir1_additive_noise_wet", "pitch_mod_ir1_split_point",
              "pitch_mod_ir1_section1_toggle", "pitch_mod_ir1_section2_toggle", "ir1_normalise",
              "ir1_stacked_head_tail_mix", "ir1_stacked_depth", "ir1_stacked_head_permit_mod",
              "force_partial_recompute_IR1"};
    add_bands(keys, "ir1_flt", {"toggle", "mode", "freq", "gain", "q", "freq_to", "freq_to_start",
                                "freq_to_end", "gain_to", "gain_to_start", "gain_to_end", "freq_mod_shape",
                                "gain_mod_shape"});
    return keys;
}

Keys full_ir1()
{
    return {"ir1_sts_toggle", "ir1_sts_relative_gain", "ir1_sts_high_pass_freq", "ir1_sts_high_pass_toggle",
            "ir1_sts_pre_delay", "ir1_er_size", "ir1_er_diffusion", "ir1_er_distance", "ir1_er_position",
            "ir1_er_separation", "ir1_er_depth", "ir1_tail_length", "ir1_tail_diffusion", "ir1_tail_variant",
            "ir1_tail_diffuse_length", "ir1_flt_master_toggle", "ir1_additive_noise_wet",
            "ir1_stacked_head_tail_mix", "ir1_stacked_depth", "ir1_stacked_head_permit_mod",
            "force_full_recompute_IR1"};
}

Keys chorus(std::string const& block)
{
    Keys keys{"force_recompute_chorus_" + block};
    for (char const* part :
         {"feedback", "width", "dry", "wet", "delay_ms", "delay_mod_ms", "delay_mod_rate_hz", "toggle"})
        keys.push_back("chorus_" + block + "_" + part);
    return keys;
}

Keys pitch_ir1()
{
    return {"pitch_mod_ir1_split_point", "pitch_mod_ir1_section1_toggle", "pitch_mod_ir1_section1_mod_rate",
            "pitch_mod_ir1_section1_mod_depth", "pitch_mod_ir1_section2_toggle",
            "pitch_mod_ir1_section2_mod_rate", "pitch_mod_ir1_section2_mod_depth",
            "force_recompute_pitch_delay_ir1"};
}

Keys delay(std::string const& block, std::string const& request_a, std::string const& request_b)
{
    Keys keys{block + "_delay_dry", request_a, request_b};
    for (char const* part : {"toggle", "delay_mod", "delay_mod_rate", "feedback", "feedback_opposite", "wet",
                             "tempo_lock", "delay_numer", "delay_denom", "tempo"})
        for (char const* side : {"l", "r"})
            keys.push_back(block + "_delay_" + side + "_" + part);
    return keys;
}

Keys master_filter()
{
    Keys keys{"lfo1_rate", "lfo2_rate", "lfo3_rate", "flt_master_toggle", "force_master_filter_recompute",
              "force_master_filter_coeffs"};
    add_bands(keys, "flt", {"toggle", "mode", "freq", "freq_mod", "freq_mod_phase", "gain", "gain_mod",
                            "gain_mod_phase", "q"});
    return keys;
}
// clang-format on

struct ListCase {
    char const* name;
    bool (*classifier)(char const*);
    Request request;
    Keys keys;
    std::size_t size;
};

// In the order a change raises the requests.
std::vector<ListCase> const& lists()
{
    Keys const silence{"ir1_toggle",
                       "ir2_toggle",
                       "pitch_mod_ir1_split_point",
                       "pitch_mod_ir1_section1_toggle",
                       "pitch_mod_ir1_section2_toggle",
                       "pitch_mod_ir2_split_point",
                       "pitch_mod_ir2_section1_toggle",
                       "pitch_mod_ir2_section2_toggle"};
    static std::vector<ListCase> const all{
        {"buffer silence", test_require_buffer_silence, Request::buffer_silence, silence, 8},
        {"partial IR1", test_require_partial_recompute_IR1, Request::partial_recompute_ir1, partial_ir1(),
         103},
        {"partial IR2", test_require_partial_recompute_IR2, Request::partial_recompute_ir2,
         to_ir2(partial_ir1()), 103},
        {"full IR1", test_require_full_recompute_IR1, Request::full_recompute_ir1, full_ir1(), 21},
        {"full IR2", test_require_full_recompute_IR2, Request::full_recompute_ir2, to_ir2(full_ir1()), 21},
        {"chorus master", test_require_chorus_master, Request::chorus_master, chorus("master"), 9},
        {"chorus IR1", test_require_chorus_IR1, Request::chorus_ir1, chorus("ir1"), 9},
        {"chorus IR2", test_require_chorus_IR2, Request::chorus_ir2, chorus("ir2"), 9},
        {"pitch delay IR1", test_require_pitch_delay_IR1, Request::pitch_delay_ir1, pitch_ir1(), 8},
        {"pitch delay IR2", test_require_pitch_delay_IR2, Request::pitch_delay_ir2, to_ir2(pitch_ir1()), 8},
        {"delay master", test_require_delay_master, Request::delay_master,
         delay("master", "force_recompute_master_delay", "force_master_delay_recompute"), 23},
        {"delay IR1", test_require_delay_IR1, Request::delay_ir1,
         delay("ir1", "force_recompute_ir1_delay", "force_ir1_delay_recompute"), 23},
        {"delay IR2", test_require_delay_IR2, Request::delay_ir2,
         delay("ir2", "force_recompute_ir2_delay", "force_ir2_delay_recompute"), 23},
        {"master filter", test_require_master_filter_coeffs, Request::master_filter_coeffs, master_filter(),
         51},
    };
    return all;
}

} // namespace

// The universe holds every list key, every host parameter key (so the keys in no list, such as the
// gains, mixes, balances, topologies and locks, are asked too) and near misses.
TEST(RequestClassification, EveryKeyIsInExactlyTheListsThatNameIt)
{
    std::set<std::string> universe = {
        "ir2_tail_variant", "master_gain_lock_status",     "no_such_key", "",           "IR1_toggle",
        "Ir1_toggle",       "force_partial_recompute_ir1", "ir1_toggle ", "ir3_er_size"};
    for (ListCase const& list : lists())
        universe.insert(list.keys.begin(), list.keys.end());
    for (corvella::ParameterRow const& row : corvella::parameter_table())
        universe.insert(row.key);
    for (ListCase const& list : lists()) {
        std::set<std::string> const members(list.keys.begin(), list.keys.end());
        ASSERT_EQ(members.size(), list.size)
            << list.name << ": the typed list has duplicates or a wrong count";
        for (std::string const& key : universe)
            EXPECT_EQ(list.classifier(key.c_str()), members.contains(key))
                << list.name << " / \"" << key << '"';
        EXPECT_FALSE(list.classifier(nullptr)) << list.name;
    }
}

TEST(RequestClassification, OrderAndFieldsOfTheRequests)
{
    ASSERT_EQ(corvella::request_classifiers.size(), lists().size());
    for (std::size_t i = 0; i < lists().size(); ++i) {
        EXPECT_EQ(corvella::request_classifiers[i].accepts, lists()[i].classifier) << lists()[i].name;
        EXPECT_EQ(corvella::request_classifiers[i].request, lists()[i].request) << lists()[i].name;
    }
    for (auto [request, field] : {std::pair{Request::initialise, 12},
                                  {Request::parameters_changed, 13},
                                  {Request::buffer_silence, 18},
                                  {Request::program_change, 19},
                                  {Request::tempo_changed, 20},
                                  {Request::master_filter_coeffs, 27},
                                  {Request::pitch_delay_ir2, 29}})
        EXPECT_EQ(corvella::request_field(request), field);
}

TEST(ProgramSelector, ValueToProgram)
{
    float const nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (auto [value, program] : {std::pair{0.5f, 24},
                                  {0.0005f, -1},
                                  {0.001f, -1},
                                  {0.0011f, 0},
                                  {0.99f, 47},
                                  {1.0f, -1},
                                  {nan, -1},
                                  {inf, -1}})
        EXPECT_EQ(corvella::program_from_selector_value(value), program) << value;
}

TEST(ParameterValues, GoToTheCurrentProgramAndTheLockRecord)
{
    std::unique_ptr<VST_Plugin_Program[]> bank{new VST_Plugin_Program[corvella::programs_per_bank]};
    bank[0].current_program = 5;
    ASSERT_TRUE(corvella::store_parameter_value(bank.get(), "ir1_adshr_d", 0.25f));
    EXPECT_EQ(bank[5].ir1_adshr_d, 0.25f);
    EXPECT_EQ(bank[0].ir1_adshr_d, 0.0f);
    // The lock switches live in record 0 whatever program is current; a partial lock blends the two
    // values in double precision.
    ASSERT_TRUE(corvella::store_parameter_value(bank.get(), "master_mix_lock_status", 0.25f));
    EXPECT_EQ(bank[0].master_mix_lock_status, 0.25f);
    EXPECT_EQ(bank[5].master_mix_lock_status, 0.0f);
    bank[0].master_mix_locked_value = 0.9f;
    bank[5].master_mix = 0.1f;
    EXPECT_DOUBLE_EQ(corvella::read_parameter_value(bank.get(), "master_mix"),
                     0.25 * double(0.9f) + 0.75 * double(0.1f));

    // Keys without a slot store nothing and read 0; a current program outside the bank counts as 0.
    VST_Plugin_Program const before = bank[5];
    for (char const* key :
         {"no_such_key", "force_full_recompute_IR1", "automated_prog_num_sel", "ir1_er_type"}) {
        EXPECT_FALSE(corvella::store_parameter_value(bank.get(), key, 0.5f)) << key;
        EXPECT_EQ(corvella::read_parameter_value(bank.get(), key), 0.0) << key;
    }
    EXPECT_EQ(std::memcmp(&before, &bank[5], sizeof before), 0);
    EXPECT_FALSE(corvella::store_parameter_value(bank.get(), nullptr, 0.5f));
    EXPECT_FALSE(corvella::store_parameter_value(nullptr, "master_gain", 0.5f));
    for (int index : {-1, 48, 1 << 30}) {
        bank[0].current_program = index;
        bank[0].ir1_width = 0.0f;
        EXPECT_EQ(corvella::current_program_index(bank.get()), 0);
        ASSERT_TRUE(corvella::store_parameter_value(bank.get(), "ir1_width", 0.125f));
        EXPECT_EQ(bank[0].ir1_width, 0.125f) << index;
    }
}
