"""Point clouds as PLY files: x, y, z in metres (float32) and red, green, blue bytes."""
import numpy as np

VERTEX = np.dtype([("x", "<f4"), ("y", "<f4"), ("z", "<f4"),
                   ("red", "u1"), ("green", "u1"), ("blue", "u1")])


def header(count, ascii_format=False, comments=()):
    lines = ["ply", "format %s 1.0" % ("ascii" if ascii_format else "binary_little_endian")]
    lines += ["comment %s" % comment.replace("\n", " ") for comment in comments]
    lines += ["element vertex %d" % count,
              "property float x", "property float y", "property float z",
              "property uchar red", "property uchar green", "property uchar blue",
              "end_header"]
    return ("\n".join(lines) + "\n").encode("ascii")


def vertices(points, colours):
    """The valid points of an H x W x 3 cloud (NaN where invalid) with their colours
    (H x W x 3 bytes), as a structured array in row order."""
    points = np.asarray(points, dtype=np.float32).reshape(-1, 3)
    colours = np.asarray(colours, dtype=np.uint8).reshape(-1, 3)
    keep = np.isfinite(points).all(axis=1)
    table = np.empty(int(keep.sum()), dtype=VERTEX)
    for axis, name in enumerate(("x", "y", "z")):
        table[name] = points[keep, axis]
    for channel, name in enumerate(("red", "green", "blue")):
        table[name] = colours[keep, channel]
    return table


def write(stream, table, ascii_format=False, comments=()):
    """Writes the vertex table to a binary stream."""
    stream.write(header(len(table), ascii_format, comments))
    if ascii_format:
        np.savetxt(stream, table, fmt="%.6f %.6f %.6f %d %d %d")
    else:
        stream.write(table.tobytes())

