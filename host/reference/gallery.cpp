#include "host/reference/gallery.h"

#include <algorithm>
#include <cmath>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include "host/reference/preview.h"
#include "host/reference/scene.h"
#include "host/reference/scene_loader.h"

namespace vrender {

namespace {

// Sheet colours, linear.
constexpr float kPaper[3] = {0.010f, 0.011f, 0.013f};
constexpr float kFrame[3] = {0.090f, 0.095f, 0.105f};
constexpr float kBand[3] = {0.022f, 0.024f, 0.028f};
constexpr float kText[3] = {0.80f, 0.80f, 0.78f};
constexpr char kFont[] = "DejaVuSans";

void fill(vref::Image& img, int x0, int y0, int w, int h, const float* c) {
    for (int y = std::max(0, y0); y < std::min(img.height, y0 + h); ++y) {
        for (int x = std::max(0, x0); x < std::min(img.width, x0 + w); ++x) {
            float* p = &img.rgba[4 * (static_cast<size_t>(y) * img.width + x)];
            p[0] = c[0], p[1] = c[1], p[2] = c[2], p[3] = 1.0f;
        }
    }
}

void paste(vref::Image& dst, const vref::Image& src, int x0, int y0) {
    for (int y = 0; y < src.height; ++y) {
        for (int x = 0; x < src.width; ++x) {
            const float* s = &src.rgba[4 * (static_cast<size_t>(y) * src.width + x)];
            float* d = &dst.rgba[4 * (static_cast<size_t>(y0 + y) * dst.width + x0 + x)];
            d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 1.0f;
        }
    }
}

// The largest font size up to `size` at which `text` fits in `width` pixels.
int fittingSize(const std::string& text, int size, int width) {
    for (; size > 6; --size) {
        OIIO::ROI r = OIIO::ImageBufAlgo::text_size(text, size, kFont);
        if (!r.defined() || r.width() <= width) break;
    }
    return size;
}

// The sheet's grid: cells of the render size, framed, each with its name band,
// about 16:9 overall.
struct SheetGrid {
    int w, h, band, frame = 2, gap, cols, rows;

    SheetGrid(const vref::RenderSettings& cell, bool labels, int n)
        : w(cell.width),
          h(cell.height),
          band(labels ? std::max(18, h / 7) : 0),
          gap(std::max(6, w / 24)) {
        cols = static_cast<int>(std::ceil(std::sqrt(n * 16.0 / 9.0 * (h + band) / w)));
        cols = std::max(1, std::min(cols, n));
        rows = std::max(1, (n + cols - 1) / cols);
    }
    int pitchX() const { return w + 2 * frame + gap; }
    int pitchY() const { return h + band + 2 * frame + gap; }
    int x(int i) const { return gap + (i % cols) * pitchX(); }
    int y(int i) const { return gap + (i / cols) * pitchY(); }
};

// The classes the sheet shows; the others are noted.
std::vector<vhost::ClassInfo> shownClasses(const vhost::Library& lib, Gallery& g) {
    std::vector<vhost::ClassInfo> classes;
    for (const std::string& name : lib.classes()) {
        vhost::ClassInfo info = vhost::describeClass(lib, name);
        if (info.kind < 0 || info.kind > 2) {
            g.notes.push_back(name + ": cannot be created or is of an unknown kind; not shown");
            continue;
        }
        classes.push_back(std::move(info));
    }
    return classes;
}

// A class's preview with its preset parameters, at the cell's settings.
vref::Image renderCell(const vhost::Library& lib, const vhost::ClassInfo& info,
                       const vref::RenderSettings& cell, const FileSet& assets,
                       const std::string& assetDir) {
    PreviewRequest r;
    r.className = info.name;
    r.params = presetParams(info);
    r.width = cell.width;
    r.height = cell.height;
    r.spp = cell.spp;
    r.pathMode = cell.mode == vref::Mode::Path;
    r.seed = cell.seed;
    vref::Scene scene;
    vref::RenderSettings settings;
    loadScene(previewScene(lib, info, r, assetDir), info.name, "", lib, scene, settings, &assets);
    settings.threads = cell.threads;
    return vref::render(scene, settings).image;
}

// The class's name centred in its band: the baseline a third of the size below
// the middle.
void label(OIIO::ImageBuf& text, const SheetGrid& grid, int x0, int y0, const std::string& name) {
    int size = fittingSize(name, std::max(9, grid.band * 11 / 20), grid.w - 8);
    int baseline = y0 + grid.frame + grid.h + grid.band / 2 + size * 7 / 20;
    OIIO::ImageBufAlgo::render_text(text, x0 + grid.frame + grid.w / 2, baseline, name, size, kFont,
                                    kText, OIIO::ImageBufAlgo::TextAlignX::Center);
}

}  // namespace

vref::RenderSettings galleryCellSettings() {
    vref::RenderSettings s;
    s.width = 240;
    s.height = 180;
    s.spp = 16;
    return s;
}

Gallery renderGallery(const vhost::Library& lib, const GalleryOptions& o,
                      const std::function<void(int, int)>& progress) {
    const std::string assetDir = "gallery";
    const FileSet assets = previewAssetFiles(assetDir);
    Gallery g;
    const std::vector<vhost::ClassInfo> classes = shownClasses(lib, g);
    const int n = static_cast<int>(classes.size());
    const SheetGrid grid(o.cell, o.labels, n);
    vref::Image& sheet = g.image;
    sheet.width = grid.cols * grid.pitchX() + grid.gap;
    sheet.height = grid.rows * grid.pitchY() + grid.gap;
    sheet.rgba.assign(4 * static_cast<size_t>(sheet.width) * sheet.height, 0.0f);
    fill(sheet, 0, 0, sheet.width, sheet.height, kPaper);
    OIIO::ImageSpec spec(sheet.width, sheet.height, 4, OIIO::TypeDesc::FLOAT);
    OIIO::ImageBuf text(spec, sheet.rgba.data());
    for (int i = 0; i < n; ++i) {
        vref::Image cell = renderCell(lib, classes[i], o.cell, assets, assetDir);
        int x0 = grid.x(i), y0 = grid.y(i), w = grid.w, h = grid.h, frame = grid.frame;
        fill(sheet, x0, y0, w + 2 * frame, h + grid.band + 2 * frame, kFrame);
        paste(sheet, cell, x0 + frame, y0 + frame);
        if (o.labels) {
            fill(sheet, x0 + frame, y0 + frame + h, w, grid.band, kBand);
            label(text, grid, x0, y0, classes[i].name);
        }
        ++g.cells;
        if (progress) progress(i + 1, n);
    }
    return g;
}

}  // namespace vrender
