#include "python/library.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>

#include "host/class_info.h"
#include "python/convert.h"

namespace vpy {

LibraryContext::LibraryContext(const std::string& path) : lib_(path) {
    if (!lib_.loaded()) throw Error("cannot load " + path + ": " + lib_.error());
    size_t usable = 0;
    for (const std::string& c : lib_.classes()) usable += lib_.apiVersion(c) == pxs::kApiVersion;
    if (usable == 0) {
        throw Error(path + " exports no shader classes of API version " +
                    std::to_string(pxs::kApiVersion));
    }
    scene_.commit();
}

std::string LibraryContext::defaultPath() {
    Dl_info self;
    if (dladdr(reinterpret_cast<void*>(&LibraryContext::defaultPath), &self) && self.dli_fname) {
        std::error_code ec;
        auto installed =
            (std::filesystem::path(self.dli_fname).parent_path() / VESPER_INSTALLED_PLUGIN)
                .lexically_normal();
        if (std::filesystem::exists(installed, ec)) return installed.string();
    }
    return vhost::Library::defaultPath();
}

void LibraryContext::checkExported(const std::string& className) const {
    const std::vector<std::string>& c = lib_.classes();
    if (std::find(c.begin(), c.end(), className) == c.end()) {
        throw Error("unknown shader class \"" + className + "\" (not exported by " + lib_.path() +
                    ")");
    }
}

const nlohmann::json& LibraryContext::describe(const std::string& className) {
    checkExported(className);
    std::lock_guard<std::mutex> lock(describedMutex_);
    auto it = described_.find(className);
    if (it == described_.end()) {
        vhost::ClassInfo info = vhost::describeClass(lib_, className);
        vhost::probeUsage(lib_, info);
        it = described_.emplace(className, vhost::toJson(info)).first;
    }
    return it->second;
}

pxs::ITextureObject* LibraryContext::texture(const std::string& file, bool cube,
                                             const std::string& where) {
    std::error_code ec;
    std::string path = std::filesystem::absolute(file, ec).lexically_normal().string();
    if (ec) path = file;
    std::lock_guard<std::mutex> lock(texturesMutex_);
    std::string error;
    pxs::ITextureObject* t = scene_.textures.load(path, cube, &error);
    if (!t) throw ParameterError(where + ": " + error);
    return t;
}

}  // namespace vpy
