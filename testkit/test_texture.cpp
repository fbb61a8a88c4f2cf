#include "testkit/test_texture.h"

namespace vhost {

void TestTexture::sample(pxs::float4* out, const float* coords) {
    if (record) {
        std::array<float, 3> c{coords[0], coords[1], dimensions_ > 2 ? coords[2] : 0.0f};
        lookups.push_back(c);
    }
    *out = function_ ? function_(coords) : constant_;
}

}  // namespace vhost
