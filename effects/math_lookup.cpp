#include "effects/math_lookup.h"
#include "platform/aligned_memory.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace {

float* aligned_table()
{
    return corvella::aligned_new<float>(math_lookup::table_length, false);
}

} // namespace

math_lookup::math_lookup()
{
    sin_table = aligned_table();
    if (!sin_table) throw std::runtime_error("Maths lookup failed to init sine lookup");
    cos_table = aligned_table();
    if (!cos_table) {
        std::free(sin_table);
        sin_table = nullptr;
        throw std::runtime_error("Maths lookup failed to init cosine lookup");
    }
    // The angle is formed in single precision, the function evaluated in double.
    for (int i = 0; i < table_length; ++i) {
        float const angle = static_cast<float>(i) * 0.00048828125f * 6.2831855f;
        sin_table[i] = static_cast<float>(std::sin(static_cast<double>(angle)));
        cos_table[i] = static_cast<float>(std::cos(static_cast<double>(angle)));
    }
}

math_lookup::~math_lookup()
{
    std::free(sin_table);
    std::free(cos_table);
}

float math_lookup::sin_lookup_interp(float x) const
{
    if (!sin_table) return std::sin(x);
    double const p = static_cast<double>(x) * 2048.0 * 0.15915494309189535;
    if (!(p >= 0.0 && p < static_cast<double>(table_length))) return std::sin(x);
    int const i = static_cast<int>(p);
    double const f = p - i;
    // The table is periodic, so the entry after the last one is the first.
    float const next = i + 1 < table_length ? sin_table[i + 1] : sin_table[0];
    return static_cast<float>(sin_table[i] + f * (static_cast<double>(next) - sin_table[i]));
}
