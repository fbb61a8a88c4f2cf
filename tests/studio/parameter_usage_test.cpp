// The probe of which operations read each parameter: over the settings the class
// description probes, and at one setting, where another parameter (a switch, a
// mode) and the kind of lights the host sends decide what a parameter reaches.
#include <gtest/gtest.h>

#include "host/class_info.h"
#include "host/parameter_usage.h"
#include "host/recording_registry.h"
#include "host/slots.h"

namespace {

constexpr uint32_t kShade = pxs::kCapShade;
constexpr uint32_t kBsdf = pxs::kCapEvaluateBsdf | pxs::kCapSampleBsdf;

const vhost::Library& library() {
    static const vhost::Library lib;
    return lib;
}

TEST(ParameterUsage, ClassDescriptionNamesTheOperationsThatReadEachParameter) {
    const struct {
        const char* cls;
        const char* param;
        uint32_t readBy;
    } cases[] = {
        {"corvid_Mtl_Metal", "u_specularColor", kShade | kBsdf},  // shade only with some sources
        {"corvid_Mtl_Metal", "u_cosineUsesBump", kBsdf},
        {"corvid_Mtl_Metal", "showAmbientOnly", 0},
        {"corvid_Mtl_Metal", "maskingColor", kShade},
        {"TamberLegacy", "diffuseColor", kShade | kBsdf},
        {"qzSpotLight", "color", kShade},
    };
    for (const auto& c : cases) {
        vhost::ClassInfo info = vhost::describeClass(library(), c.cls);
        vhost::probeUsage(library(), info);
        ASSERT_TRUE(info.usageProbed) << c.cls;
        const nlohmann::json j = vhost::toJson(info);
        bool found = false;
        for (size_t i = 0; i < info.parameters.size(); ++i) {
            if (info.parameters[i].name != c.param) continue;
            found = true;
            EXPECT_EQ(info.parameters[i].readBy, c.readBy) << c.cls << "." << c.param;
            EXPECT_EQ(j["parameters"][i]["readBy"], vhost::operationNames(c.readBy));
        }
        EXPECT_TRUE(found) << c.cls << "." << c.param;
    }
}

TEST(ParameterUsage, AtOneSettingOnlyWhatTheOtherValuesLetThrough) {
    const struct {
        const char* cls;
        const char* param;
        const char* mode;  // an int parameter set first
        int32_t value;
        vhost::ProbeLights lights;
        uint32_t readBy;
    } cases[] = {
        // Metal's shade takes its specular colour from the source "u_reflectSwitcher" picks.
        {"corvid_Mtl_Metal", "u_specularColor", "u_reflectSwitcher", 0, vhost::ProbeLights::AnyType,
         kBsdf},
        {"corvid_Mtl_Metal", "u_specularColor", "u_reflectSwitcher", 2, vhost::ProbeLights::AnyType,
         kShade | kBsdf},
        // With the diffuse IBL off, TamberLegacy's diffuse colour meets only lights
        // of another type than tinted.
        {"TamberLegacy", "diffuseColor", "IBLDiffMode", -1, vhost::ProbeLights::AnyType,
         kShade | kBsdf},
        {"TamberLegacy", "diffuseColor", "IBLDiffMode", -1, vhost::ProbeLights::TintedOnly, kBsdf},
        {"TamberLegacy", "diffuseColor", "IBLDiffMode", 0, vhost::ProbeLights::TintedOnly,
         kShade | kBsdf},
    };
    for (const auto& c : cases) {
        vhost::ShaderPtr source = library().create(c.cls);
        vhost::RecordingRegistry registry;
        vhost::declareParameters(source.get(), &registry);
        *registry.field<int32_t>(c.mode) = c.value;
        const std::vector<uint32_t> used =
            vhost::probeParameterUsageAt(library(), c.cls, source.get(), c.lights);
        const std::vector<std::string> names = registry.parameterNames();
        ASSERT_EQ(used.size(), names.size());
        const size_t i = std::find(names.begin(), names.end(), c.param) - names.begin();
        ASSERT_LT(i, names.size());
        EXPECT_EQ(used[i], c.readBy)
            << c.cls << "." << c.param << " with " << c.mode << " " << c.value;
    }
}

}  // namespace
