"""Typed parameters through Library.create, the class descriptions, and the
refusals every bad input gets (a Python exception, the interpreter goes on)."""
import json
import subprocess

import numpy as np
import pytest
import vesper
from conftest import tool

IDENTITY3 = np.eye(3, dtype=np.float32)


def test_classes_are_the_description_vesper_info_prints(lib):
    info = json.loads(subprocess.check_output([tool("info"), "--json", "--library", lib.path]))
    assert list(lib.classes) == [c["name"] for c in info["classes"]]
    for c in info["classes"]:
        assert lib.classes[c["name"]] == c


def test_a_new_object_reads_its_class_defaults(lib):
    for name, c in lib.classes.items():
        if c["kind"] == "unknown":
            continue
        s = lib.create(name)
        for p in c["parameters"]:
            value = s[p["name"]]
            if p["type"].startswith("texture"):
                assert value is None and not p["default"]["bound"]
            elif p["type"].startswith("matrix"):
                # The loader's start, as in every scene: the identity.
                assert np.array_equal(value, np.eye(value.shape[0])), (name, p["name"])
            elif isinstance(value, tuple):
                assert list(value) == p["default"], (name, p["name"])
            else:
                assert value == p["default"] and type(value) is type(p["default"]), (name, p["name"])


# (class, parameter, value written, value read back)
ROUND_TRIPS = [
    ("BackgroundGeometry", "useCubeReflection", False, False),
    ("BackgroundGeometry", "useCubeReflection", np.bool_(True), True),
    ("BackgroundGeometry", "diffuseMode", 3, 3),
    ("BackgroundGeometry", "diffuseMode", 2.0, 2),
    ("BackgroundGeometry", "diffuseMode", np.int64(-4), -4),
    ("BackgroundGeometry", "diffuseAngularRepeat", 0.1, 0.1),
    ("BackgroundGeometry", "diffuseAngularRepeat", np.float32(2.5), 2.5),
    ("BackgroundGeometry", "diffuseColor", (0.25, 0.5, 1), (0.25, 0.5, 1.0)),
    ("BackgroundGeometry", "diffuseColor", 0.3, (0.3, 0.3, 0.3)),
    ("BackgroundGeometry", "diffuseColor", np.array([1, 2, 3]), (1.0, 2.0, 3.0)),
    ("corvid_Env_Backplate", "diffuseIBLContrast", [0.1, 0.9], (0.1, 0.9)),
    ("TamberLegacy", "fresnel", (1, 2, 3, 4), (1.0, 2.0, 3.0, 4.0)),
    ("BackgroundGeometry", "diffuseUVMatrix", 2 * IDENTITY3, 2 * IDENTITY3),
    ("BackgroundGeometry", "diffuseUVMatrix", list(range(9)), np.arange(9).reshape(3, 3)),
    ("BackgroundGeometry", "diffuseTextureMatrix", np.arange(16.0), np.arange(16).reshape(4, 4)),
]


@pytest.mark.parametrize("cls,name,written,read", ROUND_TRIPS)
def test_values_round_trip_as_typed_python_values(lib, cls, name, written, read):
    s = lib.create(cls, **{name: written})
    got = s[name]
    if isinstance(read, np.ndarray):
        assert got.dtype == np.float32 and np.array_equal(got, read)
    else:
        assert got == read and type(got) is type(read)


# (class, parameter, bad value, what the message says)
REFUSALS = [
    ("BackgroundGeometry", "useCubeReflection", 1, "is bool and expects true or false"),
    ("BackgroundGeometry", "diffuseMode", 2.5, "is int and expects an integer"),
    ("BackgroundGeometry", "diffuseMode", 2**31, "is int and expects an integer"),
    ("BackgroundGeometry", "diffuseMode", True, "is int and expects an integer"),
    ("BackgroundGeometry", "diffuseAngularRepeat", "1", "is float and expects a number"),
    ("BackgroundGeometry", "diffuseAngularRepeat", float("nan"), "holds nan, beyond the range"),
    ("BackgroundGeometry", "diffuseAngularRepeat", 1e39, "holds 1e+39, beyond the range"),
    ("BackgroundGeometry", "diffuseColor", (1, 2), "is float3 and expects an array of 3"),
    ("BackgroundGeometry", "diffuseColor", (1, 2, 3, 4), "is float3 and expects an array of 3"),
    ("BackgroundGeometry", "diffuseColor", ("a", "b", "c"), "is float3 and expects"),
    ("BackgroundGeometry", "diffuseColor", [True, False, True], "is float3 and expects"),
    ("BackgroundGeometry", "diffuseColor", [1, [2], 3], "is float3 and expects"),
    ("BackgroundGeometry", "diffuseColor", {"r": 1}, "is float3 and expects"),
    ("BackgroundGeometry", "diffuseColor", [1, 2, float("inf")], "beyond the range"),
    ("BackgroundGeometry", "diffuseUVMatrix", np.eye(4), "is matrix3 and expects an array of 9"),
    ("BackgroundGeometry", "diffuseTexture", 3, "is texture2D and expects the name of a 2D"),
    ("BackgroundGeometry", "diffuseTexture", "/no/such.png", "texture file not found"),
    ("BackgroundGeometry", "noSuchParameter", 1, 'unknown parameter "noSuchParameter"'),
]


@pytest.mark.parametrize("cls,name,value,message", REFUSALS)
def test_a_refused_write_names_the_parameter_and_changes_nothing(lib, cls, name, value, message):
    s = lib.create(cls)
    before = s.params
    with pytest.raises(vesper.ParameterError, match='"%s"' % name) as e:
        s[name] = value
    assert message in str(e.value)
    after = s.params
    assert before.keys() == after.keys()
    for k in before:
        assert np.array_equal(before[k], after[k]), k


def test_textures_bind_by_file_and_unbind_with_none(lib, tmp_path):
    image = tmp_path / "grey.png"
    vesper.write_image(str(image), np.full((4, 8, 4), 0.5, np.float32))
    s = lib.create("BackgroundGeometry", diffuseTexture=image, reflectCube=str(image))
    assert s["diffuseTexture"] == str(image) and s["reflectCube"] == str(image)
    s["diffuseTexture"] = None
    assert s["diffuseTexture"] is None
    with pytest.raises(vesper.ParameterError, match="damaged|cannot|texture"):
        broken = tmp_path / "broken.png"
        broken.write_bytes(b"\x89PNG not really")
        s["diffuseTexture"] = broken


@pytest.mark.parametrize("call,error,message", [
    (lambda lib: vesper.Library("/no/such/library.so"), vesper.Error, "cannot load"),
    (lambda lib: lib.create("noSuchClass"), vesper.Error, 'unknown shader class "noSuchClass"'),
    (lambda lib: lib.create("corvid_Mtl_Ward", u_roughValue="x"), vesper.ParameterError,
     '"u_roughValue" is float'),
    (lambda lib: lib.create("qzPointLight").evaluate([0, 0, 1], [0, 0, 1]), vesper.Error,
     "only materials"),
    (lambda lib: lib.create("corvid_Mtl_Solid").sample([0, 0, 1]), vesper.Error,
     "does not announce sampleBsdf"),
    (lambda lib: lib.create("corvid_Mtl_Ward").evaluate([0, 0, 1], np.zeros((2, 2))), ValueError,
     r"direction expects the shape \(3,\) or \(N, 3\), not \(2, 2\)"),
    (lambda lib: lib.create("corvid_Mtl_Ward").evaluate([0, 0, 2], [0, 0, 1]), ValueError,
     r"view\[0\] is not a unit vector"),
    (lambda lib: lib.create("corvid_Mtl_Ward").sample([0, 0, 1], position=[0, np.nan, 0]),
     ValueError, "not finite"),
    (lambda lib: lib.create("corvid_Mtl_Ward").sample(np.tile([0, 0, 1], (3, 1)), seeds=[1, 2]),
     ValueError, "view has 3 rows and seeds 2"),
    (lambda lib: lib.create("corvid_Mtl_Ward").sample([0, 0, 1], seeds=[-1]), ValueError,
     "outside"),
    (lambda lib: lib.create("corvid_Mtl_Ward").sample([0, 0, 1], threads=1000), vesper.Error,
     '"threads" expects an integer in \\[0, 256\\]'),
    (lambda lib: vesper.write_image(__file__ + "/x.png", np.zeros((2, 2, 4))), vesper.Error,
     "x.png"),
    (lambda lib: vesper.read_image("/no/such.exr"), vesper.Error, "/no/such.exr: missing"),
])
def test_bad_input_raises_with_the_tools_message(lib, call, error, message):
    with pytest.raises(error, match=message):
        call(lib)
