#include "materials/ward/corvid_Mtl_Ward_aa598cb4.h"

VESPER_EXPORT_SHADER(corvid_Mtl_Ward_aa598cb4)
