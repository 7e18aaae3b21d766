"""The Python package against the command line: the same pixels for the
same heights, options and seed, the same refusals and warnings."""

import os
import struct
import subprocess
import threading
import warnings
import zlib
from pathlib import Path

import numpy as np
import pytest

import rdsgen
from rdsgen import _core

ROOT = Path(__file__).resolve().parents[2]
EXECUTABLE = os.environ.get("RDSGEN_EXECUTABLE", str(ROOT / "build" / "rdsgen"))
SEED = 5


# --- Input files written independently of the package -----------------------

def tga_bytes(pixels, kind):
    """An uncompressed TARGA file, top row first: grey 8/16/24 or colour."""
    height, width = pixels.shape[:2]
    if kind == "colour":
        data, image_type, bits = pixels[:, :, ::-1].tobytes(), 2, 24
    else:
        size = {"grey8": 1, "grey16": 2, "grey24": 3}[kind]
        wide = pixels.astype("<u4").view(np.uint8).reshape(height, width, 4)
        data, image_type, bits = wide[:, :, :size].tobytes(), 3, 8 * size
    return bytes([0, 0, image_type]) + bytes(9) + struct.pack("<HHBB", width, height, bits, 0x20) + data


def png_bytes(pixels, kind):
    """An unfiltered PNG file: 8- or 16-bit grey, or 8-bit RGB."""
    height, width = pixels.shape[:2]
    depth, colour_type = {"grey8": (8, 0), "grey16": (16, 0), "colour": (8, 2)}[kind]
    rows = pixels.astype(">u2") if kind == "grey16" else pixels
    raw = b"".join(b"\0" + rows[y].tobytes() for y in range(height))

    def chunk(tag, body):
        return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body))

    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def parse_tga_output(data):
    """The command line's output TARGA as grey (H, W) or RGB (H, W, 3)."""
    image_type, width, height, bits = data[2], *struct.unpack("<HH", data[12:16]), data[16]
    assert data[17] == 0x20 and image_type in (2, 3)
    pixels = np.frombuffer(data[18:], dtype=np.uint8)
    if bits == 8:
        return pixels.reshape(height, width)
    return pixels.reshape(height, width, 3)[:, :, ::-1]


def run_command_line(tmp_path, input_name, *options, output="out.tga"):
    result = subprocess.run([EXECUTABLE, input_name, output, *options], cwd=tmp_path, capture_output=True,
                            text=True)
    return result


def command_line_image(tmp_path, input_name, *options):
    result = run_command_line(tmp_path, input_name, *options)
    assert result.returncode == 0, result.stderr
    return parse_tga_output((tmp_path / "out.tga").read_bytes())


def heights_of(kind, width=97, height=61):
    """A height map with every level of its kind in use: a ramp and a dome."""
    y, x = np.mgrid[0:height, 0:width]
    dome = np.clip(1.0 - ((x - width / 2) / (width / 2.5)) ** 2 - ((y - height / 2) / (height / 2.5)) ** 2, 0, 1)
    level = 0.35 * x / width + 0.65 * dome
    if kind == "grey8":
        return np.rint(level * 255).astype(np.uint8)
    if kind == "grey16":
        return np.rint(level * 65535).astype(np.uint16)
    if kind == "grey24":
        return np.rint(level * 0xFFFFFF).astype(np.uint32)
    grey = np.rint(level * 255).astype(np.uint8)
    return np.stack([grey, 255 - grey, (x * 7 % 256).astype(np.uint8)], axis=2)


INPUTS = [("grey8", "tga"), ("grey8", "png"), ("grey16", "tga"), ("grey16", "png"), ("grey24", "tga"),
          ("colour", "tga"), ("colour", "png")]


@pytest.fixture(scope="module", autouse=True)
def command_line_built():
    if not Path(EXECUTABLE).is_file():
        pytest.fail(f"the command line is not built at {EXECUTABLE} (make build, or set RDSGEN_EXECUTABLE)")


# --- Exactness -----------------------------------------------------------------

@pytest.mark.parametrize("pattern", [1, 2, 3, 4, 5, 6, 7])
@pytest.mark.parametrize("kind,extension", INPUTS)
def test_arrays_give_the_command_lines_pixels(tmp_path, kind, extension, pattern):
    heights = heights_of(kind)
    writer = tga_bytes if extension == "tga" else png_bytes
    (tmp_path / f"in.{extension}").write_bytes(writer(heights, kind))
    expected = command_line_image(tmp_path, f"in.{extension}", f"/PatT:{pattern}", f"/Rand:{SEED}")
    result = rdsgen.stereogram(heights, pattern=pattern, seed=SEED)
    assert result.dtype == np.uint8 and result.shape == expected.shape
    np.testing.assert_array_equal(result, expected)
    # The file read by the package gives the same heights, so the same image.
    np.testing.assert_array_equal(rdsgen.stereogram(rdsgen.read(tmp_path / f"in.{extension}"), pattern=pattern,
                                                    seed=SEED), expected)


OPTION_CASES = [
    (dict(position="left", hidden=True), ["/PPos:1", "/Hidden"]),
    (dict(position="right", focus_marks="in", double=True), ["/PPos:3", "/FocP:2", "/Double"]),
    (dict(vinc=True, invert=True, depth=40, density=20), ["/VInc", "/Inv", "/PUse:40", "/Dens:20"]),
    (dict(pattern=6, random_dots=False, cut_off=True, focus_marks="none"), ["/PatT:6", "/NoRD", "/CutOff",
                                                                           "/FocP:0"]),
    (dict(pattern=7, top_foreground=(10, 200, 30), bottom_foreground=255000255, top_background=(0, 0, 0),
          bottom_background=(250, 250, 250), density=12),
     ["/PatT:7", "/TopF:010200030", "/BotF:255000255", "/TopB:0", "/BotB:250250250", "/Dens:12"]),
    (dict(pattern_width=50, colour=True), ["/PSiz:P50", "/TrueOut"]),
    (dict(pattern_stripes=6, stretch="Z"), ["/PSiz:S6", "/Stret:Z"]),
    (dict(width=150, pattern=5), ["/Width:150", "/PatT:5"]),
]


@pytest.mark.parametrize("options,arguments", OPTION_CASES)
def test_options_map_to_the_command_lines(tmp_path, options, arguments):
    heights = heights_of("grey16")
    (tmp_path / "in.png").write_bytes(png_bytes(heights, "grey16"))
    expected = command_line_image(tmp_path, "in.png", *arguments, f"/Rand:{SEED}")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", rdsgen.RdsgenWarning)
        np.testing.assert_array_equal(rdsgen.stereogram(heights, seed=SEED, **options), expected)


@pytest.mark.parametrize("kind", ["grey8", "grey16", "colour"])
@pytest.mark.parametrize("stretch", [None, "XR", "Y"])
def test_pattern_images_give_the_command_lines_pixels(tmp_path, kind, stretch):
    heights = heights_of("grey8")
    pattern = heights_of(kind, width=40, height=30)
    (tmp_path / "in.tga").write_bytes(tga_bytes(heights, "grey8"))
    (tmp_path / "pattern.tga").write_bytes(tga_bytes(pattern, kind))
    arguments = ["/PatT:pattern.tga"] + ([f"/Stret:{stretch}"] if stretch else [])
    expected = command_line_image(tmp_path, "in.tga", *arguments, f"/Rand:{SEED}")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", rdsgen.RdsgenWarning)
        np.testing.assert_array_equal(rdsgen.stereogram(heights, pattern=pattern, stretch=stretch, seed=SEED),
                                      expected)


@pytest.mark.parametrize("width,height", [(0, 5), (5, 0)])
def test_empty_heights_as_the_command_line(tmp_path, width, height):
    heights = np.zeros((height, width), dtype=np.uint8)
    (tmp_path / "in.tga").write_bytes(tga_bytes(heights, "grey8"))
    np.testing.assert_array_equal(rdsgen.stereogram(heights, seed=SEED),
                                  command_line_image(tmp_path, "in.tga", f"/Rand:{SEED}"))


def test_strided_and_big_endian_arrays_are_converted(tmp_path):
    heights = heights_of("grey16")
    expected = rdsgen.stereogram(heights, seed=SEED)
    wide = np.zeros((heights.shape[0], heights.shape[1] * 2), dtype=np.uint16)
    wide[:, ::2] = heights
    np.testing.assert_array_equal(rdsgen.stereogram(wide[:, ::2], seed=SEED), expected)
    np.testing.assert_array_equal(rdsgen.stereogram(heights.astype(">u2"), seed=SEED), expected)
    np.testing.assert_array_equal(rdsgen.stereogram(np.asfortranarray(heights), seed=SEED), expected)
    colour = heights_of("colour")
    np.testing.assert_array_equal(rdsgen.stereogram(colour[::-1][::-1], pattern=6, seed=SEED),
                                  rdsgen.stereogram(np.ascontiguousarray(colour), pattern=6, seed=SEED))


def test_float_heights_map_near_to_far_onto_16_bits():
    grey16 = heights_of("grey16")
    expected = rdsgen.stereogram(grey16, seed=SEED)
    # Distances: 0.0 is nearest (65535), 65535.0 farthest (0).
    distances = 65535.0 - grey16.astype(np.float64)
    np.testing.assert_array_equal(rdsgen.stereogram(distances, range=(0.0, 65535.0), seed=SEED), expected)
    np.testing.assert_array_equal(
        rdsgen.stereogram(distances.astype(np.float32), range=(0, 65535), seed=SEED), expected)
    np.testing.assert_array_equal(rdsgen.stereogram(distances / 4096.0, range=(0.0, 65535.0 / 4096.0), seed=SEED),
                                  expected)
    # "auto": the largest value nearest; values beyond a range are clipped.
    ramp = np.linspace(-3.0, 5.0, 97)[None, :].repeat(61, axis=0)
    as_grey = np.rint((ramp + 3.0) * (65535.0 / 8.0)).astype(np.uint16)
    np.testing.assert_array_equal(rdsgen.stereogram(ramp, range="auto", seed=SEED),
                                  rdsgen.stereogram(as_grey, seed=SEED))
    np.testing.assert_array_equal(rdsgen.stereogram(ramp * 10, range=(5.0, -3.0), seed=SEED),
                                  rdsgen.stereogram(np.clip(ramp * 10, -3.0, 5.0), range="auto", seed=SEED))


def test_seeds_wrap_as_the_command_lines(tmp_path):
    heights = heights_of("grey8")
    (tmp_path / "in.tga").write_bytes(tga_bytes(heights, "grey8"))
    np.testing.assert_array_equal(rdsgen.stereogram(heights, seed=-7),
                                  command_line_image(tmp_path, "in.tga", "/Rand:-7"))
    np.testing.assert_array_equal(rdsgen.stereogram(heights, seed=2**40),
                                  command_line_image(tmp_path, "in.tga", f"/Rand:{2**40}"))
    # None takes the clock (its image cannot be predicted; it is made whole).
    assert rdsgen.stereogram(heights).shape == rdsgen.stereogram(heights, seed=1).shape


# --- Refusals and warnings -------------------------------------------------

REFUSED = [
    (dict(pattern_width=0), ["/PSiz:P0"]),
    (dict(pattern_width=70000), ["/PSiz:P70000"]),
    (dict(pattern_width=40000, double=True), ["/PSiz:P40000", "/Double"]),
    (dict(pattern_stripes=0), ["/PSiz:S0"]),
]


@pytest.mark.parametrize("options,arguments", REFUSED)
def test_refusals_raise_the_command_lines_message(tmp_path, options, arguments):
    heights = heights_of("grey8")
    (tmp_path / "in.tga").write_bytes(tga_bytes(heights, "grey8"))
    result = run_command_line(tmp_path, "in.tga", *arguments, "/Rand:1")
    assert result.returncode == 1
    message = result.stderr.strip().splitlines()[-1].removeprefix("ERROR: ")
    with pytest.raises(ValueError) as refusal:
        rdsgen.stereogram(heights, seed=1, **options)
    assert str(refusal.value) == message


def test_warnings_carry_the_command_lines_text(tmp_path):
    heights = heights_of("grey8")
    (tmp_path / "in.tga").write_bytes(tga_bytes(heights, "grey8"))
    result = run_command_line(tmp_path, "in.tga", "/Hidden", "/Stret:XP", "/Rand:1")
    assert result.returncode == 0
    with pytest.warns(rdsgen.RdsgenWarning) as caught:
        rdsgen.stereogram(heights, hidden=True, stretch="XP", seed=1)
    texts = [str(warning.message) for warning in caught]
    assert len(texts) == 2
    for text in texts:
        assert "WARNING: " + text in result.stdout


@pytest.mark.parametrize("heights,fragment", [
    (np.zeros((4, 4), dtype=np.int32), "must be uint8"),
    (np.zeros((4, 4), dtype=bool), "must be uint8"),
    (np.zeros((4, 4, 3), dtype=np.uint16), "must be uint8"),
    (np.zeros((2, 2, 2, 2), dtype=np.uint8), "2-D"),
    (np.zeros(4, dtype=np.uint8), "2-D"),
    (np.zeros((1, 65536), dtype=np.uint8), "Image 'heights' is too large (65536 x 1 pixels, at most 65535 x 65535)."),
    (np.zeros((4, 4), dtype=np.float32), "range"),
    (np.array([[0.0, np.nan]]), "NaN"),
    (np.array([[0.0, np.inf]]), "NaN or infinite"),
    (np.full((3, 3), 2**24, dtype=np.uint32), "below 16777216"),
])
def test_wrong_heights_are_refused(heights, fragment):
    with pytest.raises(ValueError, match=None) as refusal:
        rdsgen.stereogram(heights, range="auto" if "NaN" in fragment else None)
    assert fragment in str(refusal.value)


@pytest.mark.parametrize("arguments,fragment", [
    (dict(heights=np.zeros((4, 4)), range=(1.0, 1.0)), "differ"),
    (dict(heights=np.ones((4, 4)), range="auto"), "flat"),
    (dict(heights=np.zeros((4, 4), np.uint8), range=(0, 1)), "float heights only"),
    (dict(heights=np.zeros((4, 4), np.uint8), pattern=np.zeros((4, 4), np.float32)), "pattern image"),
    (dict(heights=np.zeros((4, 4), np.uint8), pattern=np.zeros((0, 4), np.uint8)),
     "Pattern image 'pattern' has no pixels."),
    (dict(heights=np.zeros((4, 4), np.uint8), pattern=8), "type number"),
    (dict(heights=np.zeros((4, 4), np.uint8), position="middle"), "position"),
    (dict(heights=np.zeros((4, 4), np.uint8), depth=2.5), "depth must be an integer"),
    (dict(heights=np.zeros((4, 4), np.uint8), hidden=1), "hidden must be True or False"),
])
def test_wrong_options_are_refused(arguments, fragment):
    with pytest.raises(ValueError) as refusal:
        rdsgen.stereogram(**arguments)
    assert fragment in str(refusal.value)


# --- Files -----------------------------------------------------------------

@pytest.mark.parametrize("name,pattern", [("s.tga", 1), ("s.png", 1), ("S.PNG", 6), ("s.tga", 6)])
def test_write_of_a_stereogram_is_the_command_lines_image(tmp_path, name, pattern):
    heights = heights_of("grey16")
    (tmp_path / "d.png").write_bytes(png_bytes(heights, "grey16"))
    result = run_command_line(tmp_path, "d.png", f"/PatT:{pattern}", f"/Rand:{SEED}", output=name)
    assert result.returncode == 0, result.stderr
    expected = (tmp_path / name).read_bytes()
    rdsgen.write(tmp_path / ("py-" + name), rdsgen.stereogram(rdsgen.read(tmp_path / "d.png"), pattern=pattern,
                                                              seed=SEED))
    if name.endswith(".tga"):
        assert (tmp_path / ("py-" + name)).read_bytes() == expected
    else:
        # A PNG file: the same pixels (the command line ends a block of
        # compressed rows at the focus band, so the bytes may differ).
        assert (tmp_path / ("py-" + name)).read_bytes()[:33] == expected[:33]
        np.testing.assert_array_equal(rdsgen.read(tmp_path / ("py-" + name)), rdsgen.read(tmp_path / name))


@pytest.mark.parametrize("kind,extension", INPUTS)
def test_read_gives_the_stored_pixels(tmp_path, kind, extension):
    heights = heights_of(kind)
    writer = tga_bytes if extension == "tga" else png_bytes
    (tmp_path / f"in.{extension}").write_bytes(writer(heights, kind))
    image = rdsgen.read(str(tmp_path / f"in.{extension}"))
    assert image.dtype == heights.dtype
    np.testing.assert_array_equal(image, heights)


def test_file_failures_are_os_errors_with_the_command_lines_text(tmp_path):
    with pytest.raises(OSError, match=r"^Can't open input file '.*missing\.png'\.$"):
        rdsgen.read(tmp_path / "missing.png")
    with pytest.raises(OSError, match=r"^'.*' is a directory\.$"):
        rdsgen.read(tmp_path)
    (tmp_path / "bad.png").write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(20))
    with pytest.raises(OSError, match=r"^Can't read PNG image '.*bad\.png': "):
        rdsgen.read(tmp_path / "bad.png")
    with pytest.raises(OSError, match=r"^Can't write output file '.*'\.$"):
        rdsgen.write(tmp_path / "no-such-folder" / "s.tga", np.zeros((2, 2), np.uint8))
    with pytest.raises(ValueError):
        rdsgen.write(tmp_path / "s.tga", np.zeros((2, 2), np.uint16))


# --- The GIL -----------------------------------------------------------------

def test_the_gil_is_released_while_rendering():
    # With one thread the engine reports progress on the calling thread,
    # which checks whether it holds the GIL.
    heights = heights_of("grey8")
    rdsgen.stereogram(heights, seed=SEED, threads=1)
    assert _core.gil_held_while_rendering() is False
    # Renders on several Python threads at once give each its own image.
    results = [None] * 4

    def work(index):
        results[index] = rdsgen.stereogram(heights, pattern=index + 1, seed=SEED)

    workers = [threading.Thread(target=work, args=(index,)) for index in range(4)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    for index, result in enumerate(results):
        np.testing.assert_array_equal(result, rdsgen.stereogram(heights, pattern=index + 1, seed=SEED))


def test_every_command_line_option_is_documented():
    # A new command-line option shows here until stereogram() or animate()
    # takes it. /First numbers files, which animate() does not read.
    documented = rdsgen.stereogram.__doc__ + rdsgen.animate.__doc__
    for entry in _core.options:
        if entry != "First:":
            assert "/" + entry in documented, entry


FIXTURES = sorted((ROOT / "tests" / "fixtures").glob("*.tga"))


@pytest.mark.parametrize("fixture", FIXTURES, ids=[path.name for path in FIXTURES])
def test_third_party_files_read_as_the_command_line(tmp_path, fixture):
    # Palettes, bottom-up rows, 16- and 32-bit, compressed: each file gives
    # the command line's image or its refusal.
    result = run_command_line(tmp_path, str(fixture), "/PatT:6", f"/Rand:{SEED}")
    if result.returncode != 0:
        message = result.stderr.strip().splitlines()[-1].removeprefix("ERROR: ")
        with pytest.raises(OSError) as refusal:
            rdsgen.read(fixture)
        assert str(refusal.value) == message
        return
    expected = parse_tga_output((tmp_path / "out.tga").read_bytes())
    np.testing.assert_array_equal(rdsgen.stereogram(rdsgen.read(fixture), pattern=6, seed=SEED), expected)


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16])
def test_contiguous_heights_are_not_copied(dtype):
    # numpy reports its allocations to tracemalloc: the only large one of a
    # run is the result, not a copy of the heights.
    import tracemalloc

    heights = np.zeros((1000, 1500), dtype=dtype)
    tracemalloc.start()
    try:
        result = rdsgen.stereogram(heights, seed=SEED, focus_marks="none")
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert result.nbytes <= peak < result.nbytes + heights.nbytes // 2
