// ".fir" files (Fusion impulse responses). Whatever the reader accepts, writing it again and
// reading that back gives the same contents.

#include "fuzz/fuzz_support.h"
#include "ir/fir_file.h"

#include <cstring>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvella::fuzz::initialise();
    return 0;
}

namespace {

bool same(corvella::fir_contents const& a, corvella::fir_contents const& b)
{
    auto same_bits = [](float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    return a.sample_rate == b.sample_rate && same_bits(a.head_gain_db, b.head_gain_db) &&
           same_bits(a.tail_gain_db, b.tail_gain_db) && same_bits(a.gain_db, b.gain_db) && a.head == b.head &&
           a.tail == b.tail;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const path = corvella::fuzz::write_scratch_file("fuzz.fir", data, size);
    std::string why;
    auto const contents = corvella::read_fir_file(path, &why);
    if (!contents) {
        if (why.empty()) corvella::fuzz::fail("a refused file says nothing about why");
        return 0;
    }
    std::string error;
    std::string const bytes = corvella::fir_file_bytes(*contents, error);
    if (bytes.empty()) corvella::fuzz::fail("accepted contents cannot be written again");
    auto const again = corvella::read_fir_file(corvella::fuzz::write_scratch_file("again.fir", bytes.data(), bytes.size()));
    if (!again || !same(*contents, *again)) corvella::fuzz::fail("a written file does not read back as it was");
    return 0;
}
