// The built-in gallery: a contact sheet of every class the library exports, each
// in its own framed cell rendered from its preview scene (preview.h) with the
// class's preset parameters, its name in a band under the cell.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/library.h"
#include "host/reference/renderer.h"

namespace vrender {

struct GalleryOptions {
    vref::RenderSettings cell;  // size, samples, mode and seed of every cell
    bool labels = true;         // the name bands
};

struct Gallery {
    vref::Image image;
    int cells = 0;
    std::vector<std::string> notes;  // classes left out, for the user
};

// Default cell settings: 240 x 180 pixels, 16 samples.
vref::RenderSettings galleryCellSettings();

// Renders the sheet, with the preview images in memory. `progress` is told (cells
// done, cells in total). Throws SceneError or std::runtime_error.
Gallery renderGallery(const vhost::Library& library, const GalleryOptions& options,
                      const std::function<void(int, int)>& progress = {});

}  // namespace vrender
