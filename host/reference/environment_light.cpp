#include "host/reference/environment_light.h"

namespace vref {

std::shared_ptr<const EnvironmentMap> EnvironmentLight::map(uint64_t key, const MakeMap& make) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!made_ || key != key_) {
        map_ = make();
        key_ = key;
        made_ = true;
    }
    return map_;
}

}  // namespace vref
