// vesperShaders host contract: the one header a host includes.
//
//   types.h   value types (float2/3/4, matrix3/4)
//   state.h   the shading state record, ray-type and sample-kind codes
//   host.h    what the host implements: registry, render services, texture objects
//   shader.h  the shader objects and the exported entry points
//
// vesper/parameters.h, included on its own since it uses the standard library,
// adds a registry that writes parameters by name with their type checked.
#pragma once

#include "vesper/host.h"
#include "vesper/shader.h"
#include "vesper/state.h"
#include "vesper/types.h"
