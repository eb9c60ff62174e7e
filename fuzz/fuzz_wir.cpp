// ".wir" images: the loader's whole route for a WIR file (patching, libsndfile through the virtual
// I/O callbacks, reading, scaling), and the file browser's header-only probe, whose image holds 44
// bytes of a longer declared file.

#include "fuzz/fuzz_support.h"
#include "ir/audio_file_loader.h"
#include "ir/wir_image.h"

#include <sndfile.h>

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvella::fuzz::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    corvella::AudioFileBytes const file{"fuzz.wir", data, size};
    float** buffer = nullptr;
    int allocated = 0, length = 0, depth = 0, rate = -1;
    // A low engine rate keeps the default IR of a refused file small.
    corvella::load_audio_file_bytes(&file, nullptr, buffer, 8000, allocated, length, depth, rate, false, 0.0f,
                                    0.0f, false, 0.0f, 0.0f, 0, 0.0f, nullptr);
    corvella::free_ir_load_buffer(buffer);

    std::string const probe = corvella::fuzz::write_scratch_file("probe.wir", data, size).string();
    SF_INFO info{};
    SNDFILE* handle = nullptr;
    virtual_file image{};
    if (populate_wir_sndfile_stats(probe.c_str(), &info, &handle, &image) == 0 && handle != nullptr) {
        // Past the held header the image reads as zeros; a short read must stay inside it.
        std::vector<float> frames(static_cast<std::size_t>(std::clamp(info.channels, 1, 64)) * 256);
        sf_readf_float(handle, frames.data(), 256);
        sf_close(handle);
    }
    corvella::release_virtual_file(image);
    return 0;
}
