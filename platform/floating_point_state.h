#pragma once

// Keeps the caller's floating-point mode. The signal path switches its thread to flush denormals
// to zero; a host's thread must get back the mode it called with (a host may compute with
// denormals elsewhere on the same thread). Construct one at the top of every entry from a host
// thread; the mode in force at construction is restored when it goes out of scope.
//
// Threading: affects the calling thread only. Never allocates; safe on the audio thread.

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#else
#include <cfenv>
#endif

namespace corvella {

class ScopedFloatingPointState {
public:
#if defined(__x86_64__) || defined(__i386__)
    ScopedFloatingPointState() : saved_(_mm_getcsr()) {}
    ~ScopedFloatingPointState() { _mm_setcsr(saved_); }
#else
    ScopedFloatingPointState() { std::fegetenv(&saved_); }
    ~ScopedFloatingPointState() { std::fesetenv(&saved_); }
#endif
    ScopedFloatingPointState(ScopedFloatingPointState const&) = delete;
    ScopedFloatingPointState& operator=(ScopedFloatingPointState const&) = delete;

private:
#if defined(__x86_64__) || defined(__i386__)
    unsigned saved_;
#else
    std::fenv_t saved_;
#endif
};

} // namespace corvella
