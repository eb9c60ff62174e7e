// The ten built-in room designs of the early-reflection generator. Outlines are corner lists in
// unit coordinates; the walls run from each corner to the next, plus a closing wall from the first
// corner to the last, which is never reflected from.
#include "ir/reflection.h"

namespace {

constexpr point2d grand_hall[] = {{0.1f, 0.1f},  {0.35f, 0.09f}, {0.59f, 0.65f}, {0.82f, 0.12f},
                                  {0.88f, 1.0f}, {0.59f, 0.96f}, {0.25f, 0.96f}, {0.06f, 1.0f}};

constexpr point2d roman_dome[] = {{0.0f, 0.44f},  {0.12f, 0.29f}, {0.21f, 0.18f}, {0.32f, 0.09f},
                                  {0.41f, 0.06f}, {0.56f, 0.06f}, {0.65f, 0.09f}, {0.74f, 0.18f},
                                  {0.82f, 0.26f}, {0.91f, 0.44f}, {0.91f, 0.59f}, {0.91f, 0.74f},
                                  {0.76f, 0.91f}, {0.68f, 0.97f}, {0.59f, 1.0f},  {0.47f, 1.0f},
                                  {0.26f, 0.94f}, {0.21f, 0.85f}, {0.09f, 0.74f}, {0.06f, 0.62f}};

constexpr point2d hexagon[] = {{0.0f, 0.5f}, {0.33f, 0.0f}, {0.66f, 0.0f},
                               {1.0f, 0.5f}, {0.66f, 1.0f}, {0.33f, 1.0f}};

constexpr point2d square[] = {{0.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 1.0f}, {1.0f, 0.0f}};

constexpr point2d drum_room[] = {{0.2f, 0.0f}, {0.0f, 0.8f}, {1.0f, 1.0f}, {1.0f, 0.0f}};

constexpr point2d auditorium[] = {
    {0.12f, 0.15f}, {0.35f, 0.09f}, {0.59f, 0.65f}, {0.82f, 0.12f}, {0.91f, 1.0f}, {0.91f, 0.29f},
    {0.44f, 0.82f}, {0.91f, 0.68f}, {0.91f, 0.91f}, {0.91f, 1.0f},  {0.59f, 1.0f}, {0.29f, 0.97f},
    {0.06f, 1.0f},  {0.03f, 1.0f},  {0.08f, 1.0f},  {0.17f, 1.0f},  {0.4f, 1.0f}};

constexpr point2d basilica[] = {{0.12f, 0.15f}, {0.35f, 0.09f}, {0.59f, 0.65f}, {0.82f, 0.12f},
                                {0.88f, 1.0f},  {0.59f, 0.94f}, {0.26f, 0.94f}, {0.06f, 1.0f}};

constexpr point2d atrium[] = {{0.9f, 0.9f},  {0.35f, 0.09f}, {0.62f, 0.65f}, {0.72f, 0.15f},
                              {0.98f, 1.0f}, {0.59f, 0.99f}, {0.25f, 0.96f}, {0.06f, 0.8f}};

constexpr point2d plate_casing[] = {{0.0f, 0.8f},  {0.1f, 0.85f}, {0.2f, 0.9f},  {0.3f, 0.95f},
                                    {0.4f, 1.0f},  {0.6f, 1.0f},  {0.7f, 0.95f}, {0.8f, 0.9f},
                                    {0.9f, 0.85f}, {1.0f, 0.8f},  {1.0f, 0.0f},  {0.0f, 0.0f}};

template <int N> constexpr int count(point2d const (&)[N])
{
    return N;
}

} // namespace

// The y sizes 194.16408 and 16.180340 are the x sizes times the golden ratio.
reflection_room_design const reflection_room_designs[reflection_room_count] = {
    // name, outline, points, size x, size y, listener x, y, source x at 0, at 1, distance span,
    // low-pass f0, Q, on, reflection coefficient
    {"Grand Hall", grand_hall, count(grand_hall), 120.0f, 194.16408f, 0.5f, 0.12f, 0.2f, 0.8f, 0.6f, 12000.0f,
     0.6f, true, 0.8f},
    {"Roman Dome", roman_dome, count(roman_dome), 150.0f, 150.0f, 0.5f, 0.3f, 0.2f, 0.8f, 0.4f, 14000.0f,
     0.8f, true, 0.7f},
    {"Chamber", hexagon, count(hexagon), 100.0f, 100.0f, 0.5f, 0.2f, 0.2f, 0.8f, 0.6f, 11000.0f, 0.8f, true,
     0.8f},
    {"Clear Room", square, count(square), 100.0f, 100.0f, 0.5f, 0.1f, 0.1f, 0.9f, 0.8f, 12000.0f, 0.7f, true,
     0.8f},
    {"Drum Room", drum_room, count(drum_room), 30.0f, 25.0f, 0.5f, 0.2f, 0.2f, 0.8f, 0.6f, 8000.0f, 0.7f,
     true, 0.8f},
    {"Auditorium", auditorium, count(auditorium), 250.0f, 50.0f, 0.5f, 0.18f, 0.1f, 0.9f, 0.68f, 11000.0f,
     0.8f, true, 0.8f},
    {"Basilica", basilica, count(basilica), 180.0f, 100.0f, 0.5f, 0.18f, 0.24f, 0.74f, 0.68f, 11000.0f, 0.7f,
     true, 0.8f},
    {"Atrium", atrium, count(atrium), 150.0f, 80.0f, 0.4f, 0.3f, 0.4f, 0.6f, 0.5f, 14000.0f, 1.0f, true,
     0.6f},
    {"Plate Casing", plate_casing, count(plate_casing), 10.0f, 16.180340f, 0.5f, 0.0f, 0.1f, 0.9f, 0.7f,
     12000.0f, 1.0f, true, 0.6f},
    {"Canyon", hexagon, count(hexagon), 500.0f, 300.0f, 0.5f, 0.2f, 0.2f, 0.8f, 0.6f, 8000.0f, 0.6f, true,
     0.6f},
};
