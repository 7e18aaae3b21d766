"""rdsgen.animate against stereogram() and write(): every frame of the
animation is the stereogram of that frame's heights with that frame's seed."""

import struct
import zlib

import numpy as np
import pytest

import rdsgen

SEED = 5


def moving_disc(frame, width=90, height=50):
    y, x = np.mgrid[0:height, 0:width]
    disc = (x - 30 - 3 * frame) ** 2 + (y - height // 2) ** 2 < 15 ** 2
    return np.where(disc, 220, x * 100 // width).astype(np.uint8)


def png_frames(data):
    """A PNG or animated PNG's acTL frame count (None for a PNG) and its
    frames' pixels (grey or RGB rows), read chunk by chunk with the CRCs and
    sequence numbers checked."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, sequence, count, frames = 8, 0, None, []
    while at < len(data):
        length, tag = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        assert struct.unpack(">I", data[at + 8 + length:at + 12 + length])[0] == zlib.crc32(tag + body)
        at += 12 + length
        if tag == b"IHDR":
            width, height, _, colour_type = struct.unpack(">IIBB", body[:10])
            channels = 1 if colour_type == 0 else 3
        elif tag == b"acTL":
            count = struct.unpack(">I", body[:4])[0]
        elif tag in (b"fcTL", b"fdAT"):
            assert struct.unpack(">I", body[:4])[0] == sequence
            sequence += 1
            if tag == b"fcTL":
                frames.append(b"")
            else:
                frames[-1] += body[4:]
        elif tag == b"IDAT":
            if count is None and not frames:
                frames.append(b"")
            assert len(frames) == 1
            frames[0] += body
    pixels = []
    for compressed in frames:
        raw = np.frombuffer(zlib.decompress(compressed), dtype=np.uint8).reshape(height, -1)
        assert (raw[:, 0] == 0).all()  # unfiltered rows
        pixels.append(raw[:, 1:].reshape((height, width) if channels == 1 else (height, width, 3)))
    return count, pixels


def test_animation_frames_are_the_stereograms_of_their_heights(tmp_path):
    frames = [moving_disc(i) for i in range(3)]
    # A PNG stream holds the PNG files of the frames, new dots: seed + i.
    stream = rdsgen.animate(frames, format="png-stream", dots="new", seed=SEED, pattern=6)
    end = b"IEND\xaeB`\x82"
    files = [part + end for part in stream.split(end)[:-1]]
    assert len(files) == 3 and stream.endswith(end)
    for i, (heights, png) in enumerate(zip(frames, files)):
        count, pixels = png_frames(png)
        assert count is None and len(pixels) == 1
        np.testing.assert_array_equal(pixels[0], rdsgen.stereogram(heights, seed=SEED + i, pattern=6))
    # An animated PNG from a generator (length unknown): the frame count is
    # patched into the file at the end.
    path = tmp_path / "a.png"
    assert rdsgen.animate((h for h in frames), path, seed=SEED, rate=12) is None
    count, pixels = png_frames(path.read_bytes())
    assert count == 3
    for heights, frame in zip(frames, pixels):
        np.testing.assert_array_equal(frame, rdsgen.stereogram(heights, seed=SEED))


def test_animation_refusals_leave_no_file(tmp_path):
    path = tmp_path / "a.gif"
    with pytest.raises(ValueError, match="more than 256 colours.*animated PNG"):
        rdsgen.animate([moving_disc(0)], path, format="gif", pattern=7)
    with pytest.raises(ValueError, match="Frame 2 is 40 x 20 pixels; the first frame is 90 x 50"):
        rdsgen.animate([moving_disc(0), np.zeros((20, 40), np.uint8)], path, format="gif")
    assert list(tmp_path.iterdir()) == []
    gif = rdsgen.animate([moving_disc(i) for i in range(2)], format="gif", seed=SEED)
    assert gif.startswith(b"GIF89a") and b"NETSCAPE2.0" in gif and gif.endswith(b";")
