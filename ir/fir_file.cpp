#include "ir/fir_file.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace corvella {

namespace {

namespace offset {
constexpr std::size_t magic = 0, version = 4, rate = 8, head_channels = 16, tail_channels = 20;
constexpr std::size_t head_length = 24, tail_length = 28;
constexpr std::size_t head_gain = 1024, tail_gain = 1028, gain = 1032;
} // namespace offset

// Little-endian fields, whatever the machine.
std::uint32_t get_u32(std::string const& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int k = 3; k >= 0; --k)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)]);
    return value;
}

std::int32_t get_i32(std::string const& bytes, std::size_t at)
{
    return static_cast<std::int32_t>(get_u32(bytes, at));
}

float get_f32(std::string const& bytes, std::size_t at)
{
    std::uint32_t const bits = get_u32(bytes, at);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void put_u32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        bytes[at + static_cast<std::size_t>(k)] = static_cast<char>((value >> (8 * k)) & 0xffu);
}

void put_f32(std::string& bytes, std::size_t at, float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    put_u32(bytes, at, bits);
}

// The shape rules both directions share; empty when they hold.
std::string shape_problem(int rate, long long head_channels, long long tail_channels, long long head_length,
                          long long tail_length)
{
    if (rate <= 0) return "the sample rate is not positive";
    if (head_channels < 0 || head_channels > fir_max_head_channels) return "the head has 0 to 4 channels";
    if (tail_channels < 1 || tail_channels > fir_max_tail_channels) return "the tail has 1 to 32 channels";
    if (head_length < 0 || tail_length < 1) return "a length is not positive";
    if (tail_length < head_length) return "the tail is shorter than the head";
    return {};
}

} // namespace

std::optional<fir_contents> read_fir_file(std::filesystem::path const& path, std::string* why)
{
    auto refuse = [why](std::string const& text) -> std::optional<fir_contents> {
        if (why != nullptr) *why = text;
        return std::nullopt;
    };
    std::ifstream file(path, std::ios::binary);
    if (!file) return refuse("the file cannot be read");
    std::string header(fir_header_size, '\0');
    if (!file.read(header.data(), static_cast<std::streamsize>(header.size())))
        return refuse("the file is shorter than its 2048-byte header");
    if (get_i32(header, offset::magic) != fir_magic) return refuse("the file does not start with \"xRIF\"");
    if (get_i32(header, offset::version) != fir_version) return refuse("the format version is not 2");

    fir_contents contents;
    contents.sample_rate = get_i32(header, offset::rate);
    long long const head_channels = get_i32(header, offset::head_channels);
    long long const tail_channels = get_i32(header, offset::tail_channels);
    long long const head_length = get_i32(header, offset::head_length);
    long long const tail_length = get_i32(header, offset::tail_length);
    std::string const problem = shape_problem(contents.sample_rate, head_channels, tail_channels, head_length, tail_length);
    if (!problem.empty()) return refuse(problem);

    std::error_code error;
    auto const size = std::filesystem::file_size(path, error);
    long long const expected =
        (head_channels * head_length + tail_channels * tail_length) * 4 + static_cast<long long>(fir_header_size);
    if (error || static_cast<long long>(size) != expected) return refuse("the file size does not match its header");

    contents.head_gain_db = get_f32(header, offset::head_gain);
    contents.tail_gain_db = get_f32(header, offset::tail_gain);
    contents.gain_db = get_f32(header, offset::gain);
    if (!std::isfinite(contents.head_gain_db) || !std::isfinite(contents.tail_gain_db) ||
        !std::isfinite(contents.gain_db))
        return refuse("a gain is not a number");

    std::string data(static_cast<std::size_t>(expected) - fir_header_size, '\0');
    if (!file.read(data.data(), static_cast<std::streamsize>(data.size()))) return refuse("the data cannot be read");
    std::size_t at = 0;
    auto take = [&](long long channels, long long length, std::vector<std::vector<float>>& into) {
        into.assign(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(length)));
        for (auto& channel : into)
            for (float& sample : channel) {
                sample = get_f32(data, at);
                at += 4;
            }
    };
    take(head_channels, head_length, contents.head);
    take(tail_channels, tail_length, contents.tail);
    for (auto const* part : {&contents.head, &contents.tail})
        for (auto const& channel : *part)
            for (float sample : channel)
                if (!std::isfinite(sample)) return refuse("a sample is not a number");
    return contents;
}

std::string fir_file_bytes(fir_contents const& contents, std::string& error)
{
    std::size_t const head_length = contents.head.empty() ? 0 : contents.head.front().size();
    std::size_t const tail_length = contents.tail.empty() ? 0 : contents.tail.front().size();
    for (auto const& channel : contents.head)
        if (channel.size() != head_length) error = "the head channels differ in length";
    for (auto const& channel : contents.tail)
        if (channel.size() != tail_length) error = "the tail channels differ in length";
    if (error.empty())
        error = shape_problem(contents.sample_rate, static_cast<long long>(contents.head.size()),
                              static_cast<long long>(contents.tail.size()), static_cast<long long>(head_length),
                              static_cast<long long>(tail_length));
    if (error.empty() && (head_length > 0x7fffffff || tail_length > 0x7fffffff)) error = "a length is too long";
    if (!error.empty()) return {};

    std::size_t const samples = contents.head.size() * head_length + contents.tail.size() * tail_length;
    std::string bytes(fir_header_size + 4 * samples, '\0');
    put_u32(bytes, offset::magic, static_cast<std::uint32_t>(fir_magic));
    put_u32(bytes, offset::version, static_cast<std::uint32_t>(fir_version));
    put_u32(bytes, offset::rate, static_cast<std::uint32_t>(contents.sample_rate));
    put_u32(bytes, offset::head_channels, static_cast<std::uint32_t>(contents.head.size()));
    put_u32(bytes, offset::tail_channels, static_cast<std::uint32_t>(contents.tail.size()));
    put_u32(bytes, offset::head_length, static_cast<std::uint32_t>(head_length));
    put_u32(bytes, offset::tail_length, static_cast<std::uint32_t>(tail_length));
    put_f32(bytes, offset::head_gain, contents.head_gain_db);
    put_f32(bytes, offset::tail_gain, contents.tail_gain_db);
    put_f32(bytes, offset::gain, contents.gain_db);
    std::size_t at = fir_header_size;
    for (auto const* part : {&contents.head, &contents.tail})
        for (auto const& channel : *part)
            for (float sample : channel) {
                put_f32(bytes, at, sample);
                at += 4;
            }
    return bytes;
}

} // namespace corvella
