"""Objects are destroyed through the contract when Python collects them: many
create and destroy cycles leave the process no larger."""
import gc

import numpy as np
import vesper

PAGE = 4096


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def growth(cycle, warm_up, count):
    for _ in range(warm_up):
        cycle()
    gc.collect()
    before = resident_bytes()
    for _ in range(count):
        cycle()
    gc.collect()
    return resident_bytes() - before


def test_shaders_are_freed(lib, tmp_path):
    image = tmp_path / "grey.png"
    vesper.write_image(str(image), np.full((4, 4, 4), 0.5, np.float32))

    def cycle():
        s = lib.create("corvid_Mtl_Ward", u_roughValue=0.3, u_diffuseMap=image)
        s.sample([0, 0, 1], count=64)

    # Each object with its registries is a few kilobytes: kept, 5000 of them
    # would be tens of megabytes.
    assert growth(cycle, 500, 5000) < 2 << 20


def test_libraries_are_freed_and_outlived_by_their_shaders():
    # A library kept (its export table, texture system and Embree device) is
    # about 30 kB: kept, 80 of them would pass the bound.
    assert growth(lambda: vesper.Library().create("corvid_Mtl_Solid"), 5, 80) < 1 << 20
    shader = vesper.Library().create("corvid_Mtl_Ward")
    gc.collect()
    assert shader.evaluate([0, 0, 1], [0, 0, 1])["value"][0, 0] > 0
