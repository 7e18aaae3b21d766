#!/usr/bin/env python3
"""stereogram() on a 4096x3072 uint16 array against the library's own
render() of the same image into memory, in one run (not a test).

    python3 bench/python_bench.py [repeats]

Prints the best of `repeats` runs of each (after one unmeasured run of
each), and their ratio.
"""
import sys
import time

import numpy as np

import rdsgen
from rdsgen import _core


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    y, x = np.mgrid[0:3072, 0:4096]
    dome = np.clip(1.0 - ((x - 2048) / 1600.0) ** 2 - ((y - 1536) / 1200.0) ** 2, 0.0, 1.0)
    heights = np.rint((0.3 * x / 4096 + 0.7 * dome) * 65535).astype(np.uint16)
    as_bytes = heights.view(np.uint8).reshape(3072, 4096, 2)
    options = {"PUse": "24", "PPos": "2", "Dens": "45", "FocP": "1", "PatT": "1"}

    # One run of each first: the worker threads and the allocator warm up.
    rdsgen.stereogram(heights, seed=1)
    _core.time_library_render(as_bytes, 2, options, 1)
    python_seconds, library_seconds = [], []
    for _ in range(repeats):
        start = time.perf_counter()
        rdsgen.stereogram(heights, seed=1)
        python_seconds.append(time.perf_counter() - start)
        library_seconds.append(_core.time_library_render(as_bytes, 2, options, 1))
    best_python, best_library = min(python_seconds), min(library_seconds)
    print(f"stereogram() on 4096x3072 uint16: {best_python * 1000:.1f} ms (best of {repeats})")
    print(f"library render() of the same:     {best_library * 1000:.1f} ms (best of {repeats})")
    print(f"ratio: {best_python / best_library:.3f}")


if __name__ == "__main__":
    main()
