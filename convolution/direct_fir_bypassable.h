#pragma once

// A direct_fir whose channels can be bypassed one by one: a bypassed channel outputs silence and
// its history stands still, so lifting the bypass resumes from the history it had.
//
// Threading: as direct_fir. The bypass switches may be set from any thread; a processing call sees
// each switch either before or after the change.

#include "convolution/direct_fir.h"

#include <atomic>
#include <memory>

class direct_fir_bypassable : public direct_fir {
public:
    direct_fir_bypassable(int channels, int taps);

    void process_not_replacing(float** in, float** out, int frames);
    void process_replacing(float** buffer, int frames) = delete;

    void set_bypass(int channel, bool bypassed);
    bool is_bypassed(int channel) const;

private:
    std::unique_ptr<std::atomic<bool>[]> bypass;
};
