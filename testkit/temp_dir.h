// A directory of the test's own under the system's temporary directory, removed
// with everything in it when the object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace vtest {

struct TempDir {
    std::string path;

    TempDir() {
        std::string t = (std::filesystem::temp_directory_path() / "vesper-test-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }
    // Writes `bytes` to the file `name`; its path.
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(file(name), std::ios::binary) << bytes;
        return file(name);
    }
};

}  // namespace vtest
