"""evaluate and sample against the lobe data vesper-studio serves for the same
class, parameters, incidence and seed: the same values for the same directions,
and the same draws for the same sample numbers."""
import ctypes
import json
import re
import subprocess
import urllib.request

import numpy as np
import pytest
import vesper
from conftest import tool

SAMPLES = 4096

# (class, parameters, incidence in degrees, seed)
CASES = [
    ("corvid_Mtl_Ward", {"u_roughValue": 0.15}, 30.0, 1),
    ("corvid_Mtl_Dielectric", {"u_ior": 1.5, "u_roughValue": 0.2}, 60.0, 7),
    ("corvid_Mtl_Metal", {}, 0.0, 3),
]


# The studio's directions, in single precision as it makes them.
LIBM = ctypes.CDLL("libm.so.6")
for fn in (LIBM.sinf, LIBM.cosf):
    fn.restype, fn.argtypes = ctypes.c_float, [ctypes.c_float]


def in_plane(degrees):
    a = np.float32(degrees) * np.float32(3.14159265) / np.float32(180)
    return [LIBM.sinf(a), 0.0, LIBM.cosf(a)]


@pytest.fixture(scope="module")
def studio(lib, tmp_path_factory):
    proc = subprocess.Popen([tool("studio"), "--port", "0", "--library", lib.path, "--assets",
                             str(tmp_path_factory.mktemp("assets"))],
                            stdout=subprocess.PIPE, text=True)
    try:
        url = None
        for line in proc.stdout:
            found = re.search(r"(http://127\.0\.0\.1:\d+)/", line)
            if found:
                url = found.group(1)
                break
        assert url, "vesper-studio did not start"
        yield url
    finally:
        proc.terminate()
        proc.wait()


def lobe(url, body):
    request = urllib.request.Request(url + "/api/lobe", data=json.dumps(body).encode(),
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request) as response:
        return json.load(response)


@pytest.mark.parametrize("cls,params,incidence,seed", CASES)
def test_evaluate_and_sample_agree_with_the_studios_lobe(lib, studio, cls, params, incidence,
                                                         seed):
    data = lobe(studio, {"class": cls, "params": params, "incidence": incidence,
                         "samples": SAMPLES, "seed": seed})
    s = lib.create(cls, **params)
    view = np.array(in_plane(incidence), np.float32)

    # The plane of incidence, every degree.
    directions = np.array([in_plane(a) for a in data["evaluate"]["angles"]], np.float32)
    ev = s.evaluate(view, directions, seed=seed)
    assert np.array_equal(ev["value"], np.array(data["evaluate"]["value"], np.float32))
    assert np.array_equal(ev["cosine"], np.array(data["evaluate"]["cosine"], np.float32))

    # Sample k of the studio is row k here.
    sm = s.sample(view, count=SAMPLES, seed=seed)
    kinds = data["kinds"]
    for name, code in [("none", 0), ("lobeMixture", 2), ("singleLobe", 4),
                       ("roughTransmission", 16), ("smoothTransmission", 32)]:
        assert kinds[name] == int(np.sum(sm["kind"] == code)), name
    taken = sm["kind"] != 0
    d = sm["direction"][taken]
    angle = np.degrees(np.arctan2(d[:, 0], d[:, 2]))
    bins = np.clip(((angle + 180) / 2).astype(int), 0, 179)
    assert np.array_equal(np.bincount(bins, minlength=180), data["histogram"]["count"])
    throughput = sm["value"] * (sm["cosine"] * sm["weight"])[:, None]
    assert np.allclose(throughput[taken].sum(axis=0) / SAMPLES, data["albedo"], rtol=1e-4)
