// State of the parameters object: chunks (round trip, comparison, upgrade, refused and garbage
// chunks), the custom-data table, bank files and the start-up bank.
#include "host/demogain_parameters.h"

#include "host_fixture.h"
#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace host = corvella::host;
using corvella::Request;

namespace {

using Fields = std::vector<int>;

class DemoGainStateTest : public corvella::test::ParametersTest {
protected:
    host::Chunk chunk_of_live_bank()
    {
        host::Chunk chunk;
        EXPECT_EQ(parameters.GetChunk(corvella::chunk_id_all, &chunk), host::success);
        return chunk;
    }
    bool compares_equal(host::Chunk const& chunk)
    {
        bool equal = false;
        parameters.CompareActiveChunk(&chunk, &equal);
        return equal;
    }
    VST_Plugin_Program* records(host::Chunk& chunk)
    {
        return reinterpret_cast<VST_Plugin_Program*>(chunk.data.data());
    }
};

TEST_F(DemoGainStateTest, ChunkHeaderAndRoundTrip)
{
    parameters.assign_parameter_float_value("ir1_adshr_d", 0.33f, true);
    host::Chunk chunk = chunk_of_live_bank();
    EXPECT_EQ(chunk.header.size, 142656);
    EXPECT_EQ(chunk.header.version, 1);
    EXPECT_EQ(chunk.header.name[0], 11);
    EXPECT_EQ(std::string(reinterpret_cast<char const*>(chunk.header.name + 1), 11), "VST Plug-In");
    ASSERT_EQ(chunk.data.size(), 142656u);
    for (int slot = 0; slot < 48; ++slot)
        EXPECT_EQ(records(chunk)[slot].version_stamp, 2101);
    std::uint32_t size = 0;
    EXPECT_EQ(parameters.GetChunkSize(corvella::chunk_id_elck, &size), host::success);
    EXPECT_EQ(size, 142656u);
    EXPECT_EQ(parameters.GetChunkSize(host::four_char_code("abcd"), &size), host::error_unknown_id);

    auto const before = parameters.bank_copy();
    controller.clear();
    ASSERT_EQ(parameters.SetChunk(corvella::chunk_id_all, &chunk), host::success);
    EXPECT_TRUE(same_bank(before, parameters.bank_copy()));
    EXPECT_TRUE(compares_equal(chunk));
    EXPECT_TRUE(parameters.program_changed());
    // Snapshot and full recompute, then the toggles announced twice each (buffer silence each time).
    Fields const fields = controller.fields();
    Fields const head{10, 19, 12, 14, 15, 16, 17, 18, 21, 22, 23, 24, 25, 26, 28, 29, 27, 13};
    ASSERT_GE(fields.size(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), fields.begin()));
    EXPECT_EQ(std::count(fields.begin(), fields.end(), 18), 1 + 4);
    EXPECT_TRUE(same_bank(parameters.bank_copy(), parameters.snapshot_copy()));
}

TEST_F(DemoGainStateTest, ComparisonAndThePathsChangedFlag)
{
    host::Chunk chunk = chunk_of_live_bank();
    EXPECT_TRUE(compares_equal(chunk));

    // A path set and set back still counts as a change until the next chunk.
    char path[300] = {};
    std::strcpy(path, "/elsewhere/file.wav");
    ASSERT_EQ(parameters.SetCustomData(14, 300, path), host::success);
    EXPECT_TRUE(parameters.paths_changed());
    std::memset(path, 0, sizeof path);
    ASSERT_EQ(parameters.SetCustomData(14, 300, path), host::success);
    EXPECT_FALSE(compares_equal(chunk));
    ASSERT_EQ(parameters.SetChunk(corvella::chunk_id_all, &chunk), host::success);
    EXPECT_FALSE(parameters.paths_changed());
    EXPECT_TRUE(compares_equal(chunk));

    // A compared slot that differs.
    parameters.assign_parameter_float_value("pitch_mod_ir2_split_point", 0.9f, false);
    EXPECT_FALSE(compares_equal(chunk));

    // Chunks of the wrong size or identifier never compare equal.
    host::Chunk cut = chunk;
    cut.data.resize(1000);
    bool equal = true;
    EXPECT_EQ(parameters.CompareActiveChunk(&cut, &equal), host::error_invalid_size);
    EXPECT_FALSE(equal);
}

TEST_F(DemoGainStateTest, RecordComparison)
{
    VST_Plugin_Program a, b;
    std::strcpy(b.name, "Other");
    std::strcpy(b.ir1_file_a, "/x.wav");
    std::strcpy(b.ir2_file_b, "/y.wav");
    b.host_data_2 = 77;
    b.master_gain_lock_status = 1.0f;
    b.master_mix_locked_value = 0.2f;
    b.version_stamp = 5;
    b.reserved_2740[3] = 9;
    EXPECT_TRUE(DemoGain_Parameters::compare_VST_Plugin_Program_struct(a, b));

    for (auto change : std::vector<std::function<void(VST_Plugin_Program&)>>{
             [](VST_Plugin_Program& p) { p.pitch_mod_ir2_split_point = 0.5f; },
             [](VST_Plugin_Program& p) { p.current_program = 3; },
             [](VST_Plugin_Program& p) { p.ir2_er_type = 1; },
             [](VST_Plugin_Program& p) { p.master_delay_r_delay_denom = 8; },
             [](VST_Plugin_Program& p) { p.ir2_source_type = 2; },
             [](VST_Plugin_Program& p) { p.ir1_width = std::numeric_limits<float>::quiet_NaN(); },
         }) {
        VST_Plugin_Program c = a;
        change(c);
        EXPECT_FALSE(DemoGain_Parameters::compare_VST_Plugin_Program_struct(a, c));
    }
    // A NaN makes even identical records unequal; +0 and -0 are equal.
    VST_Plugin_Program n = a;
    n.lfo1_rate = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(DemoGain_Parameters::compare_VST_Plugin_Program_struct(n, n));
    VST_Plugin_Program z1 = a, z2 = a;
    z1.ir1_pre_delay = 0.0f;
    z2.ir1_pre_delay = -0.0f;
    EXPECT_TRUE(DemoGain_Parameters::compare_VST_Plugin_Program_struct(z1, z2));
}

TEST_F(DemoGainStateTest, AChunkStamped1500IsUpgraded)
{
    host::Chunk chunk = chunk_of_live_bank();
    for (int slot = 0; slot < 48; ++slot) {
        VST_Plugin_Program& record = records(chunk)[slot];
        record.version_stamp = 1500;
        record.ir1_width = 0.9f;            // v < 1531: width back to 0.5
        record.master_gain = 1.0f;          // v < 1632: rescaled to dB / 60 + 0.5
        record.ir1_topology = 1.0f;         // v < 1917: three-state topology converted
        record.ir1_source_type = 2;         // v < 1521: audio file
        record.ir1_stacked_rate = 0.1f;     // v < 1917: Fusion defaults
        record.ir1_delay_l_delay_numer = 1; // v >= 1420: the delay block stays
    }
    ASSERT_EQ(parameters.SetChunk(corvella::chunk_id_all, &chunk), host::success);
    auto const bank = parameters.bank_copy();
    for (int slot = 0; slot < 48; ++slot) {
        VST_Plugin_Program const& record = bank[static_cast<std::size_t>(slot)];
        EXPECT_EQ(record.ir1_width, 0.5f);
        EXPECT_NEAR(record.master_gain, 20.0 * std::log10(2.0) / 60.0 + 0.5, 1e-4);
        EXPECT_FLOAT_EQ(record.ir1_topology, 2.0f / 3.0f);
        EXPECT_EQ(record.ir1_source_type, 0);
        EXPECT_EQ(record.ir1_stacked_rate, 0.5f);
        EXPECT_EQ(record.ir1_delay_l_delay_numer, 1);
    }
}

TEST_F(DemoGainStateTest, WrongSizesAndGarbageNeverHalfApplyABank)
{
    parameters.assign_parameter_float_value("ir1_gain", 0.42f, false);
    host::Chunk good = chunk_of_live_bank(); // stamps the live records first
    auto const before = parameters.bank_copy();

    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{142655}, std::size_t{142657},
                             std::size_t{2 * 142656}}) {
        host::Chunk wrong = good;
        wrong.data.resize(size);
        wrong.header.size = static_cast<std::int32_t>(size);
        controller.clear();
        EXPECT_EQ(parameters.SetChunk(corvella::chunk_id_all, &wrong), host::error_invalid_size) << size;
        EXPECT_TRUE(same_bank(before, parameters.bank_copy())) << size;
        EXPECT_TRUE(controller.packets.empty()) << size;
    }
    // A header that disagrees with the data is refused as well.
    host::Chunk lying = good;
    lying.header.size = 100;
    EXPECT_EQ(parameters.SetChunk(corvella::chunk_id_all, &lying), host::error_invalid_size);
    EXPECT_TRUE(same_bank(before, parameters.bank_copy()));

    // A foreign identifier changes no record.
    host::Chunk foreign = good;
    std::memset(foreign.data.data(), 0x5A, foreign.data.size());
    EXPECT_EQ(parameters.SetChunk(host::four_char_code("xxxx"), &foreign), host::error_unknown_id);
    EXPECT_TRUE(same_bank(before, parameters.bank_copy()));

    // Random bytes of the right size are taken (never rejected for content) without any read
    // past a record: names and paths end inside their fields, the current program is in the bank.
    std::mt19937 generator(7);
    for (int round = 0; round < 8; ++round) {
        host::Chunk garbage = good;
        for (std::uint8_t& byte : garbage.data)
            byte = static_cast<std::uint8_t>(generator());
        ASSERT_EQ(parameters.SetChunk(corvella::chunk_id_all, &garbage), host::success);
        auto const bank = parameters.bank_copy();
        EXPECT_GE(bank[0].current_program, 0);
        EXPECT_LT(bank[0].current_program, 48);
        for (VST_Plugin_Program const& record : bank) {
            EXPECT_LT(strnlen(record.name, sizeof record.name), sizeof record.name);
            EXPECT_LT(strnlen(record.ir2_file_b, 300), 300u);
        }
        (void)parameters.return_parameter_float_value("master_mix");
        bool equal = false;
        parameters.CompareActiveChunk(&garbage, &equal);
    }
}

TEST_F(DemoGainStateTest, CustomDataSizes)
{
    struct Row {
        int id;
        std::uint32_t get, set;
    };
    // Typed from the table: get and set sizes, 0 for none.
    std::vector<Row> const rows{{0, 37680, 37680}, {1, 4, 4},      {3, 142656, 142656}, {5, 1, 1},
                                {6, 32, 32},       {7, 4, 0},      {10, 4, 4},          {13, 4, 4},
                                {14, 300, 300},    {17, 300, 300}, {18, 4, 4},          {43, 4, 4},
                                {50, 8, 8},        {51, 1, 1},     {52, 32, 32},        {53, 0, 37680}};
    for (Row const& row : rows) {
        corvella::CustomDataSizes const sizes = corvella::custom_data_sizes(row.id);
        EXPECT_EQ(sizes.get, row.get) << row.id;
        EXPECT_EQ(sizes.set, row.set) << row.id;
    }
    EXPECT_TRUE(corvella::custom_data_sizes(2).set_up_to);
    EXPECT_TRUE(corvella::custom_data_sizes(9).set_up_to);
    EXPECT_TRUE(corvella::custom_data_sizes(4).set_any);
    EXPECT_TRUE(corvella::custom_data_sizes(46).set_any);
    EXPECT_EQ(corvella::custom_data_sizes(54).get, 0u);

    // A wrong size transfers nothing.
    std::uint8_t buffer[64];
    std::memset(buffer, 0xEE, sizeof buffer);
    std::uint32_t written = 99;
    EXPECT_EQ(parameters.GetCustomData(1, 8, buffer, &written), host::error_invalid_size);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(parameters.GetCustomData(54, 4, buffer, &written), host::error_unknown_id);
    EXPECT_EQ(parameters.SetCustomData(54, 4, buffer), host::error_unknown_id);
    auto const before = parameters.bank_copy();
    EXPECT_EQ(parameters.SetCustomData(3, 1000, buffer), host::error_invalid_size);
    EXPECT_EQ(parameters.SetCustomData(10, 2, buffer), host::error_invalid_size);
    EXPECT_EQ(parameters.SetCustomData(1, 4, nullptr), host::error_null_argument);
    EXPECT_TRUE(same_bank(before, parameters.bank_copy()));

    // Ids 18 to 43 raise their request even when nothing was stored.
    controller.clear();
    EXPECT_EQ(parameters.SetCustomData(27, 2, buffer), host::error_invalid_size);
    EXPECT_EQ(controller.fields(), (Fields{10, 24, 13}));
    EXPECT_TRUE(same_bank(before, parameters.bank_copy()));
}

TEST_F(DemoGainStateTest, CustomDataBlocks)
{
    // Program slots: the host words keep their crossed order; 18 truncates a float.
    std::int32_t const word = 1234;
    ASSERT_EQ(parameters.SetCustomData(11, 4, &word), host::success);
    EXPECT_EQ(current().host_data_3, 1234);
    float const source = 2.9f;
    controller.clear();
    ASSERT_EQ(parameters.SetCustomData(18, 4, &source), host::success);
    EXPECT_EQ(current().ir1_source_type, 2);
    EXPECT_EQ(controller.fields(), (Fields{10, 16, 13}));
    float const nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(parameters.SetCustomData(22, 4, &nan), host::error_invalid_value);
    EXPECT_EQ(current().ir2_source_type, 0);
    float const tempo = 90.0f;
    ASSERT_EQ(parameters.SetCustomData(41, 4, &tempo), host::success);
    EXPECT_EQ(current().ir1_delay_r_tempo, 90.0f);
    std::int32_t denominator = 0;
    std::uint32_t written = 0;
    ASSERT_EQ(parameters.GetCustomData(29, 4, &denominator, &written), host::success);
    EXPECT_EQ(denominator, 16); // master_delay_r_delay_denom

    // The name: 23 characters at most.
    std::string const long_name = "abcdefghijklmnopqrstuvwxyz0123"; // 30
    ASSERT_EQ(
        parameters.SetCustomData(2, static_cast<std::uint32_t>(long_name.size() + 1), long_name.c_str()),
        host::success);
    EXPECT_STREQ(current().name, "abcdefghijklmnopqrstuvw");
    EXPECT_STREQ(parameters.snapshot_copy()[0].name, "abcdefghijklmnopqrstuvw");
    EXPECT_EQ(parameters.SetCustomData(2, 1001, long_name.c_str()), host::error_invalid_size);

    // Program change: the index, every request, the snapshot; bad indices are refused.
    std::int32_t index = 9;
    ASSERT_EQ(parameters.SetCustomData(1, 4, &index), host::success);
    std::int32_t read_back = -1;
    ASSERT_EQ(parameters.GetCustomData(1, 4, &read_back, &written), host::success);
    EXPECT_EQ(read_back, 9);
    EXPECT_EQ(parameters.snapshot_copy()[0].current_program, 9);
    for (std::int32_t bad : {-1, 48}) {
        index = bad;
        EXPECT_EQ(parameters.SetCustomData(1, 4, &index), host::error_invalid_value);
    }

    // The request block reports size 1; the status block 0 while it is all zero.
    corvella::PendingRequests block{};
    ASSERT_EQ(parameters.GetCustomData(52, 32, &block, &written), host::success);
    EXPECT_EQ(written, 1u);
    std::vector<std::uint8_t> status(37680, 0);
    ASSERT_EQ(parameters.GetCustomData(0, 37680, status.data(), &written), host::success);
    EXPECT_EQ(written, 0u);
    status[100] = 1;
    ASSERT_EQ(parameters.SetCustomData(0, 37680, status.data()), host::success);
    ASSERT_EQ(parameters.GetCustomData(0, 37680, status.data(), &written), host::success);
    EXPECT_EQ(written, 37680u);

    // 53: the status block and a partial recompute of both IRs.
    controller.clear();
    ASSERT_EQ(parameters.SetCustomData(53, 37680, status.data()), host::success);
    EXPECT_EQ(controller.fields(), (Fields{10, 10, 14, 13, 10, 15, 13}));

    // Sample rate from the host; tempo refused unless finite and positive.
    float rate = 0.0f;
    ASSERT_EQ(parameters.GetCustomData(7, 4, &rate, &written), host::success);
    EXPECT_EQ(rate, 48000.0f);
    for (double bad : {0.0, -5.0, std::numeric_limits<double>::infinity()})
        EXPECT_EQ(parameters.SetCustomData(50, 8, &bad), host::error_invalid_value);
    double host_tempo = 0.0;
    controller.tempo = 133.0;
    ASSERT_EQ(parameters.GetCustomData(50, 8, &host_tempo, &written), host::success);
    EXPECT_EQ(host_tempo, 133.0);

    // Menus: item 5 of the IR2 menu resets IR2; the flag is set.
    parameters.assign_parameter_float_value("ir2_adshr_d", 0.8f, false);
    std::int32_t const item = 5;
    ASSERT_EQ(parameters.SetCustomData(45, 4, &item), host::success);
    EXPECT_EQ(current().ir2_adshr_d, 0.0f);
    EXPECT_TRUE(parameters.program_changed());
}

TEST_F(DemoGainStateTest, FilePathsAndTheLostLocationList)
{
    std::filesystem::path const file = data_.path() / "room.wav";
    std::ofstream(file) << "x";
    char block[300] = {};
    std::strcpy(block, file.c_str());
    controller.clear();
    ASSERT_EQ(parameters.SetCustomData(16, 300, block), host::success);
    EXPECT_STREQ(current().ir2_file_a, file.c_str());
    // The IR2 gain is re-asserted (snapshot and change), then the full request of IR2.
    EXPECT_EQ(controller.fields(), (Fields{10, 13, 10, 17, 13}));
    auto const locations = parameters.lost_locations();
    ASSERT_FALSE(locations.empty());
    EXPECT_EQ(locations.back(), file.string());

    // A block without a terminator leaves the path as it was.
    std::memset(block, 'a', sizeof block);
    ASSERT_EQ(parameters.SetCustomData(16, 300, block), host::success);
    EXPECT_STREQ(current().ir2_file_a, file.c_str());
    EXPECT_EQ(parameters.SetCustomData(16, 299, block), host::error_invalid_size);
}

class BankFileTest : public DemoGainStateTest {
protected:
    std::filesystem::path write_bank_file(std::size_t size, float ir1_width)
    {
        std::vector<VST_Plugin_Program> bank(48);
        for (VST_Plugin_Program& record : bank) {
            record.ir1_width = ir1_width;
            record.version_stamp = 2101;
        }
        std::vector<char> bytes(size, 0);
        std::memcpy(bytes.data() + 160, bank.data(),
                    std::min<std::size_t>(corvella::bank_size_bytes, size - 160));
        std::filesystem::path const path = data_.path() / ("bank-" + std::to_string(size) + ".fxb");
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
};

TEST_F(BankFileTest, OnlyBankSizedFilesAreLoaded)
{
    EXPECT_TRUE(parameters.set_chunk_from_file_in_aax(write_bank_file(142816, 0.25f).c_str()));
    EXPECT_EQ(parameters.bank_copy()[47].ir1_width, 0.25f);
    EXPECT_TRUE(parameters.set_chunk_from_file_in_aax(write_bank_file(142818, 0.75f).c_str()));
    EXPECT_EQ(parameters.bank_copy()[47].ir1_width, 0.75f);

    // A host preset file (142,714 bytes) through custom data 9, a missing file, no path.
    std::string const preset = write_bank_file(142714, 0.1f).string();
    EXPECT_EQ(parameters.SetCustomData(9, static_cast<std::uint32_t>(preset.size() + 1), preset.c_str()),
              host::error_invalid_value);
    EXPECT_FALSE(parameters.set_chunk_from_file_in_aax((data_.path() / "missing.fxb").c_str()));
    EXPECT_FALSE(parameters.set_chunk_from_file_in_aax(""));
    EXPECT_FALSE(parameters.set_chunk_from_file_in_aax(nullptr));
    EXPECT_EQ(parameters.bank_copy()[47].ir1_width, 0.75f);

    // 8 raises the program change first, then loads.
    std::string const bank = write_bank_file(142816, 0.5f).string();
    controller.clear();
    EXPECT_EQ(parameters.SetCustomData(8, static_cast<std::uint32_t>(bank.size() + 1), bank.c_str()),
              host::success);
    EXPECT_EQ(controller.fields().front(), 19);
    EXPECT_EQ(parameters.bank_copy()[3].ir1_width, 0.5f);
    EXPECT_EQ(parameters.snapshot_copy()[3].ir1_width, 0.5f);
}

TEST_F(DemoGainStateTest, StartUpBank)
{
    // The fixture asks for an empty initial preset.
    EXPECT_STREQ(current().ir1_file_a, "");
    std::string const factory = data_.path().string() + "/Audio/Impulse Responses/Tarnwick/Corvella/";
    auto const locations = parameters.lost_locations();
    std::vector<std::string> const expected{
        factory + "Factory/anyoldfile.wav", factory + "Factory 2/anyoldfile.wav",
        factory + "OpenAirLib/anyoldfile.wav", factory + "Factory-flac/anyoldfile.flac"};
    EXPECT_EQ(locations, expected);

    // Without the setting the default file is used and the setting is stored as 0.
    write_settings(corvella::test::settings_document({{corvella::test::user_value("WetLock"), "0"}}));
    DemoGain_Parameters fresh;
    fresh.initialise_presets();
    EXPECT_EQ(std::string(fresh.bank_copy()[0].ir1_file_a), factory + "Factory 2/LongPlate-01-44100Hz.wav");
    EXPECT_EQ(extract_data_from_registry_int("AAXEmptyInitialPreset"), 0);
    // First run: "HideLowerPane" missing.
    EXPECT_EQ(extract_data_from_registry_initial_presets(), "1");
}

} // namespace
