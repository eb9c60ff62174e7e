#pragma once

#include <cstddef>
#include <vector>

namespace corvella::test {

// Brute-force linear convolution in double precision, the reference every fast convolver is
// measured against: y[t] = sum over k of x[k] * h[t - k], for t < output_length. Zero input
// samples are skipped, so sparse test signals with long responses stay cheap.
std::vector<double> reference_convolve(std::vector<float> const& x, std::vector<float> const& h,
                                       std::size_t output_length);

// Largest absolute difference between `actual` and `reference` over the reference's length,
// divided by the reference's peak; expressed in dB. -inf when they are identical.
double relative_error_db(std::vector<float> const& actual, std::vector<double> const& reference);

} // namespace corvella::test
