#include "editor/ui/offscreen.h"

#include <cstdint>
#include <cstring>

namespace corvella::ui {

CImage& CImage::operator=(CImage&& other) noexcept
{
    if (this != &other) {
        if (surface_) cairo_surface_destroy(surface_);
        surface_ = other.surface_;
        other.surface_ = nullptr;
    }
    return *this;
}

CImage::~CImage()
{
    if (surface_) cairo_surface_destroy(surface_);
}

int CImage::width() const
{
    return surface_ ? cairo_image_surface_get_width(surface_) : 0;
}

int CImage::height() const
{
    return surface_ ? cairo_image_surface_get_height(surface_) : 0;
}

std::uint32_t CImage::pixel(int x, int y) const
{
    if (!surface_ || x < 0 || y < 0 || x >= width() || y >= height()) return 0;
    cairo_surface_flush(surface_);
    unsigned char const* row = cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
    std::uint32_t p;
    std::memcpy(&p, row + 4 * x, 4);
    return p;
}

bool CImage::write_png(std::string const& path) const
{
    return surface_ && cairo_surface_write_to_png(surface_, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

CImage render(CRoot& root, double scale)
{
    double const previous = root.scale();
    root.set_scale(scale);
    PixelRect const size = root.pixel_size();
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size.w, size.h);
    cairo_t* cr = cairo_create(surface);
    root.draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    root.set_scale(previous);
    return CImage(surface);
}

bool write_png(CRoot& root, double scale, std::string const& path)
{
    CImage const image = render(root, scale);
    return cairo_surface_status(image.surface()) == CAIRO_STATUS_SUCCESS && image.write_png(path);
}

} // namespace corvella::ui
