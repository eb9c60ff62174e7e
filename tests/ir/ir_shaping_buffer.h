#pragma once

// A multichannel IR buffer for the shaping tests: channels from the aligned allocator IR buffers
// use, each followed by guard floats that a write past the allocated length changes. The
// resampler may replace channels; the destructor frees whatever the table then holds.

#include <cstddef>
#include <cstdlib>
#include <vector>

namespace corvella::test {

class IrBuffer {
public:
    static constexpr int guard_floats = 16;
    static constexpr float guard_value = -123456.0f;

    IrBuffer(int channels, int allocated) : allocated_(allocated), table_(static_cast<std::size_t>(channels))
    {
        for (float*& channel : table_) {
            void* block = nullptr;
            if (posix_memalign(&block, 32,
                               sizeof(float) * static_cast<std::size_t>(allocated + guard_floats)))
                block = nullptr;
            channel = static_cast<float*>(block);
            for (int i = 0; i < allocated + guard_floats; ++i)
                channel[i] = i < allocated ? 0.0f : guard_value;
        }
        originals_ = table_;
    }
    ~IrBuffer()
    {
        for (float* channel : table_)
            std::free(channel);
    }
    IrBuffer(IrBuffer const&) = delete;
    IrBuffer& operator=(IrBuffer const&) = delete;

    float** data() { return table_.data(); }
    float* operator[](int c) { return table_[static_cast<std::size_t>(c)]; }

    std::vector<float> copy(int c, int count) const
    {
        float const* channel = table_[static_cast<std::size_t>(c)];
        return std::vector<float>(channel, channel + count);
    }
    void fill(int c, std::vector<float> const& values)
    {
        for (std::size_t i = 0; i < values.size(); ++i)
            table_[static_cast<std::size_t>(c)][i] = values[i];
    }

    // True while no write went past the allocated length of a channel that is still the original.
    bool guards_intact() const
    {
        for (std::size_t c = 0; c < table_.size(); ++c)
            for (int i = 0; table_[c] == originals_[c] && i < guard_floats; ++i)
                if (table_[c][allocated_ + i] != guard_value) return false;
        return true;
    }

private:
    int allocated_;
    std::vector<float*> table_;
    std::vector<float*> originals_;
};

} // namespace corvella::test
