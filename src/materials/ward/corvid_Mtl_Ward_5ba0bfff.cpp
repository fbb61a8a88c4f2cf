#include "materials/ward/corvid_Mtl_Ward_5ba0bfff.h"

VESPER_EXPORT_SHADER(corvid_Mtl_Ward_5ba0bfff)
