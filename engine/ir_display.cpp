#include "engine/ir_display.h"

#include <algorithm>
#include <cmath>

void create_ir_vis_display(float* row, float* samples, int width, int height, int length, int floor_db)
{
    if (row == nullptr || width <= 0) return;
    std::fill(row, row + width, 0.0f);
    if (samples == nullptr || length <= 0 || floor_db >= 0) return;

    int const per_column = std::max(length / width, 1);
    double const floor_level = std::pow(10.0, floor_db / 20.0);
    for (int column = 0; column < width; ++column) {
        long long const first = static_cast<long long>(column) * per_column;
        if (first >= length) break;
        long long const end = std::min<long long>(first + per_column, length);
        float peak = 0.0f;
        for (long long i = first; i < end; ++i)
            peak = std::max(peak, std::min(std::fabs(samples[i]), 1.0f));
        double const db = peak <= floor_level ? floor_db : 20.0 * std::log10(peak);
        row[column] = static_cast<float>((db - floor_db) / -floor_db * height);
    }
}

int calc_db_draw_level(int bits)
{
    switch (bits) {
    case 32:
        return -120;
    case 24:
        return -100;
    case 20:
        return -90;
    default:
        return -80;
    }
}
