// How the reference host opens image files it is given: textures, tiles and
// their sidecars, and frames for a contact sheet. Only the reader a file's
// signature (or, for formats without one, its extension) names is tried, after
// a size check; every number a tile or sidecar gives is range-checked before it
// is used; non-finite pixels are refused by name. Large files are sparse.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "host/reference/image_io.h"
#include "host/reference/limits.h"
#include "host/reference/merge.h"
#include "host/reference/texture.h"
#include "testkit/expect_text.h"
#include "testkit/temp_dir.h"

namespace {

struct TempDir : vtest::TempDir {
    // A file of `size` bytes that holds none: zeros, without using the disk.
    std::string sparse(const std::string& name, int64_t size) const {
        EXPECT_EQ(truncate(write(name, "").c_str(), size), 0);
        return file(name);
    }
};

std::string encoded(const char* name, int channels) {
    std::vector<float> px(4 * static_cast<size_t>(channels), 0.5f);
    std::vector<unsigned char> bytes;
    EXPECT_EQ(vref::encodePixels(name, 2, 2, channels, px.data(), &bytes), "");
    return std::string(bytes.begin(), bytes.end());
}

// An OpenEXR file whose attribute `name` of type `type` declares `size` bytes.
std::string exrClaiming(const std::string& name, const std::string& type, uint32_t size) {
    std::string exr = encoded("x.exr", 4);
    size_t at = exr.find(name + '\0' + type + '\0') + name.size() + type.size() + 2;
    for (int i = 0; i < 4; ++i) exr[at + i] = static_cast<char>(size >> (8 * i));
    return exr;
}

TEST(ImageReaders, OnlyTheReaderTheSignatureOrTheExtensionNames) {
    TempDir dir;
    const std::string png = encoded("x.png", 3);
    struct Case {
        std::string path;
        const char* format;  // the reader found, or null
        const char* error;
    } cases[] = {
        {dir.write("png-named.exr", png), "png", ""},
        {dir.write("plain.tga", encoded("x.tga", 3)), "targa", ""},
        {dir.write("half.exr", encoded("x.exr", 4)), "openexr", ""},
        // The reader would allocate what the header claims before reading it.
        {dir.write("claims.exr", exrClaiming("channels", "chlist", 0x7ffffff0)), "openexr",
         "the OpenEXR attribute \"channels\" declares 2147483632 bytes, beyond the end"},
        // The reader reads 16 bytes whatever is declared, and would read on from there.
        {dir.write("window.exr", exrClaiming("dataWindow", "box2i", 15)), "openexr",
         "\"dataWindow\" of type box2i declares 15 bytes, not 16"},
        {dir.write("cut.exr", encoded("x.exr", 4).substr(0, 20)), "openexr", "cut short"},
        {dir.write("claims.png", std::string(png).replace(8, 4, "\x7f\xff\xff\xf0")), "png",
         "the PNG chunk \"IHDR\" declares 2147483632 bytes, beyond the end"},
        {dir.write("screen.gif", std::string("GIF89a\x89\xf1\xf1\xf1", 10)), "gif",
         "the GIF declares a screen of 61833 x 61937 pixels"},
        {dir.write("text.png", "hello"), nullptr, "not an image file"},
        // Left to guess, OpenImageIO's IFF reader scans a file of zeros to its end.
        {dir.sparse("zeros.iff", int64_t{1} << 30), nullptr, "not an image file"},
        {dir.sparse("huge.exr", vref::kMaxImageFileBytes + 1), nullptr,
         "the file is 2147483649 bytes; an image file may have at most 2147483648"},
        {dir.path, nullptr, "not a regular file"},
        {dir.file("gone.exr"), nullptr, "missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        vref::ImageReader reader;
        EXPECT_MENTIONS(vref::findImageReader(c.path, nullptr, &reader), c.error);
        EXPECT_STREQ(reader.format, c.format);
    }
    vref::ImageReader reader;
    EXPECT_EQ(vref::findImageReader("sky.hdr", &png, &reader), "");
    EXPECT_STREQ(reader.format, "png");
}

TEST(ImageReaders, TexturesOpenedByTheirOwnReaderOrRefusedByName) {
    TempDir dir;
    vref::TextureLibrary textures;
    std::string err;
    // Read and cached as the PNG it is, from a file and from memory.
    const std::string png = encoded("x.png", 3);
    for (const std::string* bytes : {static_cast<const std::string*>(nullptr), &png}) {
        vref::ImageTexture* t = textures.load(dir.write("wood.exr", png), false, &err, bytes);
        ASSERT_NE(t, nullptr) << err;
        pxs::float4 c;
        const float uv[2] = {0.5f, 0.5f};
        t->sample(&c, uv);
        EXPECT_NEAR(c.x, 0.5f, 0.01f);  // the code the PNG holds
    }
    EXPECT_EQ(textures.load(dir.sparse("sky.hdr", int64_t{3} << 30), true, &err), nullptr);
    EXPECT_MENTIONS(err, "texture ", "sky.hdr: the file is 3221225472 bytes");
    EXPECT_EQ(textures.load(dir.sparse("sky.iff", int64_t{1} << 30), true, &err), nullptr);
    EXPECT_MENTIONS(err, "sky.iff: not an image file");
}

// A tile of a 6 x 2 frame at (2, 0), as vesper-render writes it.
std::string writeTile(const TempDir& dir, const std::string& name, std::vector<float> rgba,
                      int x = 2) {
    vref::Image im;
    im.width = 2;
    im.height = 2;
    im.x = x;
    im.fullWidth = 6;
    im.fullHeight = 2;
    im.rgba = std::move(rgba);
    vref::ImageMetadata meta;
    meta.tile = true;
    meta.attributes = {{"sceneHash", "0123456789abcdef"}, {"spp", 1}};
    EXPECT_EQ(vref::writeImage(im, dir.file(name), meta), "");
    return dir.file(name);
}

std::string readError(const std::string& path, bool pixels = false) {
    try {
        vref::readImage(path, pixels);
    } catch (const vref::ImageError& e) {
        return e.what();
    }
    return "";
}

TEST(TileReading, SidecarNumbersCheckedBeforeAnyArithmetic) {
    TempDir dir;
    std::string png = writeTile(dir, "t.png", std::vector<float>(16, 0.5f));
    const std::string head = R"({"sceneHash": "0123456789abcdef", )";
    struct Case {
        std::string sidecar;
        const char* error;
    } cases[] = {
        {R"("dataWindow": [2, 0, 4, 2], "fullSize": [6, 2]})", ""},
        // Wrapped in an int, x1 - x0 would be 2 and the fill would start 2^31 bits out.
        {R"("dataWindow": [2147483600, 0, -2147483646, 2], "fullSize": [6, 2]})",
         "\"dataWindow\"[0] is 2147483600, not a whole number from 0 to 16384"},
        {R"("dataWindow": [2, 0, 18446744073709551615, 2], "fullSize": [6, 2]})",
         "\"dataWindow\"[2] is 18446744073709551615"},
        {R"("dataWindow": [-2, 0, 0, 2], "fullSize": [6, 2]})", "\"dataWindow\"[0] is -2"},
        {R"("dataWindow": [2, 0, 4.0, 2], "fullSize": [6, 2]})", "\"dataWindow\"[2] is 4.0"},
        {R"("dataWindow": [2, 0], "fullSize": [6, 2]})", "\"dataWindow\"[2] is missing"},
        {R"("dataWindow": [2, 0, 5, 2], "fullSize": [6, 2]})",
         "\"dataWindow\" does not match the image's 2 x 2 pixels"},
        // A huge frame claimed in a few bytes is refused before anything is allocated.
        {R"("dataWindow": [2, 0, 4, 2], "fullSize": [2000000000, 2000000000]})",
         "\"fullSize\"[0] is 2000000000, not a whole number from 1 to 16384"},
        {R"("dataWindow": [2, 0, 4, 2], "fullSize": [16384, 16384]})",
         "\"fullSize\" of 16384 x 16384 pixels lies outside the image limits"},
        {R"("dataWindow": [2, 0, 4, 2], "fullSize": [6, 2], "spp": [[[1]]]})",
         "\"spp\" is not a string or a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sidecar);
        dir.write("t.png.json", head + c.sidecar);
        std::string err = readError(png);
        if (*c.error) EXPECT_MENTIONS(err, "t.png.json: ", c.error);
        EXPECT_EQ(err.empty(), !*c.error) << err;
    }
    dir.write("t.png.json", "{");
    EXPECT_MENTIONS(readError(png), "t.png.json: not a sidecar of vesper-render");
    dir.write("t.png.json", "[]");
    EXPECT_MENTIONS(readError(png), "t.png.json: not a JSON object");
    dir.sparse("t.png.json", vref::kMaxSidecarBytes + 1);
    EXPECT_MENTIONS(readError(png), "t.png.json: 1048577 bytes; a sidecar has at most 1048576");
}

TEST(TileReading, ExrPlacesAndPixelsChecked) {
    TempDir dir;
    float nan = std::numeric_limits<float>::quiet_NaN();
    float inf = std::numeric_limits<float>::infinity();
    std::vector<float> px(16, 0.5f);
    px[1 * 4 + 2] = nan;
    px[3 * 4 + 3] = -inf;
    std::string bad = writeTile(dir, "bad.exr", px);
    EXPECT_EQ(readError(bad), "");  // the header alone
    // Refused when merged, by name, not written into the frame.
    std::vector<float> fine(16, 0.5f);
    try {
        vrender::assembleFrame(
            "frame.exr", {writeTile(dir, "a.exr", fine, 0), bad, writeTile(dir, "b.exr", fine, 4)});
        ADD_FAILURE() << "a frame merged with NaN pixels";
    } catch (const vref::ImageError& e) {
        EXPECT_EQ(e.what(),
                  bad + ": 2 pixels are not finite (NaN or infinite), the first at (3, 0)");
    }
    EXPECT_MENTIONS(readError(writeTile(dir, "far.exr", px, 20000)),
                    "far.exr: its pixels start at (20000, 0), outside every frame");
    EXPECT_MENTIONS(readError(writeTile(dir, "before.exr", px, -3)),
                    "before.exr: its pixels start at (-3, 0)");
}

TEST(MergeSheet, LayoutsKeepWithinTheSheetLimits) {
    struct Case {
        int width, height, frames, columns;
        int sheetW, sheetH;  // 0: only within the limits
    } cases[] = {
        {64, 40, 4, 0, 332, 244},       // 2 x 2 cells of 160 x 100 with 16-pixel labels
        {1, 16384, 1, 0, 168, 344},     // a tall frame: 1 x 320 in a 160-wide cell
        {640, 400, 3, 1000, 976, 234},  // 3 columns of 320 x 200 with 26-pixel labels
        {320, 200, 100000, 0, 0, 0},    // the largest wedge: small cells, not 80 GB
        {16384, 2048, 100000, 1000, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.frames) + " frames");
        vrender::SheetLayout l =
            vrender::layoutSheet("s.png", c.width, c.height, c.frames, c.columns);
        EXPECT_LE(l.width() * l.height(), vref::kMaxSheetPixels);
        EXPECT_LE(std::max(l.width(), l.height()), vref::kMaxImageSide);
        if (c.sheetW) {
            EXPECT_EQ(l.width(), c.sheetW);
            EXPECT_EQ(l.height(), c.sheetH);
        }
    }
    try {
        vrender::layoutSheet("s.png", 320, 200, 100000, 1);
        ADD_FAILURE() << "100000 frames in one column";
    } catch (const vrender::MergeError& e) {
        EXPECT_MENTIONS(e.what(), "s.png: 100000 frames in 1 columns do not fit", "more columns");
    }
}

}  // namespace
