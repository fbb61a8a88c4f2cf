#include "materials/ward/corvid_Mtl_Ward_ccb3a2e6.h"

VESPER_EXPORT_SHADER(corvid_Mtl_Ward_ccb3a2e6)
