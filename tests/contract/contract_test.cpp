// The binary contract, checked for every class the library exports: exports,
// API version, slot order and defaults, declaration order, copy and destroy.
#include <cstring>
#include <set>

#include "testkit/alloc_counter.h"
#include "testkit/harness.h"
#include "testkit/test_texture.h"
#include "vesper/parameters.h"

namespace {

using vtest::library;

TEST(Exports, OnlyFactoriesAndVersionQueries) {
    ASSERT_TRUE(library().loaded()) << library().error();
    std::vector<std::string> exports = vhost::exportedFunctions(library().path());
    ASSERT_FALSE(library().classes().empty());
    std::set<std::string> expected;
    for (const std::string& c : library().classes()) {
        expected.insert(c + "_create");
        expected.insert(c + "_getAPIVersion");
    }
    EXPECT_EQ(std::set<std::string>(exports.begin(), exports.end()), expected);
    EXPECT_EQ(exports.size(), 2 * library().classes().size());
}

TEST(Exports, ApiVersionWithoutCreating) {
    for (const std::string& c : library().classes()) {
        pxs::ApiVersionFunction version = library().apiVersionFunction(c);
        ASSERT_TRUE(version) << c;
        auto before = vtest::allocationCounts();
        EXPECT_EQ(version(), pxs::kApiVersion) << c;
        EXPECT_EQ(vtest::allocationCounts().allocations, before.allocations) << "nothing created";
    }
}

class EveryClass : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryClass, KindFlagAndCapabilitiesAgree) {
    vtest::Shader s(GetParam());
    ASSERT_TRUE(s.object);
    EXPECT_EQ(vhost::queryFlagA(s.get()), 1);
    int32_t kind = vhost::shaderKind(s.get());
    uint32_t mask = s.registry.capabilities();
    switch (kind) {
        case pxs::kKindMaterial:
            EXPECT_TRUE(mask & pxs::kCapShade);
            EXPECT_EQ(mask & ~15u, 0u) << "a material announces only bits 1 to 8";
            break;
        case pxs::kKindLight:
            EXPECT_EQ(mask, 32u);
            break;
        case pxs::kKindEnvironment:
            EXPECT_EQ(mask, 64u);
            break;
        default:
            ADD_FAILURE() << "unknown shader kind " << kind;
    }
}

TEST_P(EveryClass, DeclaresCapabilitiesFirstThenUniqueNames) {
    vtest::Shader s(GetParam());
    const auto& d = s.registry.declarations;
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].what, vhost::Declared::Capabilities);
    std::set<std::string> names;
    std::vector<std::pair<int32_t, int32_t>> spans;
    for (size_t i = 1; i < d.size(); ++i) {
        EXPECT_NE(d[i].what, vhost::Declared::Capabilities) << "capabilities are declared once";
        EXPECT_TRUE(names.insert(d[i].name).second) << "registered twice: " << d[i].name;
        EXPECT_EQ(d[i].shader, s.get());
        if (d[i].isParameter()) {
            // Every field lies inside the object (its address is stable for its life).
            EXPECT_GE(static_cast<char*>(d[i].field), static_cast<char*>(s.get()));
        } else {
            int32_t size = d[i].attributeKind * 4 + 4;  // kinds 1, 2, 3: 8, 12, 16 bytes
            spans.push_back({d[i].attributeOffset, d[i].attributeOffset + size});
            EXPECT_GE(d[i].attributeOffset, 0);
            EXPECT_LE(d[i].attributeOffset + size, static_cast<int32_t>(pxs::kAttributeBytes));
        }
    }
    for (size_t i = 0; i < spans.size(); ++i) {
        for (size_t j = i + 1; j < spans.size(); ++j) {
            bool apart = spans[i].second <= spans[j].first || spans[j].second <= spans[i].first;
            EXPECT_TRUE(apart) << "attribute blocks overlap";
        }
    }
}

// Writes a distinct byte pattern into every registered field.
void scribble(const vhost::RecordingRegistry& r) {
    uint8_t seed = 1;
    for (const vhost::Declaration* d : r.parameters()) {
        size_t n = pxs::paramTypeSize(d->type);
        auto* bytes = static_cast<uint8_t*>(d->field);
        if (d->type == pxs::ParamType::Bool) {
            bytes[0] = bytes[0] ? 0 : 1;
            continue;
        }
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + 31 * i);
        ++seed;
    }
}

::testing::AssertionResult sameFields(const vhost::RecordingRegistry& a,
                                      const vhost::RecordingRegistry& b) {
    auto pa = a.parameters(), pb = b.parameters();
    if (pa.size() != pb.size()) return ::testing::AssertionFailure() << "parameter count";
    for (size_t i = 0; i < pa.size(); ++i) {
        // Texture handles: the library owns bytes 0..11 only.
        size_t n = pxs::paramTypeSize(pa[i]->type);
        if (n == sizeof(pxs::TextureHandle)) n = 12;
        if (std::memcmp(pa[i]->field, pb[i]->field, n) != 0) {
            return ::testing::AssertionFailure() << pa[i]->name << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

TEST_P(EveryClass, CopyParametersCopiesEveryFieldAndRestoresDefaults) {
    vtest::Shader edited(GetParam()), fresh(GetParam()), target(GetParam());
    scribble(edited.registry);
    vhost::copyParameters(target.get(), edited.get());
    EXPECT_TRUE(sameFields(target.registry, edited.registry)) << "copy of edited fields";
    vhost::copyParameters(edited.get(), fresh.get());
    EXPECT_TRUE(sameFields(edited.registry, fresh.registry)) << "copy from a fresh object";
    for (const vhost::Declaration* d : edited.registry.parameters()) {
        const vhost::Declaration* f = fresh.registry.find(d->name);
        ASSERT_TRUE(f);
        if (d->type != pxs::ParamType::Matrix3 && d->type != pxs::ParamType::Matrix4) {
            EXPECT_EQ(d->valueText(), f->valueText()) << d->name << " is back at its default";
        }
    }
}

TEST_P(EveryClass, DeletingAndNonDeletingDestroy) {
    pxs::CreateFunction create = library().createFunction(GetParam());
    ASSERT_TRUE(create);
    pxs::IShaderBase* a = create();
    auto before = vtest::allocationCounts();
    EXPECT_EQ(vhost::destroy(a, 0), a);
    EXPECT_EQ(vtest::allocationCounts().frees, before.frees) << "flag 0 keeps the memory";
    ::operator delete(static_cast<void*>(a));  // the same allocator, here

    pxs::IShaderBase* b = create();
    before = vtest::allocationCounts();
    vhost::destroy(b, pxs::kDestroyFree);
    EXPECT_EQ(vtest::allocationCounts().frees, before.frees + 1) << "flag 1 frees";
}

TEST_P(EveryClass, UnannouncedMaterialSlotsLeaveTheStateAlone) {
    vtest::Shader s(GetParam());
    if (vhost::shaderKind(s.get()) != pxs::kKindMaterial) GTEST_SKIP() << "not a material";
    uint32_t mask = s.registry.capabilities();
    const struct {
        int slot;
        uint32_t bit;
    } slots[] = {{vhost::kSlotShadowTransmission, pxs::kCapShadowTransmission},
                 {vhost::kSlotEvaluateBsdf, pxs::kCapEvaluateBsdf},
                 {vhost::kSlotSampleBsdf, pxs::kCapSampleBsdf},
                 {vhost::kSlotReservedHook, 0}};
    for (const auto& e : slots) {
        if (e.bit && (mask & e.bit)) continue;
        vhost::TestServices sv;
        pxs::ShadingState st = vhost::StateBuilder().build();
        pxs::ShadingState before = st;
        vhost::callPerHit(s.get(), e.slot, &sv, &st);
        EXPECT_TRUE(vhost::changedFields(before, st).empty()) << "slot " << e.slot;
        EXPECT_TRUE(sv.calls.empty()) << "slot " << e.slot;
    }
}

// The host-side checked access: a value of another type or size than the registered
// one is refused and writes nothing, so a parameter's neighbours stay as they are;
// reads give back what is there, and refused reads leave the destination alone.
TEST_P(EveryClass, ParameterTableRefusesWritesOfAnotherType) {
    vtest::Shader s(GetParam());
    pxs::ParameterTable table;
    vhost::declareParameters(s.get(), &table);
    auto recorded = s.registry.parameters();
    ASSERT_EQ(table.parameters.size(), recorded.size());
    EXPECT_EQ(table.capabilities, s.registry.capabilities());
    EXPECT_EQ(table.attributes.size(), s.registry.attributes().size());
    EXPECT_EQ(table.set("no such parameter", 1.0f), pxs::SetResult::UnknownName);
    for (size_t i = 0; i < recorded.size(); ++i) {
        const pxs::ParamDeclaration& p = table.parameters[i];
        ASSERT_STREQ(p.name, recorded[i]->name.c_str());
        ASSERT_EQ(p.type, recorded[i]->type);
        ASSERT_EQ(p.field, recorded[i]->field);
        std::vector<std::string> before;
        for (const vhost::Declaration* d : recorded) before.push_back(d->valueText());
        pxs::float3 three(7.0f, 8.0f, 9.0f);
        pxs::SetResult wrong =
            p.type == pxs::ParamType::Float3 ? table.set(p.name, 7.0f) : table.set(p.name, three);
        EXPECT_EQ(wrong, pxs::SetResult::WrongType) << p.name;
        EXPECT_EQ(table.setBytes(p.name, p.type, &three, pxs::paramTypeSize(p.type) + 1),
                  pxs::SetResult::WrongType)
            << p.name << ": one byte too many";
        for (size_t j = 0; j < recorded.size(); ++j) {
            EXPECT_EQ(recorded[j]->valueText(), before[j]) << "writing " << p.name;
        }
        const size_t size = pxs::paramTypeSize(p.type);
        unsigned char own[sizeof(pxs::matrix4)], read[sizeof(pxs::matrix4) + 1];
        std::memcpy(own, p.field, size);
        std::memset(read, 0xA7, sizeof read);
        EXPECT_EQ(table.getBytes(p.name, p.type, read, size + 1), pxs::GetResult::WrongType);
        EXPECT_EQ(read[0], 0xA7) << p.name << ": a refused read wrote";
        ASSERT_EQ(table.getBytes(p.name, p.type, read, size), pxs::GetResult::Ok) << p.name;
        EXPECT_EQ(std::memcmp(read, own, size), 0) << p.name;
        EXPECT_EQ(table.setBytes(p.name, p.type, own, size), pxs::SetResult::Ok) << p.name;

        if (!pxs::isTextureType(p.type)) {
            EXPECT_EQ(table.bindTexture(p.name, nullptr), pxs::SetResult::WrongType) << p.name;
            continue;
        }
        // Binding writes the pointer only: the two integers are the host's.
        auto* h = static_cast<pxs::TextureHandle*>(p.field);
        h->id = 7;
        h->hostData = 9;
        vhost::TestTexture texture(pxs::float4(1, 1, 1, 1));
        EXPECT_EQ(table.bindTexture(p.name, &texture), pxs::SetResult::Ok) << p.name;
        EXPECT_EQ(h->object, &texture) << p.name;
        EXPECT_EQ(h->id, 7) << p.name;
        EXPECT_EQ(h->hostData, 9) << p.name;
        std::memcpy(p.field, own, size);
    }
}

std::vector<std::string> allClasses() {
    return library().classes();
}

INSTANTIATE_TEST_SUITE_P(Library, EveryClass, ::testing::ValuesIn(allClasses()),
                         [](const auto& info) { return info.param; });

}  // namespace
