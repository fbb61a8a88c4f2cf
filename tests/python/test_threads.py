"""Python threads: evaluate and sample run without the GIL, and a render in one
thread and BSDF calls in another at the same time give what each gives alone."""
import threading
import time

import numpy as np
from conftest import SCENE, sphere_directions

VIEW = np.array([0.6, 0.0, 0.8], np.float32)


def test_evaluate_lets_other_python_threads_run(lib):
    shader = lib.create("corvid_Mtl_Ward")
    directions = sphere_directions(1000000)
    worker = threading.Thread(target=shader.evaluate, args=(VIEW, directions),
                              kwargs={"threads": 1})
    worker.start()
    time.sleep(0.05)
    # Held for the whole call, the GIL would keep this thread asleep until it ended.
    running = worker.is_alive()
    worker.join()
    assert running


def test_a_render_and_bsdf_calls_at_once_give_what_they_give_alone(lib):
    shader = lib.create("corvid_Mtl_Dielectric", u_roughValue=0.3)
    directions = sphere_directions(50000)
    alone = {
        "render": [lib.render(SCENE, seed=s, threads=1) for s in (1, 2)],
        "evaluate": shader.evaluate(VIEW, directions, threads=1),
        "sample": shader.sample(VIEW, count=50000, threads=1),
    }
    together = {}
    start = threading.Barrier(2)

    def render():
        start.wait()
        together["render"] = [lib.render(SCENE, seed=s) for s in (1, 2)]

    def bsdf():
        start.wait()
        together["evaluate"] = shader.evaluate(VIEW, directions)
        together["sample"] = shader.sample(VIEW, count=50000)

    threads = [threading.Thread(target=render), threading.Thread(target=bsdf)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(alone["render"], together["render"]):
        assert np.array_equal(a, b)
    for op in ("evaluate", "sample"):
        for key, value in alone[op].items():
            assert np.array_equal(value, together[op][key], equal_nan=True), (op, key)
