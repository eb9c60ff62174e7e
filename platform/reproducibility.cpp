#include "platform/reproducibility.h"

#include <atomic>
#include <ctime>

namespace corvella {

namespace {
std::atomic<bool> reproducible{false};
}

void use_reproducible_processing(bool on)
{
    reproducible.store(on);
}

bool reproducible_processing()
{
    return reproducible.load();
}

unsigned int processing_random_seed()
{
    return reproducible.load() ? 1u : static_cast<unsigned int>(std::time(nullptr));
}

} // namespace corvella
