#pragma once

// Counts heap allocations (malloc, calloc, realloc, aligned allocations and everything built on
// them, operator new included) made on the thread that created the counter, while it lives. Used
// to prove that audio-path functions allocate nothing.
//
// In plain builds the counter interposes the C allocation functions; under AddressSanitizer or
// ThreadSanitizer it uses the sanitizer's allocation hooks instead.

namespace corvella::test {

class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(AllocationCounter const&) = delete;
    AllocationCounter& operator=(AllocationCounter const&) = delete;

    // Allocations seen on the marked thread so far.
    long count() const;

private:
    bool previous_;
};

} // namespace corvella::test
