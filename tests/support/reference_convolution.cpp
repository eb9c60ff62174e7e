#include "support/reference_convolution.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvella::test {

std::vector<double> reference_convolve(std::vector<float> const& x, std::vector<float> const& h,
                                       std::size_t output_length)
{
    std::vector<double> y(output_length, 0.0);
    for (std::size_t k = 0; k < x.size() && k < output_length; ++k) {
        double const xk = x[k];
        if (xk == 0.0) continue;
        std::size_t const count = std::min(h.size(), output_length - k);
        double* out = y.data() + k;
        for (std::size_t j = 0; j < count; ++j)
            out[j] += xk * static_cast<double>(h[j]);
    }
    return y;
}

double relative_error_db(std::vector<float> const& actual, std::vector<double> const& reference)
{
    double peak = 0.0;
    double worst = 0.0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        peak = std::max(peak, std::abs(reference[i]));
        double const value = i < actual.size() ? static_cast<double>(actual[i]) : 0.0;
        worst = std::max(worst, std::abs(value - reference[i]));
    }
    if (worst == 0.0) return -std::numeric_limits<double>::infinity();
    if (peak == 0.0) return std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(worst / peak);
}

} // namespace corvella::test
