#include "support/harness.h"

#include <cmath>
#include <sstream>

namespace vtest {

const vhost::Library& library() {
    static const vhost::Library lib;
    return lib;
}

Shader::Shader(const std::string& className) : object(library().create(className)) {
    if (!object) {
        ADD_FAILURE() << "cannot create " << className;
        return;
    }
    vhost::declareParameters(object.get(), &registry);
}

void expectDeclarations(const std::string& className, uint32_t mask,
                        const std::vector<ExpectedParam>& params) {
    Shader s(className);
    ASSERT_TRUE(s.object);
    const auto& d = s.registry.declarations;
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].type, vhost::DeclType::Capabilities) << "capabilities come first";
    EXPECT_EQ(d[0].mask, mask);
    ASSERT_EQ(d.size(), params.size() + 1) << className;
    for (size_t i = 0; i < params.size(); ++i) {
        const vhost::Declaration& got = d[i + 1];
        const ExpectedParam& want = params[i];
        EXPECT_EQ(got.name, want.name) << "declaration " << i;
        EXPECT_EQ(got.type, want.type) << want.name;
        if (!want.defaultText.empty()) {
            std::string text =
                got.type == vhost::DeclType::Attribute
                    ? std::to_string(got.attributeKind) + "@" + std::to_string(got.attributeOffset)
                    : got.valueText();
            EXPECT_EQ(text, want.defaultText) << want.name;
        }
        EXPECT_EQ(got.shader, s.object.get()) << want.name;
    }
}

::testing::AssertionResult near3(pxs::float3 a, pxs::float3 e, float tol) {
    bool ok = true;
    for (int i = 0; i < 3; ++i) {
        ok = ok && (tol == 0.0f ? a[i] == e[i] : std::fabs(a[i] - e[i]) <= tol);
    }
    if (ok) return ::testing::AssertionSuccess();
    std::ostringstream s;
    s.precision(9);
    s << "(" << a.x << ", " << a.y << ", " << a.z << ") vs expected (" << e.x << ", " << e.y << ", "
      << e.z << ")";
    return ::testing::AssertionFailure() << s.str();
}

}  // namespace vtest
