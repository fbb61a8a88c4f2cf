// A texture object for tests: a constant or a function of its coordinates, that
// records every lookup.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "vesper/vesper.h"

namespace vhost {

class TestTexture final : public pxs::ITextureObject {
  public:
    using Function = std::function<pxs::float4(const float* coords)>;

    // `dimensions` is 2 for images (u, v) and 3 for cube maps (a direction): how
    // many coordinates each recorded lookup keeps.
    explicit TestTexture(pxs::float4 constant, int dimensions = 2)
        : constant_(constant), dimensions_(dimensions) {}
    explicit TestTexture(Function f, int dimensions = 2)
        : function_(std::move(f)), dimensions_(dimensions) {}

    // Coordinates of every lookup, in order (unused components are 0).
    std::vector<std::array<float, 3>> lookups;
    bool record = true;

    // A handle to this texture, as a host would write it into a parameter field.
    pxs::TextureHandle handle(int32_t id = 0) {
        pxs::TextureHandle h;
        h.object = this;
        h.id = id;
        h.hostData = 0;
        return h;
    }

    // Out of line: reading coords[2] only for cube maps would otherwise trip
    // -Warray-bounds where this is inlined next to a 2D lookup.
    void sample(pxs::float4* out, const float* coords) override;

  private:
    pxs::float4 constant_;
    Function function_;
    int dimensions_;
};

}  // namespace vhost
