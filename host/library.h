// Loads vesperShaders64 (dlopen, or LoadLibrary on Windows) and creates shaders by
// class name, the way a host does: nothing here knows the library's classes in advance.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vesper/vesper.h"

namespace vhost {

// Names of the defined, global function symbols in the dynamic symbol table of
// an ELF file, or every name in the export directory of a PE file, sorted.
// Empty when the file cannot be read or is neither.
std::vector<std::string> exportedFunctions(const std::string& path);
// The same for a file's bytes; safe on any bytes.
std::vector<std::string> exportedFunctions(const unsigned char* data, size_t size);

// Deleting destroy through slot 0, for unique_ptr.
struct ShaderDeleter {
    void operator()(pxs::IShaderBase* s) const;
};
using ShaderPtr = std::unique_ptr<pxs::IShaderBase, ShaderDeleter>;

class Library {
  public:
    // Opens the library at `path`; the default is the one this build made.
    explicit Library(const std::string& path = defaultPath());
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    static std::string defaultPath();

    bool loaded() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }
    // On Windows, the file LoadLibrary actually loaded.
    const std::string& path() const { return path_; }

    // Class names, one per exported <Class>_create, sorted.
    const std::vector<std::string>& classes() const { return classes_; }

    pxs::CreateFunction createFunction(const std::string& className) const;
    pxs::ApiVersionFunction apiVersionFunction(const std::string& className) const;
    // -1 when the class is not exported.
    int32_t apiVersion(const std::string& className) const;
    // Null when the class is not exported, answers another API version than
    // pxs::kApiVersion, or creation failed.
    ShaderPtr create(const std::string& className) const;

  private:
    void* handle_ = nullptr;
    std::string path_;
    std::string error_;
    std::vector<std::string> classes_;
};

}  // namespace vhost
