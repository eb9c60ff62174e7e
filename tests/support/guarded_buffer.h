#pragma once

// An aligned array with 64 guard bytes on each side (after an optional misalignment): any write
// outside the array changes a guard, which intact() reports. Used to prove that operations never
// write outside the range they were given.

#include "convolution/ipps.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace corvella::test {

template <typename T> class Guarded {
public:
    explicit Guarded(int count, int misalign_bytes = 0)
        : count_(count), front_(64 + misalign_bytes),
          total_(front_ + static_cast<int>(sizeof(T)) * std::max(count, 0) + 64)
    {
        block_ = ippsMalloc_8u(total_);
        std::memset(block_, guard_byte, static_cast<std::size_t>(total_));
    }
    ~Guarded() { ippsFree(block_); }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T* data() { return reinterpret_cast<T*>(block_ + front_); }
    T& operator[](int i) { return data()[i]; }
    bool intact() const
    {
        const int back = front_ + static_cast<int>(sizeof(T)) * std::max(count_, 0);
        for (int i = 0; i < total_; ++i)
            if ((i < front_ || i >= back) && block_[i] != guard_byte) return false;
        return true;
    }

private:
    static constexpr Ipp8u guard_byte = 0xA5;
    int count_;
    int front_;
    int total_;
    Ipp8u* block_;
};

using GuardedFloats = Guarded<float>;

} // namespace corvella::test
