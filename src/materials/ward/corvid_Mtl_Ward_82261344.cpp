#include "materials/ward/corvid_Mtl_Ward_82261344.h"

VESPER_EXPORT_SHADER(corvid_Mtl_Ward_82261344)
