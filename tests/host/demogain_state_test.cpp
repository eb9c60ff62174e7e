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

namespace {

using Fields = std::vector<int>;
using P = VST_Plugin_Program;

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
    static P* records(host::Chunk& chunk) { return reinterpret_cast<P*>(chunk.data.data()); }
};

TEST_F(DemoGainStateTest, ChunkHeaderAndRoundTrip)
{
    parameters.assign_parameter_float_value("ir1_adshr_d", 0.33f, true);
    host::Chunk chunk = chunk_of_live_bank();
    EXPECT_EQ(chunk.header.size, 142656);
    EXPECT_EQ(chunk.header.version, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char const*>(chunk.header.name), 12), "\x0bVST Plug-In");
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
    EXPECT_TRUE(same_bank(before, parameters.snapshot_copy()));
    EXPECT_TRUE(compares_equal(chunk));
    EXPECT_TRUE(parameters.program_changed());
    // Snapshot and full recompute, then the toggles announced twice each (buffer silence each time).
    Fields const fields = controller.fields(),
                 head{10, 19, 12, 14, 15, 16, 17, 18, 21, 22, 23, 24, 25, 26, 28, 29, 27, 13};
    ASSERT_GE(fields.size(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), fields.begin()));
    EXPECT_EQ(std::count(fields.begin(), fields.end(), 18), 1 + 4);
}

TEST_F(DemoGainStateTest, ComparisonAndThePathsChangedFlag)
{
    host::Chunk chunk = chunk_of_live_bank();
    EXPECT_TRUE(compares_equal(chunk));
    // A path set and set back still counts as a change until the next chunk.
    char path[300] = "/elsewhere/file.wav";
    ASSERT_EQ(set(14, path), host::success);
    EXPECT_TRUE(parameters.paths_changed());
    std::memset(path, 0, sizeof path);
    ASSERT_EQ(set(14, path), host::success);
    EXPECT_FALSE(compares_equal(chunk));
    ASSERT_EQ(parameters.SetChunk(corvella::chunk_id_all, &chunk), host::success);
    EXPECT_FALSE(parameters.paths_changed());
    EXPECT_TRUE(compares_equal(chunk));
    parameters.assign_parameter_float_value("pitch_mod_ir2_split_point", 0.9f, false);
    EXPECT_FALSE(compares_equal(chunk));
    host::Chunk cut = chunk;
    cut.data.resize(1000);
    bool equal = true;
    EXPECT_EQ(parameters.CompareActiveChunk(&cut, &equal), host::error_invalid_size);
    EXPECT_FALSE(equal);

    // Records: names, paths, host words, locks, the stamp and reserved slots are not compared; a NaN
    // is unequal even to itself; +0 and -0 are equal.
    P a, b;
    std::strcpy(b.name, "Other");
    std::strcpy(b.ir1_file_a, "/x.wav");
    b.host_data_2 = 77;
    b.master_gain_lock_status = 1.0f;
    b.master_mix_locked_value = 0.2f;
    b.version_stamp = 5;
    b.reserved_2740[3] = 9;
    b.ir1_pre_delay = -0.0f;
    EXPECT_TRUE(DemoGain_Parameters::compare_VST_Plugin_Program_struct(a, b));
    for (auto change : std::vector<std::function<void(P&)>>{
             [](P& p) { p.pitch_mod_ir2_split_point = 0.5f; }, [](P& p) { p.current_program = 3; },
             [](P& p) { p.ir2_er_type = 1; }, [](P& p) { p.master_delay_r_delay_denom = 8; },
             [](P& p) { p.ir2_source_type = 2; }, [](P& p) { p.ir1_width = std::nanf(""); }}) {
        P c = a;
        change(c);
        EXPECT_FALSE(DemoGain_Parameters::compare_VST_Plugin_Program_struct(a, c));
        EXPECT_EQ(DemoGain_Parameters::compare_VST_Plugin_Program_struct(c, c), !std::isnan(c.ir1_width));
    }
}

TEST_F(DemoGainStateTest, AChunkStamped1500IsUpgraded)
{
    host::Chunk chunk = chunk_of_live_bank();
    for (int slot = 0; slot < 48; ++slot) {
        records(chunk)[slot].version_stamp = 1500;
        records(chunk)[slot].ir1_width = 0.9f;            // v < 1531: width back to 0.5
        records(chunk)[slot].master_gain = 1.0f;          // v < 1632: rescaled to dB / 60 + 0.5
        records(chunk)[slot].ir1_delay_l_delay_numer = 1; // v >= 1420: the delay block stays
    }
    ASSERT_EQ(parameters.SetChunk(corvella::chunk_id_all, &chunk), host::success);
    for (P const& record : parameters.bank_copy()) {
        EXPECT_EQ(record.ir1_width, 0.5f);
        EXPECT_NEAR(record.master_gain, 20.0 * std::log10(2.0) / 60.0 + 0.5, 1e-4);
        EXPECT_EQ(record.ir1_delay_l_delay_numer, 1);
        EXPECT_EQ(record.version_stamp, 1500);
    }
}

TEST_F(DemoGainStateTest, WrongSizesForeignIdsAndGarbageNeverHalfApplyABank)
{
    parameters.assign_parameter_float_value("ir1_gain", 0.42f, false);
    host::Chunk good = chunk_of_live_bank(); // stamps the live records first
    auto const before = parameters.bank_copy();
    // Data sizes with the header's size; the last header disagrees with its data.
    for (auto [size, header] :
         {std::pair{0, 0}, {1, 1}, {142655, 142655}, {142657, 142657}, {285312, 285312}, {142656, 100}}) {
        host::Chunk wrong = good;
        wrong.data.resize(static_cast<std::size_t>(size));
        wrong.header.size = header;
        controller.clear();
        EXPECT_EQ(parameters.SetChunk(corvella::chunk_id_all, &wrong), host::error_invalid_size) << size;
        EXPECT_TRUE(same_bank(before, parameters.bank_copy())) << size;
        EXPECT_TRUE(controller.packets.empty()) << size;
    }
    host::Chunk foreign = good;
    std::memset(foreign.data.data(), 0x5A, foreign.data.size());
    EXPECT_EQ(parameters.SetChunk(host::four_char_code("xxxx"), &foreign), host::error_unknown_id);
    EXPECT_TRUE(same_bank(before, parameters.bank_copy()));

    // Random bytes of the right size are taken without any read past a record: names and paths end
    // inside their fields, the current program is in the bank.
    std::mt19937 generator(7);
    for (int round = 0; round < 8; ++round) {
        host::Chunk garbage = good;
        for (std::uint8_t& byte : garbage.data)
            byte = static_cast<std::uint8_t>(generator());
        ASSERT_EQ(parameters.SetChunk(corvella::chunk_id_all, &garbage), host::success);
        auto const bank = parameters.bank_copy();
        EXPECT_TRUE(bank[0].current_program >= 0 && bank[0].current_program < 48);
        for (P const& record : bank)
            EXPECT_TRUE(strnlen(record.name, 24) < 24 && strnlen(record.ir2_file_b, 300) < 300);
        (void)parameters.return_parameter_float_value("master_mix");
        compares_equal(garbage);
    }
}

TEST_F(DemoGainStateTest, CustomDataSizesAndWrongSizes)
{
    struct Row {
        int id;
        std::uint32_t get, set;
    };
    // clang-format off
    Row const rows[] = {{0, 37680, 37680}, {1, 4, 4}, {3, 142656, 142656}, {5, 1, 1}, {6, 32, 32}, {7, 4, 0},
                        {10, 4, 4}, {13, 4, 4}, {14, 300, 300}, {17, 300, 300}, {18, 4, 4}, {43, 4, 4},
                        {50, 8, 8}, {51, 1, 1}, {52, 32, 32}, {53, 0, 37680}, {54, 0, 0}};
    // clang-format on
    for (Row const& row : rows) {
        corvella::CustomDataSizes const sizes = corvella::custom_data_sizes(row.id);
        EXPECT_EQ(sizes.get, row.get) << row.id;
        EXPECT_EQ(sizes.set, row.set) << row.id;
    }
    for (int id : {2, 9})
        EXPECT_TRUE(corvella::custom_data_sizes(id).set_up_to) << id;
    for (int id : {4, 46})
        EXPECT_TRUE(corvella::custom_data_sizes(id).set_any) << id;

    std::uint8_t buffer[64];
    std::memset(buffer, 0xEE, sizeof buffer);
    std::uint32_t written = 99;
    EXPECT_EQ(parameters.GetCustomData(1, 8, buffer, &written), host::error_invalid_size);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(parameters.GetCustomData(54, 4, buffer, &written), host::error_unknown_id);
    EXPECT_EQ(set(54, 4, buffer), host::error_unknown_id);
    auto const before = parameters.bank_copy();
    EXPECT_EQ(set(3, 1000, buffer), host::error_invalid_size);
    EXPECT_EQ(set(10, 2, buffer), host::error_invalid_size);
    EXPECT_EQ(set(1, 4, nullptr), host::error_null_argument);
    EXPECT_EQ(set(2, 1001, buffer), host::error_invalid_size);
    controller.clear(); // ids 18 to 43 raise their request even when nothing was stored
    EXPECT_EQ(set(27, 2, buffer), host::error_invalid_size);
    EXPECT_EQ(controller.fields(), (Fields{10, 24, 13}));
    EXPECT_TRUE(same_bank(before, parameters.bank_copy()));
}

TEST_F(DemoGainStateTest, CustomDataBlocks)
{
    controller.clear();
    ASSERT_EQ(set(18, 2.9f), host::success); // a source type truncates the float
    EXPECT_EQ(current().ir1_source_type, 2);
    EXPECT_EQ(controller.fields(), (Fields{10, 16, 13}));
    EXPECT_EQ(set(22, std::nanf("")), host::error_invalid_value);
    EXPECT_EQ(current().ir2_source_type, 0);

    std::string const long_name = "abcdefghijklmnopqrstuvwxyz0123"; // 30 characters, 23 kept
    ASSERT_EQ(set(2, static_cast<std::uint32_t>(long_name.size() + 1), long_name.c_str()), host::success);
    EXPECT_STREQ(current().name, "abcdefghijklmnopqrstuvw");
    EXPECT_STREQ(parameters.snapshot_copy()[0].name, "abcdefghijklmnopqrstuvw");

    ASSERT_EQ(set(1, std::int32_t{9}), host::success); // program change; bad indices are refused
    EXPECT_EQ(parameters.snapshot_copy()[0].current_program, 9);
    for (std::int32_t bad : {-1, 48})
        EXPECT_EQ(set(1, bad), host::error_invalid_value);
    for (double bad : {0.0, -5.0, std::numeric_limits<double>::infinity()}) // tempo: finite and positive
        EXPECT_EQ(set(50, bad), host::error_invalid_value);
}

TEST_F(DemoGainStateTest, FilePathsRaiseTheFullRequestOfTheirIr)
{
    char block[300] = "/irs/room.wav";
    controller.clear();
    ASSERT_EQ(set(16, block), host::success);
    EXPECT_STREQ(current().ir2_file_a, "/irs/room.wav");
    // The IR2 gain is re-asserted (snapshot and change), then the full request of IR2.
    EXPECT_EQ(controller.fields(), (Fields{10, 13, 10, 17, 13}));
    std::memset(block, 'a', sizeof block); // no terminator: the path stays
    ASSERT_EQ(set(16, block), host::success);
    EXPECT_STREQ(current().ir2_file_a, "/irs/room.wav");
    EXPECT_EQ(set(16, 299, block), host::error_invalid_size);
}

TEST_F(DemoGainStateTest, OnlyBankSizedFilesAreLoaded)
{
    auto const bank_file = [this](std::size_t size, float ir1_width) {
        std::vector<P> bank(48);
        for (P& record : bank) {
            record.ir1_width = ir1_width;
            record.version_stamp = 2101;
        }
        std::vector<char> bytes(size, 0);
        std::memcpy(bytes.data() + 160, bank.data(),
                    std::min<std::size_t>(corvella::bank_size_bytes, size - 160));
        std::filesystem::path const path = data_.path() / ("bank-" + std::to_string(size) + ".fxb");
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    };
    EXPECT_TRUE(parameters.set_chunk_from_file_in_aax(bank_file(142816, 0.25f).c_str()));
    EXPECT_EQ(parameters.bank_copy()[47].ir1_width, 0.25f);
    EXPECT_TRUE(parameters.set_chunk_from_file_in_aax(bank_file(142818, 0.75f).c_str()));
    EXPECT_EQ(parameters.bank_copy()[47].ir1_width, 0.75f);
    // A host preset file (142,714 bytes) through custom data 9, a missing file, no path.
    std::string const preset = bank_file(142714, 0.1f);
    EXPECT_EQ(set(9, static_cast<std::uint32_t>(preset.size() + 1), preset.c_str()),
              host::error_invalid_value);
    EXPECT_FALSE(parameters.set_chunk_from_file_in_aax((data_.path() / "missing.fxb").c_str()));
    EXPECT_FALSE(parameters.set_chunk_from_file_in_aax(""));
    EXPECT_FALSE(parameters.set_chunk_from_file_in_aax(nullptr));
    EXPECT_EQ(parameters.bank_copy()[47].ir1_width, 0.75f);
    // 8 raises the program change first, then loads.
    std::string const bank = bank_file(142816, 0.5f);
    controller.clear();
    EXPECT_EQ(set(8, static_cast<std::uint32_t>(bank.size() + 1), bank.c_str()), host::success);
    EXPECT_EQ(controller.fields().front(), 19);
    EXPECT_EQ(parameters.bank_copy()[3].ir1_width, 0.5f);
    EXPECT_EQ(parameters.snapshot_copy()[3].ir1_width, 0.5f);
}

TEST_F(DemoGainStateTest, StartUpBank)
{
    EXPECT_STREQ(current().ir1_file_a, ""); // the fixture asks for an empty initial preset
    std::string const factory = data_.path().string() + "/Audio/Impulse Responses/Tarnwick/Corvella/";
    EXPECT_EQ(parameters.lost_locations(),
              (std::vector<std::string>{
                  factory + "Factory/anyoldfile.wav", factory + "Factory 2/anyoldfile.wav",
                  factory + "OpenAirLib/anyoldfile.wav", factory + "Factory-flac/anyoldfile.flac"}));
    // Without the setting the default file is used and the setting is stored as 0.
    write_settings(corvella::test::settings_document({{corvella::test::user_value("WetLock"), "0"}}));
    DemoGain_Parameters fresh;
    fresh.initialise_presets();
    EXPECT_EQ(std::string(fresh.bank_copy()[0].ir1_file_a), factory + "Factory 2/LongPlate-01-44100Hz.wav");
    EXPECT_EQ(extract_data_from_registry_int("AAXEmptyInitialPreset"), 0);
    EXPECT_EQ(extract_data_from_registry_initial_presets(), "1"); // first run: "HideLowerPane" missing
}

} // namespace
