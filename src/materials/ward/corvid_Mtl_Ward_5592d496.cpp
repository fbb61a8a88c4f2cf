#include "materials/ward/corvid_Mtl_Ward_5592d496.h"

VESPER_EXPORT_SHADER(corvid_Mtl_Ward_5592d496)
