#include "depict/png.h"

#include <cmath>
#include <memory>

#ifdef TAVIRON_HAVE_RSVG
#include <cairo.h>
#include <librsvg/rsvg.h>
#endif

namespace depict {

#ifdef TAVIRON_HAVE_RSVG

namespace {

struct GObjectFree {
  void operator()(void *p) const { g_object_unref(p); }
};
struct SurfaceFree {
  void operator()(cairo_surface_t *s) const { cairo_surface_destroy(s); }
};
struct ContextFree {
  void operator()(cairo_t *c) const { cairo_destroy(c); }
};

cairo_status_t append(void *closure, const unsigned char *data, unsigned int length) {
  static_cast<std::string *>(closure)->append(reinterpret_cast<const char *>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

[[noreturn]] void fail_with(GError *error, const char *what) {
  std::string message = what;
  if (error != nullptr) {
    message += ": ";
    message += error->message;
    g_error_free(error);
  }
  throw PngError(message);
}

}  // namespace

bool png_available() {
  return true;
}

std::string svg_to_png(std::string_view svg, double scale) {
  if (!(scale >= 0.1 && scale <= 10)) throw PngError("the scale runs from 0.1 to 10");
  GError *error = nullptr;
  const std::unique_ptr<RsvgHandle, GObjectFree> handle(
      rsvg_handle_new_from_data(reinterpret_cast<const guint8 *>(svg.data()), svg.size(), &error));
  if (!handle) fail_with(error, "cannot read the SVG document");
  double w = 0, h = 0;
  if (!rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &w, &h) || w <= 0 || h <= 0) {
    throw PngError("the SVG document has no size in pixels");
  }
  const int pw = std::max(1, static_cast<int>(std::lround(w * scale)));
  const int ph = std::max(1, static_cast<int>(std::lround(h * scale)));
  const std::unique_ptr<cairo_surface_t, SurfaceFree> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph));
  const std::unique_ptr<cairo_t, ContextFree> cr(cairo_create(surface.get()));
  const RsvgRectangle viewport{0, 0, static_cast<double>(pw), static_cast<double>(ph)};
  if (!rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error)) {
    fail_with(error, "cannot render the SVG document");
  }
  std::string png;
  if (cairo_surface_write_to_png_stream(surface.get(), append, &png) != CAIRO_STATUS_SUCCESS) {
    throw PngError("cannot encode the PNG picture");
  }
  return png;
}

#else

bool png_available() {
  return false;
}

std::string svg_to_png(std::string_view, double) {
  throw PngError("built without PNG output (apt-get install librsvg2-dev, then build again)");
}

#endif

}  // namespace depict
