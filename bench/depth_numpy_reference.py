#!/usr/bin/python3
"""Times a plain numpy form of the depth library's whole pipeline against the library.

    depth_numpy_reference.py PATH/TO/depth_bench

Runs the C++ benchmark, which also writes its 640 x 480 frame sequences (single and double
frequency), the calibration, the two "ConfigAlgorithm.json" files (filters at their defaults,
filters off) and the library's depth planes for every frame of each sequence from a fresh
start. Then computes depth, amplitude and confidence of the same sequences with numpy
(the steps of docs/depth-library.md in their order: demodulation, temporal and spatial
denoising of the complex signal and of the amplitude, np.angle and the calibration's offsets
expanded once beforehand as the library does at its start, distance, confidence, validity
and the removal of flying pixels, with the levels read from the same files and the
filters' history kept from frame to frame), times that in this process, compares the
depths and prints, for each of the four cases, both times per pixel, both frame rates and
their ratio, and the library's time as a multiple of the memory reference (the same bytes
moved with next to no arithmetic).
Both sides are measured in CPU time of one thread (the machine may be shared); numpy's
elementwise functions are single threaded.
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


def phase_turns(signal, offsets):
    """Phase of the complex signal in turns after the calibration offsets, in [0, 1)."""
    turns = np.angle(signal) / (2 * np.pi) - offsets / (2 * np.pi)
    return turns - np.floor(turns)


def frequency_pair(f0, f1):
    for m1 in range(1, 17):
        m0 = round(f0 * m1 / f1)
        if 1 <= m0 <= 16 and abs(f0 * m1 - f1 * m0) <= 1e-4 * f0 * m1:
            wraps = (LIGHT_MM_PER_S / (2 * f0), LIGHT_MM_PER_S / (2 * f1))
            weight0 = f0 * f0 / (f0 * f0 + f1 * f1)
            return m0, m1, wraps, (weight0, 1 - weight0)
    raise ValueError("no small ratio")


def noise_variance(level):
    """A sample's noise variance at this light level."""
    return READ_NOISE ** 2 + SHOT_NOISE_GAIN * level


def shifted(plane, dy, dx, pad):
    """plane[y + dy, x + dx] for every pixel, from a plane padded by `pad` repeated edges."""
    return plane[pad + dy:pad + dy + HEIGHT, pad + dx:pad + dx + WIDTH]


# The filter stages, as docs/depth-library.md defines them. Each takes the pipeline (its
# parameters and the history it keeps between frames) and gives back its input unchanged
# when its level is 0.

# Window radius R and strength k^2 of the spatial filters, by level.
SPATIAL_LEVELS = {1: (1, 2.0), 2: (1, 4.0), 3: (1, 6.0), 4: (2, 6.0), 5: (2, 9.0)}
# Offsets K, distance tau (mm) and jump j of the flying-pixel removal, by level.
FLYING_LEVELS = {1: (1, 100.0, 0.3), 2: (1, 50.0, 0.2), 3: (2, 30.0, 0.1), 4: (2, 20.0, 0.08),
                 5: (2, 12.0, 0.05)}


def temporal_signal(pipeline, signals, variance, key):
    """Recursive filter on each frequency's complex signal, reset where the scene moved."""
    level = int(pipeline.parameters["TDenoiseLevel_Depth"])
    if level == 0:
        return signals
    state = pipeline.history.get("signal")
    if state is None or pipeline.history.get("signal key") != key:
        state = [z.copy() for z in signals]
    else:
        moved = sum(np.abs(z - s) ** 2 for z, s in zip(signals, state)) > \
            36.0 * len(signals) * variance
        alpha = np.where(moved, 1.0, 1.0 / (level + 1))
        state = [s + alpha * (z - s) for z, s in zip(signals, state)]
    pipeline.history["signal"] = state
    pipeline.history["signal key"] = key
    return state


def temporal_amplitude(pipeline, amplitude, variance, frequencies, key):
    """The same filter on the amplitude plane."""
    level = int(pipeline.parameters["TDenoiseLevel_Gray"])
    if level == 0:
        return amplitude
    state = pipeline.history.get("amplitude")
    if state is None or pipeline.history.get("amplitude key") != key:
        state = amplitude.copy()
    else:
        moved = (amplitude - state) ** 2 > 9.0 * variance / frequencies
        state = state + np.where(moved, 1.0, 1.0 / (level + 1)) * (amplitude - state)
    pipeline.history["amplitude"] = state
    pipeline.history["amplitude key"] = key
    return state


def spatial_signal(pipeline, signals, variance):
    """Bilateral filter on the complex signals, one set of weights for all frequencies.

    The weighted sum is not divided by the sum of weights: only its angle is used.
    """
    level = int(pipeline.parameters["SDenoiseLevel_Depth"])
    if level == 0:
        return signals
    radius, strength = SPATIAL_LEVELS[level]
    padded = [np.pad(z, radius, mode="edge") for z in signals]
    scale = 1.0 / (8.0 * strength * len(signals) * variance)
    sums = [np.zeros_like(z) for z in signals]
    for dy in range(-radius, radius + 1):
        for dx in range(-radius, radius + 1):
            neighbours = [shifted(z, dy, dx, radius) for z in padded]
            distance = sum(np.abs(n - z) ** 2 for n, z in zip(neighbours, signals))
            weight = np.maximum(0.0, 1.0 - distance * scale)
            for sum_, neighbour in zip(sums, neighbours):
                sum_ += weight * neighbour
    return sums


def spatial_amplitude(pipeline, amplitude, variance, frequencies):
    """The same window on the amplitude plane."""
    level = int(pipeline.parameters["SDenoiseLevel_Gray"])
    if level == 0:
        return amplitude
    radius, strength = SPATIAL_LEVELS[level]
    padded = np.pad(amplitude, radius, mode="edge")
    scale = frequencies / (strength * variance)
    weighted = np.zeros_like(amplitude)
    total = np.zeros_like(amplitude)
    for dy in range(-radius, radius + 1):
        for dx in range(-radius, radius + 1):
            neighbour = shifted(padded, dy, dx, radius)
            weight = np.maximum(0.0, 1.0 - (neighbour - amplitude) ** 2 * scale)
            weighted += weight * neighbour
            total += weight
    return weighted / total


def remove_flying_pixels(pipeline, depth, confidence):
    """Invalidates pixels that lie between two strongly differing neighbours on an axis."""
    level = int(pipeline.parameters["ERDOLvl"])
    if level == 0:
        return depth, confidence
    reach, tau, jump = FLYING_LEVELS[level]
    padded = np.pad(depth, reach, mode="edge")
    flying = np.zeros(depth.shape, dtype=bool)
    for k in range(1, reach + 1):
        for dy, dx in ((0, 1), (1, 0), (1, 1), (1, -1)):
            a = shifted(padded, -k * dy, -k * dx, reach)
            b = shifted(padded, k * dy, k * dx, reach)
            flying |= ((a > 0) & (b > 0) & (np.abs(a - b) > jump * np.maximum(a, b))
                       & (np.minimum(np.abs(depth - a), np.abs(depth - b)) > tau))
    flying &= depth > 0
    return np.where(flying, 0.0, depth), np.where(flying, 0.0, confidence)


class Pipeline:
    """One started handle's worth of numpy: parameters, calibration, history between frames."""

    def __init__(self, mode, calibration, parameters):
        self.single = mode == "single"
        self.calibration = calibration
        self.parameters = parameters
        self.history = {}

    def __call__(self, frame):
        """Depth, amplitude and confidence planes of one raw frame."""
        firsts = (0,) if self.single else (0, 5)
        headers = [frequency_and_temperature(frame, first) for first in firsts]
        pixels = frame[:, 1:, :].astype(np.float64)
        phases = [pixels[first:first + 4] for first in firsts]
        signals = [(s[0] - s[2]) + 1j * (s[1] - s[3]) for s in phases]
        means = [s.mean(axis=0) for s in phases]
        # Gray, and in double frequency the background: undemodulated exposures.
        undemodulated = pixels[4] if self.single else np.maximum(pixels[4], pixels[9])
        variance = noise_variance(np.maximum(np.maximum.reduce(means), undemodulated))
        nf = len(signals)
        key = tuple(hz for hz, _ in headers)

        # Confidence and saturation come from the unfiltered signal.
        confidences = [np.sqrt(0.5 * np.abs(z) ** 2
                               / noise_variance(np.maximum(mean, undemodulated)))
                       for z, mean in zip(signals, means)]
        amplitude = sum(0.5 * np.abs(z) for z in signals) / nf

        signals = temporal_signal(self, signals, variance, key)
        amplitude = temporal_amplitude(self, amplitude, variance, nf, key)
        signals = spatial_signal(self, signals, variance)
        amplitude = spatial_amplitude(self, amplitude, variance, nf)

        turns = [phase_turns(z, offsets_for(self.calibration, hz, temperature))
                 for z, (hz, temperature) in zip(signals, headers)]
        valid = ((pixels.max(axis=0) < 4095)
                 & (np.minimum.reduce(confidences) >= MIN_CONFIDENCE))
        if self.single:
            distance = turns[0] * LIGHT_MM_PER_S / (2 * headers[0][0])
            confidence = confidences[0]
        else:
            m0, m1, wraps, weights = frequency_pair(headers[0][0], headers[1][0])
            t0, t1 = turns
            # The whole turns: m1 n0 - m0 n1 = round(m0 t1 - m1 t0), n0 in 0..m0-1.
            e = m0 * t1 - m1 * t0
            r = np.rint(e)
            residual = e - r
            inverse = pow(m1, -1, m0) if m0 > 1 else 0
            n0 = np.mod(r * inverse, m0)
            n1 = (m1 * n0 - r) / m0
            distance = weights[0] * (n0 + t0) * wraps[0] + weights[1] * (n1 + t1) * wraps[1]
            distance = np.mod(distance, m0 * wraps[0])
            confidence = np.minimum(*confidences) * (1 - 2 * np.abs(residual))
            valid &= (confidence >= MIN_CONFIDENCE) & (np.abs(residual) <= 0.25)
        valid &= ((distance >= self.parameters["ValidDistMin"])
                  & (distance <= self.parameters["ValidDistMax"]))
        depth = np.where(valid, distance, 0.0)
        confidence = np.where(valid, confidence, 0.0)
        depth, confidence = remove_flying_pixels(self, depth, confidence)
        return depth, amplitude, confidence


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
        cpp = cpp_seconds("BM_DepthPipeline/single:%d/filters:%d/process_time"
                          % (mode == "single", case == "defaults"))
        rows.append((label, cpp, numpy_seconds))
        print("%s: over the %d frames, valid pixels %d (library) and %d (numpy), in both %d; "
              "largest depth difference there %.4f mm, over 1 mm at %d"
              % (label, len(sequence), np.count_nonzero(library), np.count_nonzero(reference),
                 np.count_nonzero(both), float(apart.max()) if apart.size else 0.0,
                 int(np.count_nonzero(apart > 1.0))))

    memory = {}
    for mode in SUB_FRAMES:
        entry = median("BM_MemoryReference/single:%d" % (mode == "single"))
        memory[mode] = (entry["cpu_time"] * unit[entry["time_unit"]], entry["bytes"])
    print("\n%-40s %9s %9s %9s %9s %9s %9s"
          % ("CPU time, 640 x 480", "library", "library", "numpy", "numpy", "speed-up",
             "memory"))
    print("%-40s %9s %9s %9s %9s %9s %9s" % ("", "ns/pixel", "frames/s", "ns/pixel", "frames/s",
                                            "vs numpy", "times"))
    for (mode, _), (label, cpp, numpy_seconds) in zip(CASES, rows):
        print("%-40s %9.2f %9.1f %9.2f %9.1f %8.1fx %8.1fx"
              % (label, cpp / PIXELS * 1e9, 1 / cpp, numpy_seconds / PIXELS * 1e9,
                 1 / numpy_seconds, numpy_seconds / cpp, cpp / memory[mode][0]))
    for mode, (seconds, size) in memory.items():
        print("%-40s %9.2f %9.1f   %.1f GB/s: samples in, three float planes out"
              % ("memory reference, %s frequency" % mode, seconds / PIXELS * 1e9, 1 / seconds,
                 size / seconds / 1e9))
    return 0


if __name__ == "__main__":
    sys.exit(main())
