// The audio-file loader on files in memory (libsndfile's virtual I/O): WAV, AIFF, FLAC and
// whatever else libsndfile recognises, alone or as a true-stereo pair, with the simulated
// true-stereo half and the shaped noise, at several engine rates.
//
// Input: one byte of options, then the file.
//   bit 0   the file is also section B (a pair)
//   bit 1   make the simulated true-stereo half
//   bit 2   add shaped noise
//   bit 3   name the file ".wir"
//   bits 4-5  engine rate 8000, 44100, 96000 or 22050 Hz (low rates keep the buffers small)

#include "fuzz/fuzz_support.h"
#include "ir/audio_file_loader.h"

#include <cmath>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvella::fuzz::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (size < 1) return 0;
    std::uint8_t const options = data[0];
    static int const rates[4] = {8000, 44100, 96000, 22050};
    int const engine_rate = rates[(options >> 4) & 3];
    corvella::AudioFileBytes const file{(options & 8) ? "fuzz.wir" : "fuzz.wav", data + 1, size - 1};

    float** buffer = nullptr;
    int allocated = 0, length = 0, depth = 0, rate = -1;
    corvella::AudioFileLoadReport report;
    corvella::load_audio_file_bytes(&file, (options & 1) ? &file : nullptr, buffer, engine_rate, allocated, length,
                                    depth, rate, (options & 2) != 0, 0.08f, 0.5f, (options & 4) != 0, 0.1f, 1.0f,
                                    0, 0.5f, &report);
    if (buffer == nullptr || allocated < 1 || length < 1 || length > allocated)
        corvella::fuzz::fail("the loader left no buffer or impossible lengths");
    // Whatever the file held, the engine gets numbers.
    for (int channel = 0; channel < corvella::ir_load_channels; ++channel)
        for (int i = 0; i < length; ++i)
            if (!std::isfinite(buffer[channel][i])) corvella::fuzz::fail("the loaded IR holds a sample that is not finite");
    corvella::free_ir_load_buffer(buffer);
    return 0;
}
