"""Reads the uncompressed 24-bit BMP files the program writes and ships; not a test itself."""
import struct


def read(path):
    """Rows of (r, g, b), top row first."""
    with open(path, "rb") as file:
        data = file.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, compression = struct.unpack_from("<HI", data, 28)
    assert (bits, compression) == (24, 0), (path, bits, compression)
    stride = (width * 3 + 3) & ~3
    starts = [offset + y * stride for y in (range(height - 1, -1, -1) if height > 0 else range(-height))]
    return [[tuple(data[at + 3 * x:at + 3 * x + 3][::-1]) for x in range(width)] for at in starts]
