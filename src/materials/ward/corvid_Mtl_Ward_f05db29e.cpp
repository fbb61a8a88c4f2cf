#include "materials/ward/corvid_Mtl_Ward_f05db29e.h"

VESPER_EXPORT_SHADER(corvid_Mtl_Ward_f05db29e)
