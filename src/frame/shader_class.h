// What every concrete shader class shares: destruction, parameter copy,
// registration helpers and the two exported entry points.
//
// A concrete class derives from ShaderClass<Itself, Base>, keeps its registered
// fields in a member struct `params`, and writes declareParameters with a
// Declarer. Its .cpp then exports it with one line:
//
//     VESPER_EXPORT_SHADER(corvid_Mtl_Solid)
#pragma once

#include <new>

#include "vesper/shader.h"

namespace pxs {

// A bool parameter as the host stores it: one byte, 0 false, any other value
// true. A C++ bool holding 2 is undefined behaviour (the compiler may test it
// with bit arithmetic), so parameter blocks hold Flags and read them through
// this conversion.
struct Flag {
    uint8_t value;

    constexpr Flag(bool b = false) : value(b ? 1 : 0) {}
    constexpr operator bool() const { return value != 0; }
};
static_assert(sizeof(Flag) == 1, "a bool parameter is one byte");

template <class Derived, class Base>
class ShaderClass : public Base {
  public:
    void* destroy(unsigned flags) override {
        Derived* self = static_cast<Derived*>(this);
        self->~Derived();
        if (flags & kDestroyFree) ::operator delete(static_cast<void*>(self));
        return self;
    }

    // The host only ever passes an object of the same class.
    void copyParameters(const IShaderBase* other) override {
        static_cast<Derived*>(this)->params = static_cast<const Derived*>(other)->params;
    }

  protected:
    ~ShaderClass() = default;
};

// Thin wrapper over the host's registry: picks the registry operation from the
// field's type, so a parameter list reads as a list of names and fields.
class Declarer {
  public:
    Declarer(IParameterRegistry* registry, IShaderBase* shader, uint32_t capabilities)
        : r_(registry), s_(shader) {
        r_->declareCapabilities(s_, capabilities);
    }

    void operator()(const char* name, Flag& f) {
        r_->declareBool(s_, name, reinterpret_cast<bool*>(&f.value));
    }
    // Parameter blocks hold Flag, never bool (see Flag).
    void operator()(const char* name, bool& f) = delete;
    void operator()(const char* name, int32_t& f) { r_->declareInt(s_, name, &f); }
    void operator()(const char* name, float& f) { r_->declareFloat(s_, name, &f); }
    void operator()(const char* name, float2& f) { r_->declareFloat2(s_, name, &f); }
    void operator()(const char* name, float3& f) { r_->declareFloat3(s_, name, &f); }
    void operator()(const char* name, float4& f) { r_->declareFloat4(s_, name, &f); }
    void operator()(const char* name, matrix3& f) { r_->declareMatrix3(s_, name, &f); }
    void operator()(const char* name, matrix4& f) { r_->declareMatrix4(s_, name, &f); }
    // A plain handle is a 2D image, the common case.
    void operator()(const char* name, TextureHandle& f) { r_->declareTexture2D(s_, name, &f); }
    void textureCube(const char* name, TextureHandle& f) { r_->declareTextureCube(s_, name, &f); }
    void textureB(const char* name, TextureHandle& f) { r_->declareTextureB(s_, name, &f); }
    void attribute(AttributeKind kind, const char* name, int32_t offset) {
        r_->declareVertexAttribute(s_, kind, name, offset);
    }

  private:
    IParameterRegistry* r_;
    IShaderBase* s_;
};

template <class T>
IShaderBase* createShader() {
    T* object = new (std::nothrow) T();
    return object;
}

}  // namespace pxs

#if defined(_WIN32)
#define VESPER_API extern "C" __declspec(dllexport)
#else
#define VESPER_API extern "C" __attribute__((visibility("default")))
#endif

// The two exports of one class; the class must live in namespace pxs.
#define VESPER_EXPORT_SHADER(Class)                   \
    VESPER_API ::pxs::IShaderBase* Class##_create() { \
        return ::pxs::createShader<::pxs::Class>();   \
    }                                                 \
    VESPER_API int32_t Class##_getAPIVersion() {      \
        return ::pxs::kApiVersion;                    \
    }
