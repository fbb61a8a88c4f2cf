// Images in files: a rendered image written as PNG (8-bit sRGB), EXR (linear,
// with alpha) or another format OpenImageIO writes, with its place in the frame
// and attributes; read back the same way; and the one way files are written,
// whole or not at all.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <nlohmann/json.hpp>

#include "host/reference/vmath.h"

namespace vref {

// Pixels of a frame: all of it, or a region placed at (x, y).
struct Image {
    int width = 0, height = 0;          // of the pixels held
    int x = 0, y = 0;                   // where they lie in the frame
    int fullWidth = 0, fullHeight = 0;  // the frame
    std::vector<float> rgba;            // linear, row-major from the top row

    float4 at(int x, int y) const {
        const float* p = &rgba[4 * (static_cast<size_t>(y) * width + x)];
        return float4(p[0], p[1], p[2], p[3]);
    }
};

// What is written with an image besides its pixels.
struct ImageMetadata {
    // A part of a frame to be assembled later: EXR pixels are written as 32-bit
    // floats so that nothing is rounded before the frame is.
    bool tile = false;
    // Flat: string and integer values. EXR keeps them as "vesper:<key>" header
    // attributes; other formats in a JSON sidecar.
    nlohmann::json attributes = nlohmann::json::object();
};

// Writes an image: 8-bit sRGB for .png (and other 8-bit formats), linear half
// floats with alpha for .exr. The file appears whole or not at all: a failed
// write (a full disk, a size limit) leaves no partial file. EXR records the
// image's place in the frame as its data and display windows; other formats get
// a sidecar PATH.json (a tile, or attributes to keep) holding "dataWindow"
// [x0, y0, x1, y1], "fullSize" [width, height] and the attributes, written
// after the image; a stale sidecar is removed first. Returns "" or an error
// message naming the file.
std::string writeImage(const Image& image, const std::string& path,
                       const ImageMetadata& metadata = {});

// The 8-bit sRGB code writeImage stores for a linear value: srgbByteExact's, found
// in a table.
unsigned char srgbByte(float linear);
// The code by the formula: round(255 x sRGB(clamp(linear, 0, 1))).
unsigned char srgbByteExact(float linear);

// Writes `bytes` to `path` whole or not at all (a temporary file beside it,
// renamed into place). Returns "" or the system's error.
std::string writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes);

// "" when writeImage can be expected to write `path` (a known image format, a
// directory that takes new files), else why not; to check before rendering.
std::string checkOutput(const std::string& path);

// The bytes writeImage writes to a .png file.
std::string encodePng(const Image& image, std::vector<unsigned char>* bytes);

// Encodes `channels` (1 to 4) floats per pixel, rows from the top, in memory in
// the format the extension of `name` gives: half floats for .exr, 8 bits
// otherwise. Returns "" or why not.
std::string encodePixels(const std::string& name, int width, int height, int channels,
                         const float* pixels, std::vector<unsigned char>* bytes);

// An image file that cannot be read back as writeImage wrote it; what() names it.
class ImageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The OpenImageIO reader of an image file: the format its first bytes name,
// or, for the formats that carry no signature (Targa, RLA), the one its
// extension names. Nothing else is tried: left to guess, OpenImageIO tries every
// reader it has, and some scan a whole file of any size under the library's one
// global lock.
struct ImageReader {
    const char* format = nullptr;  // OpenImageIO's name for it
    OIIO::ImageInput::Creator create = nullptr;
};

// Finds the reader of the image `name`: the file, or `bytes` when given (a
// file's contents kept in memory). Returns "" or why there is none: the file is
// missing, larger than kMaxImageFileBytes, or in no format read here.
std::string findImageReader(const std::string& name, const std::string* bytes, ImageReader* reader);

// Opens the image `name` (from `proxy` when not null) with `reader`; null with
// `*error` set when it cannot.
std::unique_ptr<OIIO::ImageInput> openImage(const std::string& name, const ImageReader& reader,
                                            OIIO::Filesystem::IOProxy* proxy, std::string* error);

// An image read back: its pixels (linear RGBA, placed in its frame) and the
// attributes writeImage stored with it.
struct ImageFile {
    std::string path;
    Image image;
    nlohmann::json attributes;
};

// Reads what writeImage wrote: an RGBA EXR with its windows and "vesper:"
// attributes, or an 8-bit RGB(A) image with its sidecar, whose codes become the
// linear values writeImage stores as them, so that they are written back
// unchanged. Without `pixels`, only the header and sidecar are read (rgba stays
// empty). Every number the file gives is checked before it is used: the frame
// and the pixels held within the image limits, the pixels placed inside
// [0, kMaxImageSide] on each axis, every pixel finite. Throws ImageError.
ImageFile readImage(const std::string& path, bool pixels = true);

// Reads the pixels of the image readImage read `header` from (without pixels)
// into rows of `rowFloats` floats from `data`: a tile straight into its place
// in a frame. Throws ImageError, also when the file no longer matches `header`.
void readPixels(const ImageFile& header, float* data, size_t rowFloats);

}  // namespace vref
