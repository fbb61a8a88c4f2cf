#include "materials/ward/corvid_Mtl_Ward_b9aac246.h"

VESPER_EXPORT_SHADER(corvid_Mtl_Ward_b9aac246)
