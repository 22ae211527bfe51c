"""Pictures of depth frames: colourised depth, grey amplitude, the two side by side."""
import numpy as np
from PIL import Image

# A polynomial fit of the Turbo palette, one row of coefficients per colour channel.
_TURBO = np.array([
    [0.13572138, 4.61539260, -42.66032258, 132.13108234, -152.94239396, 59.28637943],
    [0.09140261, 2.19418839, 4.84296658, -14.18503333, 4.27729857, 2.82956604],
    [0.10667330, 12.64194608, -60.58204836, 110.36276771, -89.90310912, 27.34824973],
])
GAP = 8  # pixels between the depth and the amplitude picture


def turbo(x):
    """Colours for x in [0, 1] (clipped), as RGB bytes of shape x.shape + (3,)."""
    x = np.clip(np.asarray(x, dtype=np.float64), 0.0, 1.0)[..., None]
    rgb = (x ** np.arange(6)) @ _TURBO.T
    return (np.clip(rgb, 0.0, 1.0) * 255).astype(np.uint8)


def valid_depth(depth):
    with np.errstate(invalid="ignore"):
        return np.isfinite(depth) & (depth > 0)


def depth_scale(depth):
    """The span of depths (mm) a colour ramp covers: the 1st to 99th percentile of the
    valid pixels of `depth` (any shape), at least 100 mm wide."""
    values = np.asarray(depth)[valid_depth(depth)]
    if values.size == 0:
        return 0.0, 1000.0
    low, high = (float(v) for v in np.percentile(values, [1, 99]))
    if high - low < 100.0:
        middle = (low + high) / 2.0
        low, high = max(middle - 50.0, 0.0), middle + 50.0
    return low, high


def amplitude_scale(amplitude):
    """The amplitude shown as white: the 99th percentile of the finite values."""
    values = np.asarray(amplitude)[np.isfinite(amplitude)]
    top = float(np.percentile(values, 99)) if values.size else 1.0
    return max(top, 1e-6)


def depth_colours(depth, low, high):
    """RGB bytes (H x W x 3): the Turbo colour of each depth between low and high, black
    where the depth is invalid."""
    valid = valid_depth(depth)
    rgb = turbo((np.where(valid, depth, low) - low) / max(high - low, 1.0))
    rgb[~valid] = 0
    return rgb


def amplitude_grey(amplitude, top):
    """Grey bytes (H x W): amplitude on a square-root scale, `top` and above white."""
    grey = np.sqrt(np.clip(np.nan_to_num(amplitude) / top, 0.0, 1.0))
    return (grey * 255).astype(np.uint8)


def side_by_side(depth, amplitude, depth_span, amplitude_top):
    """One RGB picture: colourised depth, a gap, then the amplitude; 2 W + GAP by H."""
    rows, columns = depth.shape
    canvas = Image.new("RGB", (2 * columns + GAP, rows), "white")
    canvas.paste(Image.fromarray(depth_colours(depth, *depth_span), "RGB"), (0, 0))
    grey = Image.fromarray(amplitude_grey(amplitude, amplitude_top), "L").convert("RGB")
    canvas.paste(grey, (columns + GAP, 0))
    return canvas


def png16(values):
    """A 16-bit greyscale PNG image of unsigned 16-bit values."""
    values = np.ascontiguousarray(values, dtype=np.uint16)
    return Image.frombytes("I;16", (values.shape[1], values.shape[0]), values.tobytes())
