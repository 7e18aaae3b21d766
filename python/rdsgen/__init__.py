"""rdsgen: random-dot stereograms from height maps held in numpy arrays.

    import numpy as np, rdsgen
    y, x = np.mgrid[-1:1:480j, -1:1:640j]
    heights = np.clip(1 - x * x - y * y, 0, 1)            # a dome, brighter = nearer
    image = rdsgen.stereogram(heights, range="auto", seed=1)
    rdsgen.write("dome.png", image)

stereogram() makes the same pixels as the rdsgen command line for the same
heights, options and seed; read() and write() read and write the files the
command line reads and writes, so that

    rdsgen.write("s.png", rdsgen.stereogram(rdsgen.read("d.png"), seed=5))

is the command line `rdsgen d.png s.png /Rand:5`.
"""

import os
import time
import warnings

import numpy as np

from . import _core

__all__ = ["stereogram", "animate", "read", "write", "pattern_types", "RdsgenWarning"]

#: The generated patterns: {type number: (name, colour output)}.
pattern_types = {number: (name, colour) for number, name, colour in _core.pattern_types}


class RdsgenWarning(UserWarning):
    """A warning the command line prints before a run (the run goes on)."""


_POSITIONS = {"left": 1, "centre": 2, "center": 2, "right": 3}
_FOCUS_MARKS = {"none": 0, "above": 1, "in": 2}
_LARGEST_SIDE = 65535


def _integer(name, value):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, np.integer)):
        raise ValueError(f"{name} must be an integer, not {value!r}")
    return int(value)


def _choice(name, value, names):
    if isinstance(value, str):
        if value not in names:
            raise ValueError(f"{name} must be one of {', '.join(map(repr, names))} or its number, not {value!r}")
        return names[value]
    return _integer(name, value)


def _colour(name, value):
    """An rrrgggbbb number from (red, green, blue) or the number itself."""
    if isinstance(value, (tuple, list)):
        if len(value) != 3:
            raise ValueError(f"{name} must be (red, green, blue) or an rrrgggbbb number, not {value!r}")
        red, green, blue = (_integer(name, part) for part in value)
        return red * 1000000 + green * 1000 + blue
    return _integer(name, value)


def _flag(name, value):
    if not isinstance(value, (bool, np.bool_)):
        raise ValueError(f"{name} must be True or False, not {value!r}")
    return bool(value)


def _as_image(array, name, float_range=None, allow_float=False):
    """An array as the engine's image: (C-contiguous uint8 bytes, pixel kind).

    Kinds: 0 colour (stored blue, green, red), 1, 2, 3 grey of 8, 16, 24 bits.
    8-bit and native little-endian 16-bit C-contiguous arrays are used as
    they are; anything else is converted (copied) once.
    """
    array = np.asarray(array)
    if array.ndim == 3 and array.shape[2] == 3:
        if array.dtype != np.uint8:
            raise ValueError(f"{name}: a colour image must be uint8 (H, W, 3) RGB, not {array.dtype}")
        kind = 0
    elif array.ndim != 2:
        raise ValueError(f"{name} must be a 2-D array (H, W) or an (H, W, 3) RGB array, "
                         f"not an array of shape {array.shape}")
    elif array.dtype.kind == "f":
        if not allow_float:
            raise ValueError(f"{name}: a pattern image must be uint8, uint16, uint32 or (H, W, 3) uint8, "
                             f"not {array.dtype}")
        kind = 2
    elif array.dtype.kind == "u" and array.dtype.itemsize in (1, 2, 4):
        if float_range is not None:
            raise ValueError(f"{name}: range applies to float heights only; {array.dtype} is used exactly")
        kind = {1: 1, 2: 2, 4: 3}[array.dtype.itemsize]
    else:
        kind = None
        allowed = "uint8, uint16, uint32, float32 or float64" if allow_float else "uint8, uint16 or uint32"
        raise ValueError(f"{name} must be {allowed} (2-D) or (H, W, 3) uint8 RGB, not {array.dtype}")
    height, width = array.shape[:2]
    if width > _LARGEST_SIDE or height > _LARGEST_SIDE:
        raise ValueError(f"Image '{name}' is too large ({width} x {height} pixels, "
                         f"at most {_LARGEST_SIDE} x {_LARGEST_SIDE}).")

    if kind == 0:
        return np.ascontiguousarray(array[:, :, ::-1]), 0
    if array.dtype.kind == "f":
        return _scaled_heights(array, float_range, name), 2
    if kind == 1:
        return np.ascontiguousarray(array), 1
    if kind == 2:
        array = np.ascontiguousarray(array, dtype="<u2")
        return array.view(np.uint8).reshape(height, width, 2), 2
    if array.max(initial=0) > 0xFFFFFF:
        raise ValueError(f"{name}: uint32 heights are 24-bit grey; values must be below 16777216")
    wide = np.ascontiguousarray(array, dtype="<u4").view(np.uint8).reshape(height, width, 4)
    return np.ascontiguousarray(wide[:, :, :3]), 3


def _scaled_heights(array, float_range, name):
    """Float heights as 16-bit grey: near becomes 65535, far 0, rounded."""
    if float_range is None:
        raise ValueError(f"{name}: float heights need range=(near, far) or range='auto'")
    if not np.isfinite(array).all():
        raise ValueError(f"{name} holds NaN or infinite values")
    if isinstance(float_range, str):
        if float_range != "auto":
            raise ValueError(f"range must be (near, far) or 'auto', not {float_range!r}")
        near, far = float(array.max()), float(array.min())
        if near == far:
            raise ValueError(f"range='auto': {name} is flat (every value is {near}); give range=(near, far)")
    else:
        try:
            near, far = (float(value) for value in float_range)
        except (TypeError, ValueError):
            raise ValueError(f"range must be (near, far) or 'auto', not {float_range!r}") from None
        if not (np.isfinite(near) and np.isfinite(far)):
            raise ValueError(f"range must be finite, not {float_range!r}")
        if near == far:
            raise ValueError(f"range: near and far must differ (both are {near})")
    scaled = (np.asarray(array, dtype=np.float64) - far) * (65535.0 / (near - far))
    grey = np.rint(np.clip(scaled, 0.0, 65535.0)).astype("<u2")
    return grey.view(np.uint8).reshape(array.shape[0], array.shape[1], 2)


def _seed(seed):
    """The engine's seed as the command line's /Rand gives it: clamped to 32
    bits signed, 0 (or None) for the clock, then taken as unsigned."""
    if seed is None:
        seed = 0
    seed = min(max(_integer("seed", seed), -2**31), 2**31 - 1)
    if seed == 0:
        seed = int(time.time()) & 0xFFFFFFFF
        seed = seed - 2**32 if seed >= 2**31 else seed
    return seed & 0xFFFFFFFF


def _run_options(pattern, pattern_width, pattern_stripes, depth, position, density, focus_marks,
                 top_foreground, bottom_foreground, top_background, bottom_background, stretch, random_dots,
                 colour, vinc, invert, cut_off, hidden, double, width=None):
    """The options of stereogram() as the engine's option texts, with the
    pattern image: (options, pattern image or None, its kind)."""
    options = {
        "PUse": str(_integer("depth", depth)),
        "PPos": str(_choice("position", position, _POSITIONS)),
        "Dens": str(_integer("density", density)),
        "FocP": str(_choice("focus_marks", focus_marks, _FOCUS_MARKS)),
    }
    if pattern_width is not None:
        options["PSizP"] = str(_integer("pattern_width", pattern_width))
    if pattern_stripes is not None:
        options["PSizS"] = str(_integer("pattern_stripes", pattern_stripes))
    if width is not None:
        options["Width"] = str(_integer("width", width))
    for name, key, value in (("top_foreground", "TopF", top_foreground),
                             ("bottom_foreground", "BotF", bottom_foreground),
                             ("top_background", "TopB", top_background),
                             ("bottom_background", "BotB", bottom_background)):
        if value is not None:
            options[key] = str(_colour(name, value))
    if stretch is not None:
        if not isinstance(stretch, str):
            raise ValueError(f"stretch must be a text of letters, not {stretch!r}")
        options["Stret"] = stretch if stretch else ">"
    for name, key, value in (("colour", "TrueOut", colour), ("vinc", "VInc", vinc), ("invert", "Inv", invert),
                             ("cut_off", "CutOff", cut_off), ("hidden", "Hidden", hidden),
                             ("double", "Double", double)):
        if _flag(name, value):
            options[key] = ">"
    if not _flag("random_dots", random_dots):
        options["NoRD"] = ">"

    pattern_image, pattern_kind = None, 0
    if isinstance(pattern, (int, np.integer)) and not isinstance(pattern, (bool, np.bool_)):
        if int(pattern) not in pattern_types:
            raise ValueError(f"pattern must be a type number ({', '.join(map(str, pattern_types))}) "
                             f"or a pattern image array, not {pattern!r}")
        options["PatT"] = str(int(pattern))
    else:
        pattern_image, pattern_kind = _as_image(pattern, "pattern")
        options["PatT"] = "0"

    return options, pattern_image, pattern_kind


def stereogram(heights, *, pattern=1, pattern_width=None, pattern_stripes=None, depth=24,
               position="centre", density=45, seed=None, focus_marks="above", top_foreground=None,
               bottom_foreground=None, top_background=None, bottom_background=None, stretch=None,
               random_dots=True, colour=False, vinc=False, invert=False, cut_off=False, hidden=False,
               double=False, width=None, range=None, threads=0):
    """Make a single-image random-dot stereogram of a height map.

    Returns a numpy array: (H, W) uint8 for grey stereograms, (H, W, 3)
    uint8 in RGB order for colour ones. For the same heights, options and
    seed the pixels are those of the command line's output image.

    heights
        The height map, brighter = nearer:
        2-D uint8 or uint16      8- or 16-bit grey, used exactly;
        2-D uint32               24-bit grey (values below 2**24);
        (H, W, 3) uint8 RGB      a colour height image;
        2-D float32 or float64   mapped to 16 bits with `range`.
        At most 65535 pixels on a side. C-contiguous uint8 and uint16 arrays
        are read in place; other arrays (views with strides, big-endian,
        RGB, 24-bit, float) are converted in one copy first.
    range
        For float heights only: (near, far), the values shown nearest
        (65535) and farthest (0), values beyond them clipped; or "auto",
        the largest value nearest and the smallest farthest. NaN and
        infinite heights are refused.

    Options, each with the command line's option:

    pattern            /PatT:n   a pattern type number (see rdsgen.pattern_types:
                                 1 dots, 2 stripes, 3 moving dashes,
                                 4 five-colour dots, 5 gradient dots,
                                 6 hard discs, 7 soft discs), or a pattern
                                 image: an array as for heights, but not float
    pattern_width      /PSiz:Pn  pattern width in pixels (None: 68; giving it
                                 turns off the automatic 'P' fitting)
    pattern_stripes    /PSiz:Sn  pattern width as a number of stripes across
                                 the heights' width (instead of pattern_width)
    depth              /PUse:n   largest depth, percent of the pattern width
    position           /PPos:n   pattern position: "left" (1), "centre" (2),
                                 "right" (3)
    density            /Dens:n   % of black pixels (types 1 and 5), number of
                                 dots (types 6 and 7)
    seed               /Rand:n   the random seed; None or 0 takes the clock
    focus_marks        /FocP:n   "none" (0), "above" the image (1), "in" the
                                 image (2)
    top_foreground     /TopF:n   colours of types 3, 5, 6, 7 at the top and the
    bottom_foreground  /BotF:n   bottom row: (red, green, blue) or an
    top_background     /TopB:n   rrrgggbbb number; None: the command line's
    bottom_background  /BotB:n   defaults
    stretch            /Stret:s  fitting the pattern image, letters: A automatic,
                                 X, Y stretch, R keep the ratio, P adjust the
                                 pattern width, Z use the actual height range
    random_dots=False  /NoRD     no random dots; insert parts of the pattern
    colour=True        /TrueOut  colour output even for grey patterns
    vinc=True          /VInc     virtually doubled resolution (more depth planes)
    invert=True        /Inv      inverted elevations
    cut_off=True       /CutOff   output as wide as the heights
    hidden=True        /Hidden   hidden-surface checking
    double=True        /Double   doubled output resolution
    width              /Width:n  the heights resampled to this many columns first
                                 (rows scaled to keep the aspect; None: as they are)
    threads                      worker threads: 0 every core, 1 none besides the
                                 caller's (the pixels do not depend on it)

    The command line's warnings are given as RdsgenWarning; its refusals
    raise ValueError with its message. The GIL is released while the
    stereogram is computed.
    """
    options, pattern_image, pattern_kind = _run_options(
        pattern, pattern_width, pattern_stripes, depth, position, density, focus_marks, top_foreground,
        bottom_foreground, top_background, bottom_background, stretch, random_dots, colour, vinc, invert,
        cut_off, hidden, double, width)
    threads = _integer("threads", threads)
    if threads < 0:
        raise ValueError(f"threads must be 0 or more, not {threads}")
    image, kind = _as_image(heights, "heights", float_range=range, allow_float=True)
    result, refusal, texts = _core.render(image, kind, pattern_image, pattern_kind, options, _seed(seed), threads)
    for text in texts:
        warnings.warn(text.removeprefix("WARNING: "), RdsgenWarning, stacklevel=2)
    if result is None:
        raise ValueError(refusal)
    return result


def read(path):
    """Read a PNG, JPEG or TARGA image file as the command line reads it.

    Returns (H, W) uint8 or uint16 for 8- and 16-bit grey, (H, W) uint32 for
    24-bit grey TARGA files, (H, W, 3) uint8 RGB for colour. Raises OSError
    with the command line's message when the file cannot be read.
    """
    pixels, kind = _core.read(os.fsdecode(os.fspath(path)))
    height, width = pixels.shape[:2]
    if kind == 0:
        return np.ascontiguousarray(pixels[:, :, ::-1])
    if kind == 1:
        return pixels.reshape(height, width)
    if kind == 2:
        return pixels.view("<u2").reshape(height, width).astype(np.uint16, copy=False)
    wide = np.zeros((height, width, 4), dtype=np.uint8)
    wide[:, :, :3] = pixels
    return wide.view("<u4").reshape(height, width).astype(np.uint32, copy=False)


def write(path, image):
    """Write a stereogram as the command line writes its output.

    image: (H, W) uint8 grey or (H, W, 3) uint8 RGB. A name ending in
    ".png" (in any case) is written as PNG, any other as an uncompressed
    TARGA file, top row first. The file is replaced only once complete.
    Raises OSError with the command line's message when it cannot be written.
    """
    path = os.fsdecode(os.fspath(path))
    image = np.asarray(image)
    if image.dtype != np.uint8 or not (image.ndim == 2 or (image.ndim == 3 and image.shape[2] == 3)):
        raise ValueError(f"image must be (H, W) uint8 grey or (H, W, 3) uint8 RGB, "
                         f"not {image.dtype} of shape {image.shape}")
    height, width = image.shape[:2]
    if width == 0 or height == 0 or width > _LARGEST_SIDE or height > _LARGEST_SIDE:
        raise ValueError(f"image must have 1 to {_LARGEST_SIDE} pixels on a side, not {width} x {height}")
    pixels = np.ascontiguousarray(image if image.ndim == 2 else image[:, :, ::-1])
    if not _core.write(path, pixels, path.lower().endswith(".png")):
        raise OSError(f"Can't write output file '{path}'.")


_SEQUENCE_FORMATS = {"apng": 0, "gif": 1, "png-stream": 2}
_DOTS = {"same": False, "new": True}


def animate(frames, path=None, *, format="apng", rate=25, dots="same", seed=None, threads=0, range=None,
            **options):
    """Make an animated stereogram of a sequence of height maps.

    frames: an iterable of height maps (as stereogram() takes them), all of
    the same size and kind; each is rendered with the plan of the first and
    written at once, so a generator needs no more memory than a frame.
    path: the file to write (replaced only once complete), or None to get
    the file's bytes back.

    format   "apng"        an animated PNG; viewers without animation show
                           the first frame
             "gif"         a looping animated GIF in exact colours (a frame
                           of more than 256 colours raises ValueError)
             "png-stream"  PNG files one after another, as
                           `ffmpeg -f image2pipe -c:v png -i -` reads them
    rate     frames per second, /Rate:n (the GIF's delay rounds to 1/100 s)
    dots     "same" (/Dots:Same): every frame drawn with the same seed, so
             that still parts stay still; "new" (/Dots:New): frame i with
             seed + i, a new dot field each frame
    seed     the random seed; None or 0 takes the clock, once
    range    for float heights, as in stereogram(); "auto" scales each frame
             on its own, so give (near, far) for a steady depth

    The other keyword arguments are stereogram()'s options.
    """
    if format not in _SEQUENCE_FORMATS:
        raise ValueError(f"format must be one of {', '.join(map(repr, _SEQUENCE_FORMATS))}, not {format!r}")
    if dots not in _DOTS:
        raise ValueError(f"dots must be 'same' or 'new', not {dots!r}")
    rate = _integer("rate", rate)
    if not 1 <= rate <= 65535:
        raise ValueError(f"rate must be from 1 to 65535 frames per second, not {rate}")
    threads = _integer("threads", threads)
    if threads < 0:
        raise ValueError(f"threads must be 0 or more, not {threads}")
    defaults = dict(pattern=1, pattern_width=None, pattern_stripes=None, depth=24, position="centre", density=45,
                    focus_marks="above", top_foreground=None, bottom_foreground=None, top_background=None,
                    bottom_background=None, stretch=None, random_dots=True, colour=False, vinc=False,
                    invert=False, cut_off=False, hidden=False, double=False, width=None)
    unknown = set(options) - set(defaults)
    if unknown:
        raise TypeError(f"animate() got unexpected keyword arguments: {', '.join(sorted(unknown))}")
    defaults.update(options)
    engine_options, pattern_image, pattern_kind = _run_options(**defaults)
    try:
        count = len(frames)
    except TypeError:
        count = 0
    target = "" if path is None else os.fsdecode(os.fspath(path))
    animation = _core.Animation(target, _SEQUENCE_FORMATS[format], rate, _DOTS[dots], count, _seed(seed), threads,
                                engine_options, pattern_image, pattern_kind)
    for heights in frames:
        image, kind = _as_image(heights, "heights", float_range=range, allow_float=True)
        for text in animation.add(image, kind):
            warnings.warn(text.removeprefix("WARNING: "), RdsgenWarning, stacklevel=2)
    return animation.finish()
