#pragma once

// Renders a widget tree without any window: into a Cairo image surface at a scale factor, and on to
// a PNG file.

#include "editor/ui/root.h"

#include <cairo.h>

#include <cstdint>
#include <string>

namespace corvella::ui {

// An ARGB32 image that owns its surface.
class CImage {
public:
    explicit CImage(cairo_surface_t* surface) : surface_(surface) {}
    CImage(CImage&& other) noexcept : surface_(other.surface_) { other.surface_ = nullptr; }
    CImage& operator=(CImage&& other) noexcept;
    CImage(CImage const&) = delete;
    CImage& operator=(CImage const&) = delete;
    ~CImage();

    cairo_surface_t* surface() const { return surface_; }
    int width() const;
    int height() const;
    // The pixel at (x, y) as 0xAARRGGBB (premultiplied, as Cairo stores it).
    std::uint32_t pixel(int x, int y) const;
    bool write_png(std::string const& path) const; // false when the file could not be written

private:
    cairo_surface_t* surface_;
};

// The whole root at `scale` (the root's own scale is put back afterwards).
CImage render(CRoot& root, double scale);

// render() and then write_png(); false when either failed.
bool write_png(CRoot& root, double scale, std::string const& path);

} // namespace corvella::ui
