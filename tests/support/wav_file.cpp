#include "support/wav_file.h"

namespace corvella::test {

bool write_planar_wav(std::filesystem::path const& path, PlanarAudio const& channels, int rate, int format)
{
    if (channels.empty()) return false;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = static_cast<int>(channels.size());
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    std::size_t const frames = channels[0].size();
    std::vector<float> interleaved(frames * channels.size());
    for (std::size_t n = 0; n < frames; ++n)
        for (std::size_t c = 0; c < channels.size(); ++c)
            interleaved[n * channels.size() + c] = channels[c][n];
    bool const complete = sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(frames)) ==
                          static_cast<sf_count_t>(frames);
    return sf_close(file) == 0 && complete;
}

PlanarAudio read_planar_audio(std::filesystem::path const& path, int* rate)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    auto const frames = static_cast<std::size_t>(info.frames);
    auto const channel_count = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved(frames * channel_count);
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    if (rate != nullptr) *rate = info.samplerate;
    PlanarAudio channels(channel_count, std::vector<float>(frames));
    for (std::size_t n = 0; n < frames; ++n)
        for (std::size_t c = 0; c < channel_count; ++c)
            channels[c][n] = interleaved[n * channel_count + c];
    return channels;
}

} // namespace corvella::test
