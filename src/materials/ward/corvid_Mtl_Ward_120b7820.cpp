#include "materials/ward/corvid_Mtl_Ward_120b7820.h"

VESPER_EXPORT_SHADER(corvid_Mtl_Ward_120b7820)
