#include "testkit/harness.h"

#include <cmath>
#include <cstring>
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

pxs::float3 viewAt(float degrees, float sign) {
    const float t = degrees * 0.017453293f;
    return pxs::float3(std::sin(t), 0.0f, sign * std::cos(t));
}

vhost::StateBuilder viewing(pxs::float3 dir, pxs::float3 n, pxs::float3 ng) {
    vhost::StateBuilder b;
    b.ray(scaled(dir, -5.0f), dir)
        .hit(pxs::float3(0, 0, 0), n, ng)
        .attribute(36, pxs::float3(1, 0, 0));
    return b;
}

Light::operator pxs::LightNode() const {
    pxs::LightNode n{};
    n.direction = direction;
    n.lightColor = color;
    n.lightTransmission = transmission;
    n.lightContribution = contribution;
    n.lightFactor = factor;
    n.type = type;
    return n;
}

pxs::LightNode light(pxs::float3 dir, float factor, pxs::float3 contribution) {
    pxs::LightNode n{};
    n.direction = dir;
    n.lightFactor = factor;
    n.lightContribution = contribution;
    return n;
}

std::vector<int> serviceSlots(const vhost::TestServices& sv) {
    std::vector<int> out;
    for (const vhost::ServiceCall& c : sv.calls) out.push_back(c.slot);
    return out;
}

pxs::ShadingState sampleDeterministic(const Shader& s, pxs::ShadingState st, const char* allow,
                                      std::vector<float> randoms, int* drawn) {
    vhost::TestServices sv;
    sv.randoms = std::move(randoms);
    std::memcpy(st.allowLobe, allow, 6);
    const pxs::ShadingState before = st;
    s.sampleBsdf(sv, st);
    if (drawn) *drawn = sv.count(vhost::kSvcRandom);
    EXPECT_EQ(sv.count(vhost::kSvcRandom), static_cast<int>(sv.calls.size())) << "nothing traced";
    if (st.sampleKind != pxs::kSampleNone) {
        EXPECT_EQ(vhost::changedFields(before, st), kSampleFields);
        EXPECT_EQ(st.sampleWeight, 1.0f);
    } else {
        EXPECT_EQ(vhost::changedFields(before, st), Fields{"sampleKind"});
    }
    return st;
}

void expectArgs(const std::vector<float>& got, const std::vector<float>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-6f) << "argument " << i;
}

double wardMixtureDensity(pxs::float3 v, pxs::float3 d, double ax, double ay, double pd) {
    constexpr double kPi = 3.14159265358979;
    if (d.z <= 0) return 0.0;
    double hx = d.x - v.x, hy = d.y - v.y, hz = d.z - v.z;
    const double len = std::sqrt(hx * hx + hy * hy + hz * hz);
    hx /= len, hy /= len, hz /= len;
    const double e = std::exp(-((hx / ax) * (hx / ax) + (hy / ay) * (hy / ay)) / (hz * hz));
    const double hv = -(hx * v.x + hy * v.y + hz * v.z);
    const double ward = e / (4 * kPi * ax * ay * hv * hz * hz * hz);
    return (1 - pd) * ward + pd * d.z / kPi;
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
