// Any tile files and sidecars through vesper-merge's reading and assembly: what
// it cannot use must be refused with an ImageError or MergeError, never crash,
// hang, leak or allocate beyond the image limits.
//
// An input is up to two tiles, each the bytes of an image file and the text of
// its sidecar, the four parts separated by lines "----". The tiles are written
// to files (their format is found from their first bytes) and merged.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/reference/image_io.h"
#include "host/reference/merge.h"

namespace {

// A directory of its own, in memory where the system has one.
const std::string& directory() {
    static const std::string dir = [] {
        std::string t = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        t += "/vesper-fuzz-merge-XXXXXX";
        if (!mkdtemp(t.data())) std::abort();
        return t;
    }();
    return dir;
}

void put(const std::string& path, const std::string* bytes) {
    std::filesystem::remove(path);
    if (bytes) std::ofstream(path, std::ios::binary) << *bytes;
}

}  // namespace

// OpenImageIO's PNG reader copies an error message into a string that libpng's
// longjmp then skips, on a file cut short: its leak, not one of ours.
// (Stacks are unwound in full at each allocation, through libstdc++'s frames,
// so that the suppression sees the reader.)
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:PNGInput::PngReadCallback\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    directory();  // made first, so that it outlives the handler that removes it
    std::atexit([] { std::filesystem::remove_all(directory()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    for (size_t at = 0; parts.size() < 4;) {
        size_t split = text.find("\n----\n", at);
        parts.push_back(text.substr(at, split - at));
        if (split == std::string::npos) break;
        at = split + 6;
    }
    std::vector<std::string> tiles;
    for (size_t i = 0; i < 4; i += 2) {
        std::string tile = directory() + "/t" + std::to_string(i / 2) + ".png";
        put(tile, i < parts.size() ? &parts[i] : nullptr);
        put(tile + ".json", i + 1 < parts.size() ? &parts[i + 1] : nullptr);
        if (i < parts.size()) tiles.push_back(tile);
    }
    try {
        vref::ImageFile frame = vrender::assembleFrame("frame.exr", tiles);
        size_t pixels = static_cast<size_t>(frame.image.width) * frame.image.height;
        if (frame.image.rgba.size() != 4 * pixels) std::abort();
    } catch (const vref::ImageError&) {
    } catch (const vrender::MergeError&) {
    }
    return 0;
}
