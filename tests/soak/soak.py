#!/usr/bin/python3
"""Soak of the driver on the simulated board, through the Python module.

One thread streams frames while a second changes controls at random, stops and starts,
closes and reopens, and unplugs or stalls the camera (a fresh camera on a board with
`unplug=N` or `stall=N`; once its frames stop it is replaced by a fresh one, as a replugged
camera is reopened). The run cycles through both sensors, both transports and one and four
depth threads. It checks that timestamps only grow within a stream (so no frame is
delivered twice), that resident memory, the heap and the open descriptors stay flat after
warm-up, and prints one summary line. Exit status 0 when every check held.

Usage: soak.py MINUTES    (run by scripts/soak, which builds the module)
"""
import ctypes
import os
import random
import sys
import tempfile
import threading
import time

import ZelvoDepthCamera as zelvo

OK = zelvo.TOFErrorCode.ZelvoSuccess
CODES = set(zelvo.TOFErrorCode.__members__.values())
# Sensor, transport, depth threads: the two sensors alternate, so the warm-up sees both.
CONFIGURATIONS = [
    ("hqvga", "CSI", 1), ("vga", "CSI", 4), ("hqvga", "USB", 4), ("vga", "USB", 1),
    ("hqvga", "CSI", 4), ("vga", "CSI", 1), ("hqvga", "USB", 1), ("vga", "USB", 4),
]
BOARDS = ["rpi5", "rpi4", "rock5b", "jetson-nano"]  # all carry both sensors
WARM_UP_SLICES = 2
REQUEST_MS = 200
# Growth allowed after warm-up: the allocator's caches, not a leak of every frame.
RSS_SLACK_KB = 64 * 1024
# What stays allocated: a leak of one small block per frame or restart shows past this.
HEAP_SLACK_KB = 1024
FD_SLACK = 2


def resident_kb():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def sanitizer_heap():
    """The sanitizer's count of allocated bytes, None where no sanitizer runs."""
    allocated = getattr(ctypes.CDLL(None), "__sanitizer_get_current_allocated_bytes", None)
    if allocated is not None:
        allocated.restype = ctypes.c_size_t
    return allocated


def heap_counter():
    """What the process holds allocated on its heap now, in bytes: the sanitizer's count
    under AddressSanitizer, glibc's otherwise. Unlike the resident memory it leaves out
    what the allocator keeps of freed blocks and the sanitizer's own records."""
    allocated = sanitizer_heap()
    if allocated is not None:
        return allocated
    mallinfo2 = ctypes.CDLL("libc.so.6").mallinfo2
    mallinfo2.restype = _MallInfo2

    def glibc_heap():
        info = mallinfo2()
        return info.uordblks + info.hblkhd
    return glibc_heap


def hold_depth_library():
    """Under AddressSanitizer, keeps the depth library loaded for the whole run.

    The VGA device loads it for each camera and unloads it at close, and the sanitizer keeps
    records of every load (about 160 kB each, the library's globals and the stack traces at
    its new addresses) that would grow the resident memory by what the driver does not hold.
    The driver still loads and unloads it; the last unload just never comes. Returns the
    handle, None where no sanitizer runs."""
    if sanitizer_heap() is None:
        return None
    # The build folder is on the library path (scripts/soak): the same file the driver
    # loads by its soname.
    return ctypes.CDLL(os.environ.get("ZELVO_DEPTH_LIBRARY") or "libzelvo_depth.so")


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


class Totals:
    def __init__(self):
        self.frames = self.controls = self.restarts = self.unplugs = self.stalls = 0
        self.failures = []

    def fail(self, text):
        if len(self.failures) < 20:
            self.failures.append(text)


class Rig:
    """The current camera of one configuration and its stream, shared by both threads."""

    def __init__(self, sensor, connect, totals, rng):
        self.sensor, self.connect, self.totals, self.rng = sensor, connect, totals, rng
        self.lock = threading.Lock()
        self.camera = None
        self.streaming = False
        self.last_stamp = None
        self.misses = 0
        self.fault = None  # "unplug" or "stall" while the current camera carries one
        self.seed = 0

    # Lifecycle: called with the lock held.
    def make_camera(self, fault=None):
        self.drop_camera()
        self.seed += 1
        settings = "board=%s,sensor=%s,seed=%d" % (BOARDS[self.seed % len(BOARDS)],
                                                  self.sensor, self.seed)
        if fault:
            settings += ",%s=%d" % (fault, self.rng.randint(8, 60))
        os.environ["ZELVO_SIM"] = settings
        self.camera = zelvo.ZelvoCamera()
        self.fault = fault
        code = self.camera.open(getattr(zelvo.TOFConnect, self.connect), 0)
        if code != OK:
            self.totals.fail("open %s: %s" % (settings, code.name))
            return
        self.start()

    def start(self):
        output = self.rng.choice([zelvo.TOFOutput.DEPTH, zelvo.TOFOutput.RAW])
        code = self.camera.start(output)
        self.streaming = code == OK
        self.last_stamp = None  # a new stream
        self.misses = 0
        if code != OK and not self.fault:
            self.totals.fail("start: %s" % code.name)

    def stop(self):
        if self.streaming:
            code = self.camera.stop()
            if code != OK and not self.fault:  # a camera gone away answers with its code
                self.totals.fail("stop: %s" % code.name)
        self.streaming = False

    def drop_camera(self):
        if self.camera is None:
            return
        self.stop()
        self.camera.close()
        self.camera = None

    def stream_once(self):
        with self.lock:
            if not self.streaming:
                return False
            frame = self.camera.requestFrame(REQUEST_MS)
            if frame is None:
                self.misses += 1
                return True
            stamp = frame.getFrameFormat().timestamp
            if self.last_stamp is not None and stamp <= self.last_stamp:
                self.totals.fail("timestamp %d after %d in one stream" % (stamp, self.last_stamp))
            self.last_stamp = stamp
            self.misses = 0
            self.totals.frames += 1
            if self.camera.releaseFrame(frame) != OK:
                self.totals.fail("releaseFrame refused a frame it delivered")
            return True


def change_control(rig):
    camera = rig.camera
    if camera is None:
        return
    rng = rig.rng
    if rig.sensor == "hqvga":
        control, value = rng.choice([
            (zelvo.TOFControl.RANGE, rng.choice([2000, 4000])),
            (zelvo.TOFControl.FRAME_RATE, rng.randint(1, 30)),
            (zelvo.TOFControl.EXPOSURE, rng.randint(1, 4000)),
            (zelvo.TOFControl.SKIP_FRAME, rng.randint(0, 1)),
        ])
    else:
        control, value = rng.choice([
            (zelvo.TOFControl.MODE, rng.randint(0, 1)),
            (zelvo.TOFControl.FRAME_RATE, rng.randint(1, 15)),
            (zelvo.TOFControl.EXPOSURE, rng.randint(1, 4000)),
        ])
    code = camera.setControl(control, value)  # concurrent with the streaming thread
    if code not in CODES:
        rig.totals.fail("setControl answered %r" % (code,))
    camera.getControl(control)
    rig.totals.controls += 1


def disturb(rig, until):
    """The second thread: random controls and lifecycle until the slice ends."""
    rng, totals = rig.rng, rig.totals
    while time.monotonic() < until:
        time.sleep(rng.uniform(0.02, 0.3))
        if rig.fault and (rig.misses >= 3 or not rig.streaming):
            # The camera went away or stopped sending: a fresh one, as after a replug.
            with rig.lock:
                if rig.fault == "unplug":
                    totals.unplugs += 1
                else:
                    totals.stalls += 1
                rig.make_camera()
            continue
        roll = rng.random()
        if roll < 0.70:
            change_control(rig)
            continue
        with rig.lock:
            if roll < 0.85:
                rig.stop()
                rig.start()
            elif roll < 0.95:
                rig.stop()
                rig.camera.close()
                code = rig.camera.open(getattr(zelvo.TOFConnect, rig.connect), 0)
                if code != OK and not rig.fault:
                    totals.fail("reopen: %s" % code.name)
                else:
                    rig.start()
            elif not rig.fault:
                rig.make_camera(rng.choice(["unplug", "stall"]))
            totals.restarts += 1


def run_slice(configuration, seconds, totals, rng):
    sensor, connect, threads = configuration
    os.environ["ZELVO_DEPTH_THREADS"] = str(threads)
    rig = Rig(sensor, connect, totals, rng)
    with rig.lock:
        rig.make_camera()
    until = time.monotonic() + seconds
    errors = []

    def guarded(work):
        try:
            work()
        except Exception as error:  # noqa: BLE001 - reported in the summary
            errors.append(repr(error))

    def streaming():
        while time.monotonic() < until:
            if not rig.stream_once():
                time.sleep(0.01)

    threads_ = [threading.Thread(target=guarded, args=(streaming,)),
                threading.Thread(target=guarded, args=(lambda: disturb(rig, until),))]
    for thread in threads_:
        thread.start()
    for thread in threads_:
        thread.join()
    with rig.lock:
        rig.drop_camera()
    for error in errors:
        totals.fail("%s %s: %s" % (sensor, connect, error))


def main():
    minutes = float(sys.argv[1]) if len(sys.argv) > 1 else 2.0
    total = minutes * 60.0
    slice_seconds = max(5.0, min(30.0, total / len(CONFIGURATIONS)))
    rng = random.Random(int(os.environ.get("ZELVO_SOAK_SEED", "1")))
    totals = Totals()
    os.chdir(tempfile.mkdtemp(prefix="zelvo-soak-"))  # VGA starts write files here
    began = time.monotonic()
    heap_bytes = heap_counter()
    depth_library = hold_depth_library()  # noqa: F841 - held until the process ends
    rss_start = fds_start = heap_start = None
    slices = 0
    while slices < WARM_UP_SLICES or time.monotonic() - began < total:
        run_slice(CONFIGURATIONS[slices % len(CONFIGURATIONS)], slice_seconds, totals, rng)
        slices += 1
        if slices == WARM_UP_SLICES:
            rss_start, fds_start = resident_kb(), open_descriptors()
            heap_start = heap_bytes() // 1024
    rss_end, fds_end, heap_end = resident_kb(), open_descriptors(), heap_bytes() // 1024
    if rss_end - rss_start > RSS_SLACK_KB + rss_start // 10:
        totals.fail("resident memory grew from %d kB to %d kB" % (rss_start, rss_end))
    if heap_end - heap_start > HEAP_SLACK_KB + heap_start // 10:
        totals.fail("the heap grew from %d kB to %d kB" % (heap_start, heap_end))
    if fds_end - fds_start > FD_SLACK:
        totals.fail("open descriptors grew from %d to %d" % (fds_start, fds_end))
    if totals.frames == 0:
        totals.fail("no frame delivered")
    print("soak: %.1f min, %d slices, frames %d, control changes %d, restarts %d, unplugs %d, "
          "stalls %d, RSS %d kB -> %d kB, heap %d kB -> %d kB, descriptors %d -> %d: %s"
          % ((time.monotonic() - began) / 60.0, slices, totals.frames, totals.controls,
             totals.restarts, totals.unplugs, totals.stalls, rss_start, rss_end, heap_start,
             heap_end, fds_start, fds_end, "ok" if not totals.failures else "FAILED"),
          flush=True)
    for failure in totals.failures:
        print("soak: " + failure, file=sys.stderr)
    return 1 if totals.failures else 0


if __name__ == "__main__":
    sys.exit(main())
