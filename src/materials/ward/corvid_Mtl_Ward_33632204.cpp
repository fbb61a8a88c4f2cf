#include "materials/ward/corvid_Mtl_Ward_33632204.h"

VESPER_EXPORT_SHADER(corvid_Mtl_Ward_33632204)
