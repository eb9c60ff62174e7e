// Processor set-up: code-path selection and the denormal modes of the calling thread.
#include "convolution/ipps.h"

#include <atomic>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace corvella {
namespace {

constexpr int unselected = -1;
// Read on every complex product, so a relaxed atomic: selection is idempotent, and a forced
// path is only set while nothing else runs.
std::atomic<int> selected_path{unselected};

#if defined(__x86_64__)
constexpr unsigned int mxcsr_daz = 1u << 6;
constexpr unsigned int mxcsr_ftz = 1u << 15;

void set_mxcsr_bit(unsigned int bit, bool on)
{
    unsigned int csr = _mm_getcsr();
    _mm_setcsr(on ? (csr | bit) : (csr & ~bit));
}
#elif defined(__aarch64__)
constexpr unsigned long fpcr_fz = 1ul << 24;

unsigned long read_fpcr()
{
    unsigned long fpcr;
    asm volatile("mrs %0, fpcr" : "=r"(fpcr));
    return fpcr;
}

void set_fpcr_fz(bool on)
{
    unsigned long fpcr = read_fpcr();
    fpcr = on ? (fpcr | fpcr_fz) : (fpcr & ~fpcr_fz);
    asm volatile("msr fpcr, %0" : : "r"(fpcr));
}
#endif

} // namespace

IppsCodePath ipps_best_code_path()
{
#if defined(__x86_64__)
    __builtin_cpu_init(); // may run before the constructors that normally do it
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return IppsCodePath::avx2_fma;
    return IppsCodePath::sse2;
#else
    return IppsCodePath::portable;
#endif
}

IppsCodePath ipps_code_path()
{
    int path = selected_path.load(std::memory_order_relaxed);
    if (path == unselected) {
        path = static_cast<int>(ipps_best_code_path());
        selected_path.store(path, std::memory_order_relaxed);
    }
    return static_cast<IppsCodePath>(path);
}

bool ipps_set_code_path(IppsCodePath path)
{
    if (static_cast<int>(path) > static_cast<int>(ipps_best_code_path())) return false;
    selected_path.store(static_cast<int>(path), std::memory_order_relaxed);
    return true;
}

const char* ipps_code_path_name(IppsCodePath path)
{
    switch (path) {
    case IppsCodePath::portable:
        return "portable";
    case IppsCodePath::sse2:
        return "sse2";
    case IppsCodePath::avx2_fma:
        return "avx2_fma";
    }
    return "unknown";
}

} // namespace corvella

IppStatus ippInit()
{
    corvella::ipps_code_path();
    return ippStsNoErr;
}

IppStatus ippSetDenormAreZeros(int value)
{
#if defined(__x86_64__)
    corvella::set_mxcsr_bit(corvella::mxcsr_daz, value != 0);
#elif defined(__aarch64__)
    corvella::set_fpcr_fz(value != 0);
#else
    (void)value;
#endif
    return ippStsNoErr;
}

IppStatus ippSetFlushToZero(int value, unsigned int* uMask)
{
#if defined(__x86_64__)
    if (uMask) *uMask = (_mm_getcsr() & corvella::mxcsr_ftz) ? 1u : 0u;
    corvella::set_mxcsr_bit(corvella::mxcsr_ftz, value != 0);
#elif defined(__aarch64__)
    if (uMask) *uMask = (corvella::read_fpcr() & corvella::fpcr_fz) ? 1u : 0u;
    corvella::set_fpcr_fz(value != 0);
#else
    (void)value;
    if (uMask) *uMask = 0u;
#endif
    return ippStsNoErr;
}
