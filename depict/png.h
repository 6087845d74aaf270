// PNG pictures: the SVG documents of this module rendered by librsvg, with
// the fonts the system has. Built without librsvg (Debian's librsvg2-dev),
// the functions are there but say that PNG output is missing.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace depict {

// True when this build renders PNG.
bool png_available();

// Thrown when a picture cannot be rendered (or PNG output is not built);
// what() says why in one line.
struct PngError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// An SVG document (one of compound_svg or pair_svg) as PNG file bytes, with
// `scale` pixels per SVG pixel: the picture is round(width * scale) by
// round(height * scale) pixels, on the drawing's white ground. Scale runs
// from 0.1 to 10.
std::string svg_to_png(std::string_view svg, double scale = 2.0);

}  // namespace depict
