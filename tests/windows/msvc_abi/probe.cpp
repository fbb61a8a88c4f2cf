// Makes the compiler lay out the virtual table of every interface of the host
// contract, so that scripts/check-windows.sh can compare the slot indices clang
// assigns under the MSVC ABI with those under the Itanium ABI (GCC, Clang, MinGW).
// Compiling this for the MSVC target also runs every layout static_assert of the
// contract's records under that ABI.
#include "vesper/vesper.h"

// A constructor definition is enough to emit a class's table and its bases'.
struct Registry : pxs::IParameterRegistry {
    Registry();
};
Registry::Registry() {}

struct Services : pxs::IRenderServices {
    Services();
};
Services::Services() {}

struct Texture : pxs::ITextureObject {
    Texture();
};
Texture::Texture() {}

struct Material : pxs::MaterialShader {
    Material();
};
Material::Material() {}

struct Light : pxs::LightShader {
    Light();
};
Light::Light() {}

struct Environment : pxs::EnvironmentShader {
    Environment();
};
Environment::Environment() {}
