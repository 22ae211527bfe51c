#!/usr/bin/env python3
"""Streams depth for a few seconds and reports on it.

Prints the frame rate, the latency (sensor timestamp to Python) and depth
statistics, and writes a PNG with the colourised depth of the last frame
beside its amplitude. Works on a real camera and, with ZELVO_SIM set, on the
simulated board.
"""
import argparse
import os
import sys
import time

import numpy as np
from PIL import Image, ImageDraw
from tqdm import tqdm

import ZelvoDepthCamera as zelvo

OK = zelvo.TOFErrorCode.ZelvoSuccess
REQUEST_TIMEOUT_MS = 10000  # the first frame of a VGA camera waits for its depth library
SCALE = 2  # the PNG shows every pixel as SCALE x SCALE
VGA_SINGLE_RANGE_MM, VGA_DOUBLE_RANGE_MM = 1250, 4500


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=4.0, help="how long to stream")
    parser.add_argument("--connect", choices=["CSI", "USB"], default="CSI")
    parser.add_argument("--index", type=int, default=0, help="video node or USB device index")
    parser.add_argument("--range", type=int, metavar="MM",
                        help="measuring range in mm: 2000 or 4000 on HQVGA (default: the "
                             "camera's); on VGA the frequency mode that reaches it, 1250 "
                             "(single) or 4500 (double, the default)")
    parser.add_argument("--output", default=os.path.join("out", "capture.png"))
    return parser.parse_args()


def check(code, what):
    if code != OK:
        raise SystemExit("%s failed: %s (%d)" % (what, code.str(), int(code)))


def set_range(camera, device_type, wanted):
    """Sets the measuring range. HQVGA has a range control; the VGA range follows its
    frequency mode, which starts single (1250 mm): double (4500 mm) unless asked otherwise."""
    if device_type == zelvo.TOFDeviceType.VGA:
        if wanted is not None and wanted > VGA_DOUBLE_RANGE_MM:
            raise SystemExit("the VGA camera reaches %d mm at most" % VGA_DOUBLE_RANGE_MM)
        single = wanted is not None and wanted <= VGA_SINGLE_RANGE_MM
        mode = zelvo.TofWorkMode.SINGLE_FREQ if single else zelvo.TofWorkMode.DOUBLE_FREQ
        check(camera.setControl(zelvo.TOFControl.MODE, mode), "setting the frequency mode")
    elif wanted is not None:
        if wanted not in (2000, 4000):
            raise SystemExit("the HQVGA camera's range is 2000 or 4000 mm")
        check(camera.setControl(zelvo.TOFControl.RANGE, wanted), "setting the range")
    return camera.getControl(zelvo.TOFControl.RANGE)


def depth_size(camera, info):
    """Width and height of a depth frame (a VGA camera's raw frames have more rows)."""
    width = camera.getControl(zelvo.TOFControl.FMT_WIDTH) or info.width
    height = camera.getControl(zelvo.TOFControl.FMT_HEIGHT) or info.height
    return width, height


def turbo(x):
    """Colour map for x in [0, 1]: a polynomial fit of the Turbo palette, as RGB bytes."""
    x = np.clip(x, 0.0, 1.0)[..., None]
    coefficients = np.array([
        [0.13572138, 4.61539260, -42.66032258, 132.13108234, -152.94239396, 59.28637943],
        [0.09140261, 2.19418839, 4.84296658, -14.18503333, 4.27729857, 2.82956604],
        [0.10667330, 12.64194608, -60.58204836, 110.36276771, -89.90310912, 27.34824973],
    ])
    powers = x ** np.arange(6)
    rgb = powers @ coefficients.T
    return (np.clip(rgb, 0.0, 1.0) * 255).astype(np.uint8)


def depth_image(depth, low, high):
    valid = np.isfinite(depth) & (depth > 0)
    rgb = turbo((np.where(valid, depth, low) - low) / max(high - low, 1.0))
    rgb[~valid] = 0
    return Image.fromarray(rgb, "RGB")


def amplitude_image(amplitude):
    finite = amplitude[np.isfinite(amplitude)]
    top = np.percentile(finite, 99) if finite.size else 1.0
    grey = np.sqrt(np.clip(np.nan_to_num(amplitude) / max(top, 1e-6), 0.0, 1.0))
    return Image.fromarray((grey * 255).astype(np.uint8), "L").convert("RGB")


def write_png(path, depth, amplitude, low, high):
    rows, cols = depth.shape
    size = (cols * SCALE, rows * SCALE)
    left = depth_image(depth, low, high).resize(size, Image.NEAREST)
    right = amplitude_image(amplitude).resize(size, Image.NEAREST)
    caption, bar = 18, 12
    canvas = Image.new("RGB", (2 * size[0] + 8, size[1] + caption + bar + 16), "white")
    canvas.paste(left, (0, caption))
    canvas.paste(right, (size[0] + 8, caption))
    draw = ImageDraw.Draw(canvas)
    draw.text((4, 3), "depth, mm", fill="black")
    draw.text((size[0] + 12, 3), "amplitude", fill="black")
    # Colour bar under the depth image, with its end values.
    ramp = turbo(np.linspace(0.0, 1.0, size[0]))[None, :, :].repeat(bar, axis=0)
    top = caption + size[1] + 2
    canvas.paste(Image.fromarray(ramp, "RGB"), (0, top))
    draw.text((2, top + bar), "%.0f" % low, fill="black")
    label = "%.0f" % high
    draw.text((size[0] - 6 * len(label) - 2, top + bar), label, fill="black")
    directory = os.path.dirname(path)
    if directory:
        os.makedirs(directory, exist_ok=True)
    canvas.save(path)


def summary(name, values, unit, digits=1):
    values = np.asarray(values, dtype=np.float64)
    if values.size == 0:
        return "%-10s n/a" % name
    form = "%%.%df" % digits
    parts = ["mean " + form % values.mean(), "median " + form % np.median(values),
             "min " + form % values.min(), "max " + form % values.max()]
    return "%-10s %s %s" % (name, ", ".join(parts), unit)


def stream(camera, seconds):
    """Takes frames for `seconds`; returns timestamps, latencies, per-frame depth and the
    last frame's planes."""
    stamps, latencies, medians, valid_shares = [], [], [], []
    last = None
    deadline = time.monotonic() + seconds
    with tqdm(total=round(seconds, 1), unit="s", desc="streaming",
              bar_format="{desc}: {percentage:3.0f}%|{bar}| {n:.1f}/{total} s{postfix}") as bar:
        start = time.monotonic()
        while time.monotonic() < deadline or not stamps:  # at least one frame
            frame = camera.requestFrame(REQUEST_TIMEOUT_MS)
            arrived_ms = time.monotonic() * 1000.0
            if frame is None:
                bar.write("no frame within %d ms" % REQUEST_TIMEOUT_MS)
                if not stamps:
                    break
                continue
            stamp = frame.getFrameFormat().timestamp
            depth = frame.getDepthData()
            amplitude = frame.getAmplitudeData()
            camera.releaseFrame(frame)

            stamps.append(stamp)
            latencies.append(arrived_ms - stamp)
            valid = depth[np.isfinite(depth) & (depth > 0)]
            valid_shares.append(valid.size / depth.size)
            if valid.size:
                medians.append(float(np.median(valid)))
            last = (depth, amplitude)
            bar.set_postfix_str("%d frames" % len(stamps), refresh=False)
            bar.update(round(min(time.monotonic() - start, seconds), 1) - bar.n)
    return stamps, latencies, medians, valid_shares, last


def main():
    arguments = parse_arguments()
    camera = zelvo.ZelvoCamera()
    check(camera.open(getattr(zelvo.TOFConnect, arguments.connect), arguments.index), "open")
    try:
        info = camera.getCameraInfo()
        measuring_range = set_range(camera, info.device_type, arguments.range)
        print("camera: %s over %s, %d x %d, range %d mm"
              % ((info.device_type.name, info.connect.name) + depth_size(camera, info)
                 + (measuring_range,)))

        code = camera.start(zelvo.TOFOutput.DEPTH)
        if code != OK and measuring_range == VGA_DOUBLE_RANGE_MM:
            raise SystemExit("start failed: %s (%d); the transport may not carry the VGA "
                             "camera's double-frequency frames: try --range %d"
                             % (code.str(), int(code), VGA_SINGLE_RANGE_MM))
        check(code, "start")
        wall_start = time.monotonic()
        try:
            stamps, latencies, medians, valid_shares, last = stream(camera, arguments.seconds)
        finally:
            wall = time.monotonic() - wall_start
            camera.stop()
    finally:
        camera.close()

    if last is None:
        raise SystemExit("no frame arrived")
    frames = len(stamps)
    print("frames:    %d in %.1f s" % (frames, wall))
    if frames > 1 and stamps[-1] > stamps[0]:
        print("rate:      %.1f frames/s by sensor timestamps, %.1f frames/s received"
              % ((frames - 1) * 1000.0 / (stamps[-1] - stamps[0]), frames / wall))
    # Timestamps of the CSI transport are milliseconds of the monotonic clock; other
    # transports use their own unit, so implausible latencies are not shown.
    plausible = [value for value in latencies if 0 <= value < 10000]
    if len(plausible) == len(latencies):
        print(summary("latency:", plausible, "ms"))
    else:
        print("latency:   n/a (timestamps are not monotonic milliseconds)")
    print(summary("depth:", medians, "mm (median of each frame's valid pixels)", 0))
    print("valid:     %.1f %% of pixels on average" % (100.0 * np.mean(valid_shares)))

    depth, amplitude = last
    valid = depth[np.isfinite(depth) & (depth > 0)]
    print(summary("last:", valid, "mm (last frame, valid pixels)", 0))
    low, high = 0.0, float(measuring_range if measuring_range > 0 else max(valid.max(), 1.0))
    if valid.size:
        low, high = np.percentile(valid, [1, 99])
        if high - low < 1.0:
            low, high = low - 50.0, high + 50.0
    write_png(arguments.output, depth, amplitude, float(low), float(high))
    print("image:     %s (colourised depth beside amplitude)" % arguments.output)


if __name__ == "__main__":
    sys.exit(main())
