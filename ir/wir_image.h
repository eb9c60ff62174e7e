#pragma once

// ".wir" impulse-response files: a WAVE file whose "RIFF" and "WAVE" magic and the low byte of the
// bits-per-sample field have been replaced. The file is read into memory, those bytes are put
// back, and libsndfile reads the patched image through its virtual I/O interface.
//
// Threading: no shared state; each image belongs to the thread that opened it.

#include <sndfile.h>

#include <cstddef>

// The in-memory image handed to libsndfile as the virtual I/O user data. It must stay allocated
// until the handle opened on it is closed; then release it with corvella::release_virtual_file.
struct virtual_file {
    unsigned char* data = nullptr; // the image, from std::malloc
    sf_count_t length = 0;         // declared length in bytes (what libsndfile sees)
    sf_count_t position = 0;       // current read position in bytes
    sf_count_t held = 0;           // bytes present in data; the rest of the declared length reads as zero
};

// The five virtual I/O callbacks; `user_data` is a virtual_file.
sf_count_t virtual_file_get_length(void* user_data);
// whence 0: from the start, 1: from the position, 2: from the end; any other whence leaves the
// position. The result is clamped to 0 ... length.
sf_count_t virtual_file_seek(sf_count_t offset, int whence, void* user_data);
// Copies up to `count` bytes, never past the declared length and never from beyond the held bytes
// (declared bytes that are not held read as zero). Returns the bytes delivered.
sf_count_t virtual_file_read(void* destination, sf_count_t count, void* user_data);
sf_count_t virtual_file_write(void const* source, sf_count_t count, void* user_data);
sf_count_t virtual_file_tell(void* user_data);

// Reads the whole ".wir" file at `path` into `image`, patches it and opens it with sf_open_virtual
// (the handle may come back null when libsndfile refuses the image). Returns 0 on success with the
// image in `image`; otherwise nothing is left allocated and the status says why:
// -1 empty, unexaminable or not a ".wir" name; -2 no memory; -3 cannot open; -4 short read.
int allocate_memory_load_wir_sndfile(char const* path, void* unused, SF_INFO* info, SNDFILE** handle,
                                     virtual_file* image);

// The same, but reads only the first 44 bytes (the canonical header) into an image whose declared
// length is the whole file size, for listing sample rate, channels and length without reading the
// samples. The caller closes the handle, then releases `image`.
int populate_wir_sndfile_stats(char const* path, SF_INFO* info, SNDFILE** handle, virtual_file* image);

namespace corvella {

// A ".wir" file already in memory: copies `size` bytes into a fresh image, patches it and opens it,
// as allocate_memory_load_wir_sndfile does with a file's bytes. Status 0 (the handle may still be
// null when libsndfile refuses the image), -1 for no bytes, -2 for no memory.
int open_wir_bytes(void const* bytes, std::size_t size, SF_INFO* info, SNDFILE** handle, virtual_file* image);

// Any file libsndfile reads, already in memory: copies it into a fresh image, unpatched, and opens
// it. Status 0 (the handle is null when libsndfile refuses it; sf_error(nullptr) says why) or -2.
int open_sound_bytes(void const* bytes, std::size_t size, SF_INFO* info, SNDFILE** handle, virtual_file* image);

// Frees the image and resets the record. Call only after the handle opened on it is closed.
void release_virtual_file(virtual_file& image);

// The callbacks above, ready for sf_open_virtual.
SF_VIRTUAL_IO* virtual_file_io();

} // namespace corvella
