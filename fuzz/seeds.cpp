#include "fuzz/seeds.h"

#include "fuzz/fuzz_support.h"
#include "host/bank_files.h"
#include "ir/fir_file.h"
#include "platform/xml_io.h"
#include "program/vst_plugin_program.h"

#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace corvella::fuzz {

namespace {

std::string slurp(std::filesystem::path const& file)
{
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
}

// A short decaying tone in the given container and encoding.
std::string sound_file(int format, int channels, int rate, int frames)
{
    std::filesystem::path const path = private_home() / "scratch" / "seed.snd";
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return {};
    std::vector<float> samples(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[static_cast<std::size_t>(i * channels + c)] =
                0.5f * std::exp(-6.0f * static_cast<float>(i) / static_cast<float>(frames)) *
                std::sin(0.3f * static_cast<float>(i * (c + 1)));
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    return slurp(path);
}

// A ".wir" file: a 32-bit float WAVE file whose RIFF and WAVE magic and the low byte of its
// bits-per-sample field are overwritten, as the format has them.
std::string wir_file(int channels, int frames)
{
    std::string bytes = sound_file(SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, 44100, frames);
    if (bytes.size() < 35) return bytes;
    std::memcpy(bytes.data(), "wvIR", 4);
    std::memcpy(bytes.data() + 8, "vers", 4);
    bytes[34] = 0;
    return bytes;
}

std::string fir_file(int head_channels, int tail_channels, int head_length, int tail_length)
{
    fir_contents contents;
    contents.sample_rate = 48000;
    contents.head_gain_db = -3.0f;
    contents.tail_gain_db = -20.0f;
    contents.gain_db = 1.5f;
    for (int c = 0; c < head_channels; ++c)
        contents.head.emplace_back(static_cast<std::size_t>(head_length), 0.25f / static_cast<float>(c + 1));
    for (int c = 0; c < tail_channels; ++c)
        contents.tail.emplace_back(static_cast<std::size_t>(tail_length), -0.125f / static_cast<float>(c + 1));
    std::string error;
    return fir_file_bytes(contents, error);
}

std::vector<VST_Plugin_Program> sample_bank()
{
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    std::strcpy(bank[3].name, "Bright Hall");
    std::strcpy(bank[3].ir1_file_a, "/nowhere/Halls/Bright-L.wav");
    std::strcpy(bank[3].ir1_file_b, "/nowhere/Halls/Bright-R.wav");
    bank[3].master_mix = 0.35f;
    bank[0].current_program = 3;
    return bank;
}

std::string bytes_of(std::vector<VST_Plugin_Program> const& bank)
{
    return std::string(reinterpret_cast<char const*>(bank.data()), bank_size_bytes);
}

// A patch in the overlay form: four bytes of offset, then the bytes laid there.
std::string patch(std::uint32_t offset, std::string const& bytes)
{
    std::string out(4, '\0');
    for (int k = 0; k < 4; ++k)
        out[static_cast<std::size_t>(k)] = static_cast<char>((offset >> (8 * k)) & 0xffu);
    return out + bytes;
}

std::string record_bytes(VST_Plugin_Program const& program)
{
    return std::string(reinterpret_cast<char const*>(&program), sizeof program);
}

// A custom-data input: the id, the options byte, the data.
std::string custom(int id, bool fit, std::string const& data)
{
    return std::string(1, static_cast<char>(id)) + std::string(1, fit ? '\1' : '\0') + data;
}

template <typename T> std::string raw(T const& value)
{
    return std::string(reinterpret_cast<char const*>(&value), sizeof value);
}

std::string settings_document()
{
    std::filesystem::path const file = private_home() / "scratch" / "seed.xml";
    std::filesystem::remove(file);
    {
        CXmlIO io(file);
        io.SetValue("HKEY_CURRENT_USER\\SOFTWARE\\Tarnwick\\Corvella", "Latency", "256");
    }
    {
        CXmlIO io(file);
        io.SetValue("HKEY_CURRENT_USER\\SOFTWARE\\Tarnwick\\Corvella", "BrowserDir0", "/home/someone/IRs ");
    }
    {
        CXmlIO io(file);
        io.SetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick\\Corvella", "InstallDir", "/opt/corvella/");
    }
    return slurp(file);
}

} // namespace

std::vector<std::string> const& target_names()
{
    static std::vector<std::string> const names{"wir", "fir", "chunk", "custom_data", "bank", "settings", "audio_file"};
    return names;
}

std::vector<Seed> seeds_for(std::string const& target)
{
    std::vector<Seed> seeds;
    if (target == "wir") {
        seeds.push_back({"stereo.wir", wir_file(2, 300)});
        seeds.push_back({"mono.wir", wir_file(1, 100)});
        seeds.push_back({"quad.wir", wir_file(4, 50)});
    } else if (target == "audio_file") {
        // The options byte: 0 = section A alone at 44.1 kHz; see fuzz_audio_file.cpp.
        seeds.push_back({"pcm16-mono.wav", std::string(1, '\x00') + sound_file(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 200)});
        seeds.push_back({"pcm24-stereo.aiff", std::string(1, '\x10') + sound_file(SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2, 48000, 150)});
        seeds.push_back({"float-quad.wav", std::string(1, '\x01') + sound_file(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 4, 96000, 120)});
        seeds.push_back({"pcm16-stereo.flac", std::string(1, '\x06') + sound_file(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 22050, 300)});
        seeds.push_back({"pcm32-stereo.wav", std::string(1, '\x20') + sound_file(SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, 8000, 64)});
        seeds.push_back({"stereo.wir", std::string(1, '\x08') + wir_file(2, 100)});
    } else if (target == "fir") {
        seeds.push_back({"stereo-head.fir", fir_file(2, 2, 16, 64)});
        seeds.push_back({"no-head.fir", fir_file(0, 8, 0, 32)});
        seeds.push_back({"quad-head.fir", fir_file(4, 4, 8, 8)});
    } else if (target == "chunk") {
        seeds.push_back({"bank.chunk", bytes_of(sample_bank())});
        VST_Plugin_Program old;
        old.version_stamp = 1500;
        seeds.push_back({"old-record.patch", patch(7 * sizeof(VST_Plugin_Program), record_bytes(old))});
        seeds.push_back({"record0.patch", patch(0, record_bytes(sample_bank()[3]))});
    } else if (target == "custom_data") {
        std::string path(300, '\0');
        std::memcpy(path.data(), "/nowhere/room.wav", 17);
        seeds.push_back({"01-program", custom(1, false, raw(std::int32_t{5}))});
        seeds.push_back({"02-name", custom(2, false, std::string("A long program name beyond 23") + '\0')});
        seeds.push_back({"03-bank", custom(3, true, bytes_of(sample_bank()))});
        seeds.push_back({"14-path", custom(14, false, path)});
        seeds.push_back({"18-source", custom(18, false, raw(2.0f))});
        seeds.push_back({"26-delay", custom(26, false, raw(std::int32_t{3}))});
        seeds.push_back({"38-tempo", custom(38, false, raw(140.0f))});
        seeds.push_back({"44-menu", custom(44, false, raw(std::int32_t{10}))});
        seeds.push_back({"50-tempo", custom(50, false, raw(96.0))});
        seeds.push_back({"52-pending", custom(52, true, std::string(32, '\1'))});
    } else if (target == "bank") {
        std::vector<VST_Plugin_Program> bank = sample_bank();
        std::string const file = bank_file_bytes(bank.data());
        seeds.push_back({"bank.fxb", file});
        seeds.push_back({"header.patch", patch(0, file.substr(0, bank_file_header_size))});
        VST_Plugin_Program old;
        old.version_stamp = 1500;
        seeds.push_back({"old-record.patch", patch(static_cast<std::uint32_t>(bank_file_header_size + 2 * sizeof old), record_bytes(old))});
    } else if (target == "settings") {
        seeds.push_back({"written.xml", settings_document()});
        std::string const shipped = slurp(std::filesystem::path(CORVELLA_FUZZ_DATA_DIR) / "Corvella.xml");
        if (!shipped.empty()) seeds.push_back({"shipped.xml", shipped});
    }
    return seeds;
}

} // namespace corvella::fuzz
