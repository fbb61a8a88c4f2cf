// The page's files, embedded in the program at build time (embed.cmake).
#pragma once

#include <cstddef>
#include <vector>

namespace vstudio {

struct WebAsset {
    const char* path;  // "/index.html"
    const unsigned char* data;
    size_t size;
};

const std::vector<WebAsset>& webAssets();

}  // namespace vstudio
