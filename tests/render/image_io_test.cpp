// Images read back as they were written: a tile's place in its frame, its
// attributes and its pixels (8-bit ones as the codes they were stored as).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "host/reference/image_io.h"
#include "testkit/temp_dir.h"

namespace {

using vtest::TempDir;

vref::Image tile() {
    vref::Image im;
    im.width = 3, im.height = 2, im.x = 5, im.y = 7, im.fullWidth = 20, im.fullHeight = 10;
    for (int i = 0; i < im.width * im.height * 4; ++i) im.rgba.push_back(0.013f * i + 0.001f);
    for (size_t i = 3; i < im.rgba.size(); i += 4) im.rgba[i] = 1.0f;  // 8-bit RGB keeps no alpha
    return im;
}

TEST(ImageIo, TilesReadBackWithTheirPlaceAttributesAndPixels) {
    TempDir dir;
    vref::ImageMetadata meta;
    meta.tile = true;
    meta.attributes = {{"seed", "5"}, {"spp", 4}};
    const vref::Image written = tile();
    for (const char* name : {"t.exr", "t.png"}) {
        std::string path = dir.file(name);
        ASSERT_EQ(vref::writeImage(written, path, meta), "");
        vref::ImageFile header = vref::readImage(path, false);
        EXPECT_TRUE(header.image.rgba.empty()) << name;
        vref::ImageFile read = vref::readImage(path);
        const vref::Image& im = read.image;
        EXPECT_EQ(std::vector<int>({im.x, im.y, im.width, im.height, im.fullWidth, im.fullHeight}),
                  std::vector<int>({5, 7, 3, 2, 20, 10}))
            << name;
        EXPECT_EQ(read.attributes, meta.attributes) << name;
        ASSERT_EQ(im.rgba.size(), written.rgba.size()) << name;
        for (size_t i = 0; i < im.rgba.size(); ++i) {
            // A tile keeps 32-bit floats; 8 bits read back as the values that
            // write to the same codes.
            if (std::string(name) == "t.exr") {
                EXPECT_EQ(im.rgba[i], written.rgba[i]) << name << " " << i;
            } else {
                EXPECT_EQ(vref::srgbByte(im.rgba[i]), vref::srgbByte(written.rgba[i])) << i;
            }
        }
    }
}

}  // namespace
