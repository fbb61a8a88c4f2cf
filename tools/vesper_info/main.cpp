// vesper-info: loads vesperShaders64 as a host does and describes every class it
// exports: kind, API version, capability mask, parameters in registration order
// with type and default, and vertex attributes. With --json, defaults are typed
// values (host/typed_value.h).
//
//   vesper-info [--json] [--library PATH]
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "host/library.h"
#include "host/recording_registry.h"
#include "host/slots.h"
#include "host/typed_value.h"

namespace {

std::string capabilityNames(uint32_t mask) {
    static const struct {
        uint32_t bit;
        const char* name;
    } kBits[] = {{pxs::kCapShade, "shade"},
                 {pxs::kCapShadowTransmission, "shadowTransmission"},
                 {pxs::kCapEvaluateBsdf, "evaluateBsdf"},
                 {pxs::kCapSampleBsdf, "sampleBsdf"},
                 {pxs::kCapLight, "light"},
                 {pxs::kCapEnvironment, "environment"}};
    std::string s;
    for (const auto& b : kBits) {
        if (mask & b.bit) s += (s.empty() ? "" : ", ") + std::string(b.name);
    }
    return s;
}

const char* attributeKindName(int32_t kind) {
    switch (kind) {
        case pxs::kAttributeFloat2:
            return "float2";
        case pxs::kAttributeFloat3:
            return "float3";
        case pxs::kAttributeFloat4:
            return "float4";
    }
    return "unknown";
}

struct ParameterRow {
    std::string name, type, defaultText;
    nlohmann::json defaultValue;  // typed
};

struct ClassInfo {
    std::string name;
    int32_t apiVersion = -1;
    int32_t kind = -1;
    bool created = false;
    uint32_t capabilities = 0;
    std::vector<ParameterRow> parameters;
    std::vector<vhost::Declaration> attributes;
};

void describe(const vhost::Library& lib, ClassInfo& info) {
    // The version is asked first: a class of another revision is never created.
    info.apiVersion = lib.apiVersion(info.name);
    if (info.apiVersion != pxs::kApiVersion) return;
    vhost::ShaderPtr shader = lib.create(info.name);
    if (!shader) return;
    info.created = true;
    info.kind = vhost::shaderKind(shader.get());
    vhost::RecordingRegistry registry;
    vhost::declareParameters(shader.get(), &registry);
    info.capabilities = registry.capabilities();
    // Defaults are read now, while the object and its fields are alive.
    for (const vhost::Declaration* d : registry.parameters()) {
        std::string type = vhost::typeName(d->type);
        info.parameters.push_back(
            {d->name, type, d->valueText(), vhost::typedValue(type, d->field)});
    }
    for (const vhost::Declaration* d : registry.attributes()) info.attributes.push_back(*d);
}

nlohmann::json toJson(const vhost::Library& lib, const std::vector<ClassInfo>& classes) {
    nlohmann::json out;
    out["library"] = lib.path();
    out["classes"] = nlohmann::json::array();
    for (const ClassInfo& c : classes) {
        nlohmann::json j;
        j["name"] = c.name;
        j["apiVersion"] = c.apiVersion;
        j["kind"] = vhost::kindName(c.kind);
        j["capabilities"] = c.capabilities;
        j["parameters"] = nlohmann::json::array();
        j["attributes"] = nlohmann::json::array();
        for (const ParameterRow& p : c.parameters) {
            j["parameters"].push_back(
                {{"name", p.name}, {"type", p.type}, {"default", p.defaultValue}});
        }
        for (const vhost::Declaration& d : c.attributes) {
            j["attributes"].push_back({{"name", d.name},
                                       {"kind", attributeKindName(d.attributeKind)},
                                       {"offset", d.attributeOffset}});
        }
        out["classes"].push_back(j);
    }
    return out;
}

void printText(const vhost::Library& lib, const std::vector<ClassInfo>& classes) {
    std::printf("%s: %zu shader classes\n", lib.path().c_str(), classes.size());
    for (const ClassInfo& c : classes) {
        uint32_t mask = c.capabilities;
        std::printf("\n%s\n  kind %s, API version %d, capabilities %u (%s)\n", c.name.c_str(),
                    vhost::kindName(c.kind), c.apiVersion, mask, capabilityNames(mask).c_str());
        if (c.apiVersion != pxs::kApiVersion) {
            std::printf("  (not created: API version %d, expected %d)\n", c.apiVersion,
                        pxs::kApiVersion);
        } else if (!c.created) {
            std::printf("  (could not be created)\n");
        }
        if (!c.parameters.empty()) std::printf("  parameters:\n");
        for (const ParameterRow& p : c.parameters) {
            std::printf("    %-32s %-12s %s\n", p.name.c_str(), p.type.c_str(),
                        p.defaultText.c_str());
        }
        if (!c.attributes.empty()) std::printf("  vertex attributes:\n");
        for (const vhost::Declaration& d : c.attributes) {
            std::printf("    %-32s %-12s offset %d\n", d.name.c_str(),
                        attributeKindName(d.attributeKind), d.attributeOffset);
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

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    std::string path = defaultLibrary();
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) {
            json = true;
        } else if (!std::strcmp(argv[i], "--library") && i + 1 < argc) {
            path = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--json] [--library PATH]\n", argv[0]);
            return 2;
        }
    }
    vhost::Library lib(path);
    if (!lib.loaded()) {
        std::fprintf(stderr, "vesper-info: cannot load %s: %s\n", path.c_str(),
                     lib.error().c_str());
        return 1;
    }
    if (lib.classes().empty()) {
        std::fprintf(stderr, "vesper-info: %s exports no shader classes (no <Class>_create)\n",
                     path.c_str());
        return 1;
    }
    std::vector<ClassInfo> classes(lib.classes().size());
    int refused = 0;
    for (size_t i = 0; i < classes.size(); ++i) {
        classes[i].name = lib.classes()[i];
        describe(lib, classes[i]);
        if (classes[i].created) continue;
        ++refused;
        std::string why = classes[i].apiVersion == pxs::kApiVersion
                              ? "could not be created"
                              : "API version " + std::to_string(classes[i].apiVersion) +
                                    ", expected " + std::to_string(pxs::kApiVersion) +
                                    "; not created";
        std::fprintf(stderr, "vesper-info: %s: class %s: %s\n", path.c_str(),
                     classes[i].name.c_str(), why.c_str());
    }
    if (json) {
        // Names come from the file: bytes that are not UTF-8 are shown replaced.
        std::cout
            << toJson(lib, classes).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
            << "\n";
    } else {
        printText(lib, classes);
    }
    return refused ? 1 : 0;
}
