// vesper-info: loads vesperShaders64 as a host does and describes every class it
// exports: kind, API version, capability mask, parameters in registration order
// with type and default, and vertex attributes (host/class_info.h). With --json,
// defaults are typed values and each parameter lists the operations that read it
// (host/parameter_usage.h).
//
//   vesper-info [--json] [--library PATH]
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "host/class_info.h"
#include "host/command_line.h"
#include "host/library.h"

namespace {

nlohmann::json toJson(const vhost::Library& lib, const std::vector<vhost::ClassInfo>& classes) {
    nlohmann::json out;
    out["library"] = lib.path();
    out["classes"] = nlohmann::json::array();
    for (const vhost::ClassInfo& c : classes) out["classes"].push_back(vhost::toJson(c));
    return out;
}

std::string joined(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
    return s;
}

void printText(const vhost::Library& lib, const std::vector<vhost::ClassInfo>& classes) {
    std::printf("%s: %zu shader classes\n", lib.path().c_str(), classes.size());
    for (const vhost::ClassInfo& c : classes) {
        uint32_t mask = c.capabilities;
        std::printf("\n%s\n  kind %s, API version %d, capabilities %u (%s)\n", c.name.c_str(),
                    vhost::kindName(c.kind), c.apiVersion, mask,
                    joined(vhost::capabilityNames(mask)).c_str());
        if (c.apiVersion != pxs::kApiVersion) {
            std::printf("  (not created: API version %d, expected %d)\n", c.apiVersion,
                        pxs::kApiVersion);
        } else if (!c.created) {
            std::printf("  (could not be created)\n");
        }
        if (!c.parameters.empty()) std::printf("  parameters:\n");
        for (const vhost::ParameterInfo& p : c.parameters) {
            std::printf("    %-32s %-12s %s\n", p.name.c_str(), pxs::paramTypeName(p.type),
                        p.defaultText.c_str());
        }
        if (!c.attributes.empty()) std::printf("  vertex attributes:\n");
        for (const vhost::AttributeInfo& a : c.attributes) {
            std::printf("    %-32s %-12s offset %d\n", a.name.c_str(),
                        vhost::attributeKindName(a.kind), a.offset);
        }
    }
}

// Installed, the plug-in installed with this program; in the build tree, the one
// that build made.
std::string defaultLibrary() {
#if defined(VESPER_INSTALLED_PLUGIN) && !defined(_WIN32)
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        auto installed = (self.parent_path() / VESPER_INSTALLED_PLUGIN).lexically_normal();
        if (std::filesystem::exists(installed, ec)) return installed.string();
    }
#endif
    return vhost::Library::defaultPath();
}

struct Options {
    bool json = false;
    std::string library = defaultLibrary();
};

Options parseOptions(int argc, char** argv) {
    Options o;
    vhost::CommandLine cl("vesper-info", "usage: vesper-info [--json] [--library PATH]\n", argc,
                          argv);
    while (cl.next()) {
        if (cl.arg() == "--json") {
            o.json = true;
        } else if (cl.arg() == "--library") {
            o.library = cl.value("a path");
        } else {
            cl.fail("unknown option " + cl.arg());
        }
    }
    return o;
}

// Every class of the library; one that is not created is reported on stderr.
std::vector<vhost::ClassInfo> describeAll(const vhost::Library& lib, const std::string& path,
                                          int* refused) {
    std::vector<vhost::ClassInfo> classes;
    for (const std::string& name : lib.classes()) {
        classes.push_back(vhost::describeClass(lib, name));
        vhost::probeUsage(lib, classes.back());
        const vhost::ClassInfo& c = classes.back();
        if (c.created) continue;
        ++*refused;
        std::string why = c.apiVersion == pxs::kApiVersion
                              ? "could not be created"
                              : "API version " + std::to_string(c.apiVersion) + ", expected " +
                                    std::to_string(pxs::kApiVersion) + "; not created";
        std::fprintf(stderr, "vesper-info: %s: class %s: %s\n", path.c_str(), name.c_str(),
                     why.c_str());
    }
    return classes;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    vhost::Library lib(o.library);
    if (!lib.loaded()) {
        std::fprintf(stderr, "vesper-info: cannot load %s: %s\n", o.library.c_str(),
                     lib.error().c_str());
        return 1;
    }
    if (lib.classes().empty()) {
        std::fprintf(stderr, "vesper-info: %s exports no shader classes (no <Class>_create)\n",
                     o.library.c_str());
        return 1;
    }
    int refused = 0;
    const std::vector<vhost::ClassInfo> classes = describeAll(lib, o.library, &refused);
    if (o.json) {
        // Names come from the file: bytes that are not UTF-8 are shown replaced.
        std::cout
            << toJson(lib, classes).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
            << "\n";
    } else {
        printText(lib, classes);
    }
    return refused ? 1 : 0;
}
