#include "ir/wir_image.h"

#include "ir/audio_file_loader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr sf_count_t wir_header_bytes = 44; // the canonical WAVE header the file browser reads
constexpr sf_count_t patchable_bytes = 35;  // the image must reach byte 34 to be patched

virtual_file& image_of(void* user_data)
{
    return *static_cast<virtual_file*>(user_data);
}

// Puts back the magic that the format replaces; nothing else is checked or changed.
void patch_wave_header(unsigned char* image)
{
    std::memcpy(image, "RIFF", 4);
    std::memcpy(image + 8, "WAVE", 4);
    image[34] = 32; // low byte of the bits-per-sample field
}

sf_count_t saturating_add(sf_count_t a, sf_count_t b)
{
    sf_count_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<sf_count_t>::max() : std::numeric_limits<sf_count_t>::min();
    return sum;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Patches and opens an image that already holds its bytes (`held` of them, `declared` long).
// Takes over `data`: it ends up in `image`, to be released after the handle is closed.
int open_patched_image(unsigned char* data, sf_count_t held, sf_count_t declared, SF_INFO* info,
                       SNDFILE** handle, virtual_file* image)
{
    if (held >= patchable_bytes) patch_wave_header(data);
    image->data = data;
    image->length = declared;
    image->position = 0;
    image->held = held;
    info->format = 0;
    *handle = sf_open_virtual(corvella::virtual_file_io(), SFM_READ, info, image);
    return 0;
}

// Reads `wanted` bytes of the file at `path` into a fresh image whose declared length is
// `declared`, patches it and opens it. The image is released on every failure.
int open_wir_image(char const* path, sf_count_t wanted, sf_count_t declared, SF_INFO* info, SNDFILE** handle,
                   virtual_file* image)
{
    if (!path || !info || !handle || !image) return -1;
    *handle = nullptr;
    *image = virtual_file{};

    auto* data = static_cast<unsigned char*>(
        std::calloc(static_cast<std::size_t>(std::max<sf_count_t>(wanted, 1)), 1));
    if (!data) return -2;

    std::FILE* raw = std::fopen(path, "rb");
    if (!raw) {
        std::free(data);
        return -3;
    }
    std::unique_ptr<std::FILE, FileCloser> file(raw);
    if (static_cast<sf_count_t>(std::fread(data, 1, static_cast<std::size_t>(wanted), file.get())) < wanted) {
        std::free(data);
        return -4;
    }
    file.reset();
    return open_patched_image(data, wanted, declared, info, handle, image);
}

} // namespace

sf_count_t virtual_file_get_length(void* user_data)
{
    return image_of(user_data).length;
}

sf_count_t virtual_file_seek(sf_count_t offset, int whence, void* user_data)
{
    virtual_file& image = image_of(user_data);
    sf_count_t position = image.position;
    switch (whence) {
    case SEEK_SET:
        position = offset;
        break;
    case SEEK_CUR:
        position = saturating_add(image.position, offset);
        break;
    case SEEK_END:
        position = saturating_add(image.length, offset);
        break;
    default:
        break;
    }
    image.position = std::clamp<sf_count_t>(position, 0, std::max<sf_count_t>(image.length, 0));
    return image.position;
}

sf_count_t virtual_file_read(void* destination, sf_count_t count, void* user_data)
{
    virtual_file& image = image_of(user_data);
    if (image.length <= 0 || count <= 0 || !destination) return 0;
    sf_count_t const delivered = std::min(count, image.length - image.position);
    if (delivered <= 0) return 0;

    auto* out = static_cast<unsigned char*>(destination);
    sf_count_t const copied = std::clamp<sf_count_t>(image.held - image.position, 0, delivered);
    if (copied > 0) std::memcpy(out, image.data + image.position, static_cast<std::size_t>(copied));
    if (delivered > copied) std::memset(out + copied, 0, static_cast<std::size_t>(delivered - copied));
    image.position += delivered;
    return delivered;
}

sf_count_t virtual_file_write(void const*, sf_count_t, void*)
{
    return 0;
}

sf_count_t virtual_file_tell(void* user_data)
{
    return image_of(user_data).position;
}

int allocate_memory_load_wir_sndfile(char const* path, void*, SF_INFO* info, SNDFILE** handle,
                                     virtual_file* image)
{
    if (!path) return -1;
    std::int64_t const size = get_file_size(path);
    if (size < 1) return -1;
    if (!check_filename_extension(path, ".wir")) return -1;
    return open_wir_image(path, static_cast<sf_count_t>(size), static_cast<sf_count_t>(size), info, handle,
                          image);
}

int populate_wir_sndfile_stats(char const* path, SF_INFO* info, SNDFILE** handle, virtual_file* image)
{
    if (!path) return -1;
    std::int64_t const size = get_file_size(path);
    if (size < 1) return -1;
    if (!check_filename_extension(path, ".wir")) return -1;
    return open_wir_image(path, std::min<sf_count_t>(static_cast<sf_count_t>(size), wir_header_bytes),
                          static_cast<sf_count_t>(size), info, handle, image);
}

namespace corvella {

int open_wir_bytes(void const* bytes, std::size_t size, SF_INFO* info, SNDFILE** handle, virtual_file* image)
{
    if (!info || !handle || !image) return -1;
    *handle = nullptr;
    *image = virtual_file{};
    if (size < 1 || !bytes) return -1;
    auto* data = static_cast<unsigned char*>(std::malloc(size));
    if (!data) return -2;
    std::memcpy(data, bytes, size);
    auto const length = static_cast<sf_count_t>(size);
    return open_patched_image(data, length, length, info, handle, image);
}

int open_sound_bytes(void const* bytes, std::size_t size, SF_INFO* info, SNDFILE** handle, virtual_file* image)
{
    if (!info || !handle || !image) return -1;
    *handle = nullptr;
    *image = virtual_file{};
    auto* data = static_cast<unsigned char*>(std::malloc(std::max<std::size_t>(size, 1)));
    if (!data) return -2;
    if (size > 0) std::memcpy(data, bytes, size);
    image->data = data;
    image->length = static_cast<sf_count_t>(size);
    image->held = image->length;
    info->format = 0;
    *handle = sf_open_virtual(virtual_file_io(), SFM_READ, info, image);
    return 0;
}

void release_virtual_file(virtual_file& image)
{
    std::free(image.data);
    image = virtual_file{};
}

SF_VIRTUAL_IO* virtual_file_io()
{
    // libsndfile takes a non-const pointer but never writes through it.
    static SF_VIRTUAL_IO io{virtual_file_get_length, virtual_file_seek, virtual_file_read, virtual_file_write,
                            virtual_file_tell};
    return &io;
}

} // namespace corvella
