#!/usr/bin/env python3
"""A depth map made with numpy, turned into a stereogram, written as PNG and
shown with matplotlib when it is installed.

    python3 examples/depth_to_stereogram.py [output.png]
"""
import sys

import numpy as np

import rdsgen


def depth_map(width=800, height=600):
    """Distances from the viewer: a torus floating in front of a tilted plane."""
    y, x = np.mgrid[-1.0:1.0:height * 1j, -1.0:1.0:width * 1j]
    x *= width / height
    plane = 10.0 + 1.5 * y
    ring = np.sqrt(x * x + y * y)
    tube = np.clip(1.0 - ((ring - 0.55) / 0.25) ** 2, 0.0, None)
    return np.where(tube > 0, 8.0 - 1.5 * np.sqrt(tube), plane)


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else "torus-stereogram.png"
    distances = depth_map()
    # Nearest distance first: it becomes the brightest height.
    image = rdsgen.stereogram(distances, range=(float(distances.min()), float(distances.max())), pattern=6,
                              seed=1)
    rdsgen.write(output, image)
    print(f"wrote {output} ({image.shape[1]} x {image.shape[0]})")
    try:
        import matplotlib.pyplot as plt
    except ImportError:
        return
    plt.imshow(image)
    plt.axis("off")
    plt.show()


if __name__ == "__main__":
    main()
