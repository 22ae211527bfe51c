#!/usr/bin/python3
"""Times a straightforward numpy form of the HQVGA depth computation against the C++ device.

    hqvga_numpy_reference.py PATH/TO/hqvga_bench

Runs the C++ benchmark (which also writes its raw frame), computes depth, amplitude and
confidence from the same frame with numpy (decode, differences, arctan2, sqrt), times that
in this process, and prints both times and their ratio. Both sides are measured in CPU time
of one thread (the machine may be shared), numpy's elementwise functions being single
threaded like the device.
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import timeit

import numpy as np

WIDTH, HEIGHT, PHASES = 240, 180, 4
PIXELS = WIDTH * HEIGHT


def numpy_phase_image(raw, sample_shift=0, frequency=37500000.0, short_range=False):
    """The documented steps, written plainly with numpy arrays."""
    bits = ((raw >> sample_shift) & 0x7FF).astype(np.int32)
    decoded = ((bits ^ 0x400) - 0x400) * 16
    p0, p1, p2, p3 = decoded.reshape(PHASES, PIXELS)
    if short_range:
        y, x = p1 - p3, p2 - p0
    else:
        y, x = p2 - p0, p3 - p1
    theta = np.arctan2(y.astype(np.float64), x.astype(np.float64)).astype(np.float32)
    theta = np.where(theta < 0, theta + np.float32(6.2831855), theta)
    scale = np.float32(300000000.0) / (np.float32(frequency) * np.float32(12.566371))
    depth = (scale * theta) * np.float32(1000.0)
    xd, yd = x.astype(np.float64), y.astype(np.float64)
    amplitude = (0.5 * np.sqrt(xd * xd + yd * yd)).astype(np.float32)
    confidence = amplitude.copy()
    return depth, amplitude, confidence


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    bench = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        frame_path = os.path.join(folder, "frame.raw")
        depth_path = os.path.join(folder, "depth.f32")
        result_path = os.path.join(folder, "result.json")
        subprocess.run([bench, "--write-frame=" + frame_path, "--write-depth=" + depth_path,
                        "--benchmark_filter=BM_GetPhaseImage/4000|BM_GetRawImages",
                        "--benchmark_repetitions=5",
                        "--benchmark_report_aggregates_only=true",
                        "--benchmark_out_format=json", "--benchmark_out=" + result_path],
                       check=True)
        raw = np.fromfile(frame_path, dtype="<u2")
        device_depth = np.fromfile(depth_path, dtype="<f4")
        with open(result_path) as file:
            results = json.load(file)["benchmarks"]

    assert raw.size == PHASES * PIXELS
    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}

    def cpp_seconds(name):
        for entry in results:
            if entry["name"] == name + "_median":
                return entry["cpu_time"] * unit[entry["time_unit"]]
        raise KeyError(name)

    timer = timeit.Timer(lambda: numpy_phase_image(raw), timer=time.process_time)
    loops, _ = timer.autorange()
    numpy_seconds = min(timer.repeat(repeat=5, number=loops)) / loops
    cpp = cpp_seconds("BM_GetPhaseImage/4000")

    # Same computation: numpy's arctan2 may differ from the C library's in the last bit of
    # the double now and then, which can move a float by one step.
    numpy_depth = numpy_phase_image(raw)[0]
    differing = int(np.count_nonzero(numpy_depth != device_depth))
    largest = float(np.max(np.abs(numpy_depth - device_depth)))

    print()
    print("depth pixels differing from numpy: %d of %d (largest difference %.3g mm)"
          % (differing, PIXELS, largest))
    print("depth frame, numpy reference: %8.1f us" % (numpy_seconds * 1e6))
    print("depth frame, C++ device:      %8.1f us" % (cpp * 1e6))
    print("speed-up of the device over numpy: %.1fx" % (numpy_seconds / cpp))
    return 0


if __name__ == "__main__":
    sys.exit(main())
