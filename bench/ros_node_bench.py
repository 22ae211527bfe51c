#!/usr/bin/python3
"""What the ROS node costs beyond the depth itself, on the simulated VGA camera in double
frequency (the heaviest stream), on one core. Not a test: it prints figures.

    PYTHONPATH=build/release/python bench/ros_node_bench.py [--seconds S] [--no-node]

1. The depth's own cost: CPU time per frame of a process that only streams depth frames
   (the capture, the simulated sensor and the depth library; `zelvo.Camera.frames`).
2. The node's work per frame, in this process: the conversion to messages (Z, points,
   camera info), the ROS 1 messages and their serialisation, which rospy does once per
   publish whatever the number of subscribers.
3. The node itself (unless --no-node): a roscore on loopback, the node streaming and
   publishing every topic to subscribers in this process; its CPU time per published frame
   and whether it keeps up with the sensor: its CPU time per frame times the
   sensor's frame rate is the share of one core it needs.
The simulated sensor renders its frames in the same process, so (1) and (3) hold its cost
too; (2) is the node's own.
The node's process is pinned to one core (taskset) when it can be.
"""
import argparse
import io
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

SIM = "board=rpi5,sensor=vga,scene=room"
TOPICS = ("depth/image_raw", "amplitude/image_raw", "confidence/image_raw",
          "depth/camera_info", "depth/points")


def cpu_seconds(pid=None):
    """CPU time (user and system, all threads) of this process or of `pid`."""
    if pid is None:
        return time.process_time()
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def depth_cost(camera, seconds):
    """(CPU seconds per frame, frames per second) of streaming depth only."""
    frames = camera.frames(timeout_s=10.0)
    next(frames)  # started and warm
    count, start_cpu, start = 0, cpu_seconds(), time.monotonic()
    while time.monotonic() - start < seconds:
        next(frames)
        count += 1
    return (cpu_seconds() - start_cpu) / count, count / (time.monotonic() - start)


def conversion_cost(camera, repeats):
    """CPU seconds per frame of converting one frame to messages and serialising them."""
    from zelvo.ros import messages, ros1
    frame = next(camera.frames(timeout_s=10.0))
    camera.stop()  # the capture thread's work is not the conversion's
    converter = messages.Converter(camera.intrinsics)
    start = cpu_seconds()
    for index in range(repeats):
        for record in converter.depth_frame(frame, index).values():
            ros1.message(record).serialize(io.BytesIO())
    return (cpu_seconds() - start) / repeats


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def node_cost(seconds, folder):
    """(node CPU seconds per published frame, its share of a core, published frames per
    second) with every topic subscribed."""
    import rosgraph
    import rospy
    port = free_port()
    os.environ.update({"ROS_MASTER_URI": "http://127.0.0.1:%d" % port, "ROS_IP": "127.0.0.1",
                       "ROS_HOME": folder, "ROS_LOG_DIR": os.path.join(folder, "log")})
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    core = subprocess.Popen(["roscore", "-p", str(port)], **quiet)
    node = None
    try:
        while not rosgraph.is_master_online():
            time.sleep(0.2)
        one_core = ["taskset", "-c", "0"] if _has("taskset") else []
        node = subprocess.Popen(one_core + [sys.executable, "-m", "zelvo.ros"], cwd=folder,
                                **quiet)
        rospy.init_node("zelvo_bench", anonymous=True, disable_signals=True)
        heard = []
        for topic in TOPICS:  # AnyMsg: this process does not decode what it hears
            rospy.Subscriber("/zelvo_camera/" + topic, rospy.AnyMsg,
                             (lambda _m, t=topic: heard.append(t)) if topic == TOPICS[0]
                             else (lambda _m: None), queue_size=10)
        deadline = time.monotonic() + 60
        while len(heard) < 10:
            if time.monotonic() > deadline or node.poll() is not None:
                raise SystemExit("ros_node_bench: the node publishes nothing")
            time.sleep(0.1)
        count0, cpu0, start = len(heard), cpu_seconds(node.pid), time.monotonic()
        time.sleep(seconds)
        frames, cpu = len(heard) - count0, cpu_seconds(node.pid) - cpu0
        wall = time.monotonic() - start
        return cpu / max(frames, 1), cpu / wall, frames / wall
    finally:
        if node is not None:
            node.send_signal(signal.SIGINT)
            node.wait(60)
        core.send_signal(signal.SIGINT)
        core.wait(60)


def _has(program):
    return any(os.access(os.path.join(d, program), os.X_OK)
               for d in os.environ.get("PATH", "").split(os.pathsep))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--no-node", action="store_true", help="skip the node's own run")
    args = parser.parse_args()
    os.environ.setdefault("ZELVO_SIM", SIM)
    from zelvo.camera import Camera
    with tempfile.TemporaryDirectory(prefix="zelvo-ros-bench-") as folder:
        os.chdir(folder)  # the VGA device writes its configuration here
        with Camera(mode="double") as camera:
            print("camera: %s %d x %d, %s frequency, %d fps (ZELVO_SIM=%s)"
                  % (camera.device_type, camera.width, camera.height, camera.mode,
                     camera.frame_rate, os.environ["ZELVO_SIM"]))
            sensor_rate = camera.frame_rate
            depth, rate = depth_cost(camera, args.seconds)
            print("depth alone:        %6.2f ms CPU per frame at %.1f fps" % (depth * 1e3, rate))
            extra = conversion_cost(camera, 30)
            print("node's work:        %6.2f ms CPU per frame (conversion, ROS messages and "
                  "their serialisation): %.2f x the depth's" % (extra * 1e3, extra / depth))
        if args.no_node:
            return 0
        per_frame, share, published = node_cost(args.seconds, folder)
        print("node, all topics:   %6.2f ms CPU per published frame (capture, depth, "
              "conversion, publishing)" % (per_frame * 1e3))
        # CPU time per frame decides, not the rate seen here: on a busy machine the
        # simulated sensor slows down with everything else.
        needed = per_frame * sensor_rate
        print("keeps up:           %s: at the sensor's %d fps the node needs %.0f %% of one "
              "core (here it used %.0f %% and published %.1f fps)"
              % ("yes" if needed < 1.0 else "NO", sensor_rate, needed * 100, share * 100,
                 published))
    return 0


if __name__ == "__main__":
    sys.exit(main())
