#!/usr/bin/python3
"""Times a plain numpy form of the depth library's whole pipeline against the library.

    depth_numpy_reference.py PATH/TO/depth_bench

Runs the C++ benchmark, which also writes its 640 x 480 frame sequences (single and double
frequency), the calibration, the two "ConfigAlgorithm.json" files (filters at their defaults,
filters off) and the library's depth planes for every frame of each sequence from a fresh
start. Then computes depth, amplitude and confidence of the same sequences with numpy
(np.arctan2, the calibration's offsets expanded once beforehand as the library does at its
start, then the filter stages with the levels read from the same files, their history kept
from frame to frame), times that in this process, compares the depths and prints, for each of
the four cases, both times per pixel, both frame rates and their ratio, and the memory
reference (the same bytes moved with next to no arithmetic). Both sides are measured in CPU
time of one thread (the machine may be shared); numpy's elementwise functions are single
threaded.
"""
import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import timeit

import numpy as np

WIDTH, HEIGHT = 640, 480
PIXELS = WIDTH * HEIGHT
LIGHT_MM_PER_S = 299792458.0e3
READ_NOISE, SHOT_NOISE_GAIN, MIN_CONFIDENCE = 2.0, 0.5, 3.0
SUB_FRAMES = {"single": 5, "double": 10}
CASES = (("single", "defaults"), ("single", "off"), ("double", "defaults"), ("double", "off"))

# The keys of "ConfigAlgorithm.json" and the values that stand where one is missing.
PARAMETER_DEFAULTS = {
    "TDenoiseLevel_Depth": 3, "SDenoiseLevel_Depth": 3,
    "TDenoiseMethod_Depth": 1, "SDenoiseMethod_Depth": 1,
    "TDenoiseLevel_Gray": 1, "SDenoiseLevel_Gray": 1,
    "TDenoiseMethod_Gray": 1, "SDenoiseMethod_Gray": 1,
    "ERDOLvl": 3, "ValidDistMin": 0.0, "ValidDistMax": 7000.0,
}


def read_parameters(path):
    """The INI-style "ConfigAlgorithm.json": key=value lines below [section] lines."""
    parameters = dict(PARAMETER_DEFAULTS)
    with open(path) as file:
        for line in file:
            key, equals, value = line.partition("=")
            key = key.strip()
            if equals and key in parameters:
                try:
                    number = float(value.strip())
                except ValueError:
                    continue
                if np.isfinite(number):
                    parameters[key] = number
    return parameters


def header_value(frame, sub_frame, first_word, count):
    """A little-endian field of an embedded header (one byte in bits 4..11 of each word)."""
    words = frame[sub_frame, 0, first_word:first_word + count] >> 4
    return sum(int(byte) << (8 * i) for i, byte in enumerate(words))


def frequency_and_temperature(frame, first_sub_frame):
    hz = header_value(frame, first_sub_frame, 9, 4)
    temperatures = []
    for k in range(4):
        raw = header_value(frame, first_sub_frame + k, 17, 2)
        temperatures.append((raw - 65536 if raw >= 32768 else raw) / 16.0)
    return hz, float(np.float32(np.mean(np.float32(temperatures))))


def read_calibration(data):
    """The records and per-pixel grid offsets (radians) of docs/calibration-format.md."""
    columns, rows = data[13], data[14]
    count = data[12]
    reference = struct.unpack_from("<f", data, 48)[0]
    records = [struct.unpack_from("<Iff", data, 52 + 12 * n) for n in range(count)]
    grids = np.frombuffer(data, dtype="<i2", count=count * rows * columns,
                          offset=52 + 12 * count).reshape(count, rows, columns)
    u = np.arange(WIDTH) * (columns - 1) / (WIDTH - 1)
    v = np.arange(HEIGHT) * (rows - 1) / (HEIGHT - 1)
    i0 = np.minimum(u.astype(int), columns - 2)
    j0 = np.minimum(v.astype(int), rows - 2)
    wu = (u - i0)[None, :]
    wv = (v - j0)[:, None]
    planes = []
    for grid in grids.astype(np.float64):
        top = grid[j0][:, i0] * (1 - wu) + grid[j0][:, i0 + 1] * wu
        bottom = grid[j0 + 1][:, i0] * (1 - wu) + grid[j0 + 1][:, i0 + 1] * wu
        planes.append((top * (1 - wv) + bottom * wv) / 8192.0)
    return reference, records, planes


def offsets_for(calibration, hz, temperature):
    reference, records, planes = calibration
    nearest = min(range(len(records)), key=lambda n: abs(records[n][0] - hz))
    _, global_offset, coefficient = records[nearest]
    return planes[nearest] + global_offset + coefficient * (temperature - reference)


def demodulate(samples, offsets):
    """Phase in turns after the offsets, amplitude, 2 a^2 and the phase mean."""
    s0, s1, s2, s3 = samples
    i, q = s0 - s2, s1 - s3
    turns = np.arctan2(q, i) / (2 * np.pi) - offsets / (2 * np.pi)
    turns -= np.floor(turns)
    squares = i * i + q * q
    return turns, 0.5 * np.sqrt(squares), 0.5 * squares, samples.mean(axis=0)


def confidence_of(power, level):
    return np.sqrt(power / (READ_NOISE ** 2 + SHOT_NOISE_GAIN * level))


def finish(distance, amplitude, confidence, top, parameters):
    valid = ((top < 4095) & (confidence >= MIN_CONFIDENCE)
             & (distance >= parameters["ValidDistMin"])
             & (distance <= parameters["ValidDistMax"]))
    return np.where(valid, distance, 0.0), amplitude, np.where(valid, confidence, 0.0)


def single_frequency(frame, calibration, parameters):
    hz, temperature = frequency_and_temperature(frame, 0)
    offsets = offsets_for(calibration, hz, temperature)
    wrap = LIGHT_MM_PER_S / (2 * hz)
    pixels = frame[:, 1:, :].astype(np.float64)
    turns, amplitude, power, mean = demodulate(pixels[0:4], offsets)
    gray = pixels[4]
    confidence = confidence_of(power, np.maximum(mean, gray))
    return finish(turns * wrap, amplitude, confidence, pixels.max(axis=0), parameters)


def double_frequency(frame, calibration, parameters):
    (f0, c0), (f1, c1) = frequency_and_temperature(frame, 0), frequency_and_temperature(frame, 5)
    offsets = (offsets_for(calibration, f0, c0), offsets_for(calibration, f1, c1))
    m0, m1, wraps, weights = frequency_pair(f0, f1)
    pixels = frame[:, 1:, :].astype(np.float64)
    t0, a0, p0, mean0 = demodulate(pixels[0:4], offsets[0])
    t1, a1, p1, mean1 = demodulate(pixels[5:9], offsets[1])
    undemodulated = np.maximum(pixels[4], pixels[9])
    confidence = np.minimum(confidence_of(p0, np.maximum(mean0, undemodulated)),
                            confidence_of(p1, np.maximum(mean1, undemodulated)))
    # The whole turns: m1 n0 - m0 n1 = round(m0 t1 - m1 t0), n0 in 0..m0-1.
    r = np.rint(m0 * t1 - m1 * t0)
    inverse = pow(m1, -1, m0) if m0 > 1 else 0
    n0 = np.mod(r * inverse, m0)
    n1 = (m1 * n0 - r) / m0
    distance = weights[0] * (n0 + t0) * wraps[0] + weights[1] * (n1 + t1) * wraps[1]
    distance = np.mod(distance, m0 * wraps[0])
    return finish(distance, 0.5 * (a0 + a1), confidence, pixels.max(axis=0), parameters)


def frequency_pair(f0, f1):
    for m1 in range(1, 17):
        m0 = round(f0 * m1 / f1)
        if 1 <= m0 <= 16 and abs(f0 * m1 - f1 * m0) <= 1e-4 * f0 * m1:
            wraps = (LIGHT_MM_PER_S / (2 * f0), LIGHT_MM_PER_S / (2 * f1))
            weight0 = f0 * f0 / (f0 * f0 + f1 * f1)
            return m0, m1, wraps, (weight0, 1 - weight0)
    raise ValueError("no small ratio")


# The filter stages, in the order the library runs them on a frame's planes (depth,
# amplitude, confidence). Each takes the pipeline (its parameters and the history it keeps
# between frames) and the planes, and gives back the planes; at level 0 a stage leaves them
# as they are. The library reads these levels but runs no such stage yet, so neither does
# numpy: each function is where the stage's numpy form goes.

def temporal_denoise(pipeline, planes):
    """Blends each pixel with its history (TDenoiseLevel_Depth, TDenoiseLevel_Gray)."""
    return planes


def spatial_denoise(pipeline, planes):
    """Smooths each pixel with its neighbours (SDenoiseLevel_Depth, SDenoiseLevel_Gray)."""
    return planes


def repair_pixels(pipeline, planes):
    """Removes flying pixels at edges and fills missing ones (ERDOLvl)."""
    return planes


FILTER_STAGES = (temporal_denoise, spatial_denoise, repair_pixels)


class Pipeline:
    """One started handle's worth of numpy: parameters, calibration, history between frames."""

    def __init__(self, mode, calibration, parameters):
        self.compute = single_frequency if mode == "single" else double_frequency
        self.calibration = calibration
        self.parameters = parameters
        self.history = {}

    def __call__(self, frame):
        planes = self.compute(frame, self.calibration, self.parameters)
        for stage in FILTER_STAGES:
            planes = stage(self, planes)
        return planes


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    bench = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        result_path = os.path.join(folder, "result.json")
        subprocess.run([bench, "--write=" + folder, "--benchmark_repetitions=5",
                        "--benchmark_report_aggregates_only=true",
                        "--benchmark_out_format=json", "--benchmark_out=" + result_path],
                       check=True)
        frames = {}
        for mode, count in SUB_FRAMES.items():
            words = np.fromfile(os.path.join(folder, mode + ".raw"), dtype="<u2")
            frames[mode] = words.reshape(-1, count, HEIGHT + 1, WIDTH)
        depths = {(mode, case): np.fromfile(os.path.join(folder, "%s-%s.depth" % (mode, case)),
                                            dtype="<f4").reshape(-1, PIXELS)
                  for mode, case in CASES}
        parameters = {case: read_parameters(os.path.join(folder, case, "ConfigAlgorithm.json"))
                      for case in ("defaults", "off")}
        with open(os.path.join(folder, "cali.bin"), "rb") as file:
            calibration = read_calibration(file.read())
        with open(result_path) as file:
            results = json.load(file)["benchmarks"]

    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}

    def median(name):
        for entry in results:
            if entry["name"] == name + "_median":
                return entry
        raise KeyError(name)

    def cpp_seconds(name):
        entry = median(name)
        return entry["cpu_time"] * unit[entry["time_unit"]]

    print()
    rows = []
    for mode, case in CASES:
        sequence = frames[mode]
        label = "%s frequency, filters %s" % (mode, "at defaults" if case == "defaults" else "off")

        # From a fresh start, as the library's planes were written.
        pipeline = Pipeline(mode, calibration, parameters[case])
        reference = np.array([pipeline(frame)[0].reshape(PIXELS) for frame in sequence])
        library = depths[(mode, case)]
        both = (reference != 0) & (library != 0)
        apart = np.abs(reference - library)[both]

        def run_sequence():
            for frame in sequence:
                pipeline(frame)

        timer = timeit.Timer(run_sequence, timer=time.process_time)
        loops, _ = timer.autorange()
        numpy_seconds = min(timer.repeat(repeat=5, number=loops)) / loops / len(sequence)
        cpp = cpp_seconds("BM_DepthPipeline/single:%d/filters:%d"
                          % (mode == "single", case == "defaults"))
        rows.append((label, cpp, numpy_seconds))
        print("%s: over the %d frames, valid pixels %d (library) and %d (numpy), in both %d; "
              "largest depth difference there %.4f mm, over 1 mm at %d"
              % (label, len(sequence), np.count_nonzero(library), np.count_nonzero(reference),
                 np.count_nonzero(both), float(apart.max()) if apart.size else 0.0,
                 int(np.count_nonzero(apart > 1.0))))

    print("\n%-40s %10s %10s %10s %10s %9s"
          % ("CPU time, 640 x 480", "library", "library", "numpy", "numpy", "speed-up"))
    print("%-40s %10s %10s %10s %10s %9s" % ("", "ns/pixel", "frames/s", "ns/pixel", "frames/s",
                                             "vs numpy"))
    for label, cpp, numpy_seconds in rows:
        print("%-40s %10.2f %10.1f %10.2f %10.1f %8.1fx"
              % (label, cpp / PIXELS * 1e9, 1 / cpp, numpy_seconds / PIXELS * 1e9,
                 1 / numpy_seconds, numpy_seconds / cpp))
    for mode in SUB_FRAMES:
        entry = median("BM_MemoryReference/single:%d" % (mode == "single"))
        seconds = entry["cpu_time"] * unit[entry["time_unit"]]
        library = [cpp for label, cpp, _ in rows if label.startswith(mode)]
        print("memory reference, %s frequency: %.2f ns/pixel, %.1f GB/s (samples in, three "
              "float planes out); the library takes %.1fx to %.1fx that"
              % (mode, seconds / PIXELS * 1e9, entry["bytes"] / seconds / 1e9,
                 min(library) / seconds, max(library) / seconds))
    return 0


if __name__ == "__main__":
    sys.exit(main())
