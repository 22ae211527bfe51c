"""`zelvo view` on the simulated board: its binary frames, its WebSocket and page as a client
sees them, and the page itself in headless Chromium, driven over the DevTools protocol."""
import asyncio
import base64
import contextlib
import io
import json
import os
import pathlib
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile

import numpy as np
import pytest

from conftest import MODULE_DIR, REPO, SUBPROCESS_TIMEOUT_S

# The package beside the module the build made, else the source tree's.
PACKAGE_PATH = MODULE_DIR if os.path.isdir(os.path.join(MODULE_DIR, "zelvo")) \
    else str(REPO / "tools")
if PACKAGE_PATH not in sys.path:
    sys.path.insert(0, PACKAGE_PATH)
from zelvo.viewer import protocol  # noqa: E402

# Generous: the server and Chromium start slowly under AddressSanitizer on a busy machine.
START_TIMEOUT_S = 120
PAGE_TIMEOUT_S = 120
HQVGA_ROOM = "board=rpi5,sensor=hqvga,scene=room"
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-extensions", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--window-size=1400,900", "--remote-debugging-port=0",
]


def decode_frame(message):
    """The inverse of protocol.encode_frame, as the page reads it."""
    magic, width, height, sequence, age, rate, range_mm, level = \
        protocol.FRAME_HEADER.unpack_from(message)
    assert magic == b"ZVF1"
    pixels = width * height
    start = protocol.FRAME_HEADER.size
    assert len(message) == start + 3 * pixels
    depth = np.frombuffer(message, "<u2", pixels, start).reshape(height, width)
    amplitude = np.frombuffer(message, np.uint8, pixels, start + 2 * pixels)
    return dict(sequence=sequence, age=age, rate=rate, range_mm=range_mm, level=level,
                depth=depth, amplitude=amplitude.reshape(height, width))


def decode_rays(message):
    magic, width, height = protocol.RAYS_HEADER.unpack_from(message)
    assert magic == b"ZVR1"
    return np.frombuffer(message, "<f4", offset=protocol.RAYS_HEADER.size).reshape(
        height, width, 3)


@pytest.mark.parametrize("depth, expected", [
    (1499.6, 1500), (0.4, 0), (np.nan, 0), (-20.0, 0), (np.inf, 0), (70000.0, 65535),
])
def test_frame_message_quantises_depth(depth, expected):
    planes = np.full((3, 4), 1000.0, np.float32), np.full((3, 4), 50.0, np.float32)
    planes[0][1, 2] = depth
    frame = decode_frame(protocol.encode_frame(*planes, 7, None, 29.5, 4000))
    assert frame["depth"][1, 2] == expected
    assert frame["depth"][0, 0] == 1000  # the neighbours are untouched
    assert (frame["sequence"], frame["age"], frame["range_mm"]) == (7, protocol.NO_AGE, 4000)
    assert frame["rate"] == pytest.approx(29.5)


def test_frame_message_scales_amplitude_to_its_bright_level():
    depth = np.full((40, 40), 1000.0, np.float32)
    amplitude = np.tile(np.linspace(0, 200, 40, dtype=np.float32), (40, 1))
    amplitude[5, 5] = 1e6  # one glint does not darken the image
    amplitude[6, 6] = np.nan
    frame = decode_frame(protocol.encode_frame(depth, amplitude, 1, 12.5, 30, 2000))
    assert frame["age"] == 12500
    assert frame["level"] < 250
    expected = np.clip(np.nan_to_num(amplitude) * 255 / frame["level"], 0, 255)
    # Truncated in single precision, against a level that the header rounds.
    np.testing.assert_allclose(frame["amplitude"], expected, atol=1.0)
    assert frame["amplitude"][:, -1].min() == 255 and frame["amplitude"][:, 0].max() == 0


def child_env(sim):
    env = dict(os.environ, ZELVO_SIM=sim, PYTHONUNBUFFERED="1")
    env["PYTHONPATH"] = os.pathsep.join(
        [MODULE_DIR, PACKAGE_PATH] + ([env["PYTHONPATH"]] if env.get("PYTHONPATH") else []))
    return env


def run_view(sim, *arguments):
    with tempfile.TemporaryDirectory() as folder:
        return subprocess.run([sys.executable, "-m", "zelvo", "view", *arguments], cwd=folder,
                              env=child_env(sim), capture_output=True, text=True,
                              timeout=START_TIMEOUT_S)


@contextlib.contextmanager
def view_server(sim, *arguments):
    """Runs `zelvo view --port 0` and yields its address (http://host:port/); stops it with Ctrl-C and checks
    that it stopped cleanly."""
    # In a folder of its own: a VGA camera writes its configuration files where it runs.
    folder = tempfile.TemporaryDirectory()
    child = subprocess.Popen([sys.executable, "-m", "zelvo", "view", "--port", "0", *arguments],
                             env=child_env(sim), text=True, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, cwd=folder.name)
    try:
        ready, _, _ = select.select([child.stdout], [], [], START_TIMEOUT_S)
        line = child.stdout.readline() if ready else ""
        assert " on http://" in line, "zelvo view did not start: %r %s" % (
            line, child.stderr.read() if child.poll() is not None else "")
        yield line.split(" on ")[1].split()[0]
        child.send_signal(signal.SIGINT)
        _, errors = child.communicate(timeout=SUBPROCESS_TIMEOUT_S)
        assert child.returncode == 0, errors
        assert "Traceback" not in errors and errors.strip().endswith("zelvo view: stopped"), errors
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
        folder.cleanup()


async def next_message(socket_, kind, timeout=PAGE_TIMEOUT_S):
    """The next text message of type `kind` (a dict) or binary message with magic `kind`."""
    async def receive():
        while True:
            message = await socket_.receive()
            if isinstance(message.data, bytes) and message.data[:4] == b"ZVF1":
                await socket_.send_json({"type": "drawn"})  # as the page does
            if isinstance(message.data, bytes) and message.data[:4] == kind:
                return message.data
            if isinstance(message.data, str) and json.loads(message.data)["type"] == kind:
                return json.loads(message.data)
            assert message.type.name in ("TEXT", "BINARY"), message
    return await asyncio.wait_for(receive(), timeout)


def centre_depth(frame):
    height, width = frame["depth"].shape
    return np.median(frame["depth"][height // 2 - 2:height // 2 + 2, width // 2 - 2:width // 2 + 2])


@pytest.mark.parametrize("sim, connect, device, size, change, follows", [
    # HQVGA takes a new range while it streams; the depth wraps at it.
    (HQVGA_ROOM, "USB", "HQVGA", (240, 180), ("RANGE", 2000), {"RANGE": 2000}),
    # VGA takes its frequency mode only while stopped: the viewer restarts the stream, and
    # single frequency wraps the wall at 1250 mm.
    ("board=rpi5,sensor=vga,scene=wall:1500,noise=0,fpn=0", "CSI", "VGA", (640, 480),
     ("MODE", 0), {"MODE": 0, "RANGE": 1250}),
])
def test_websocket_serves_frames_and_changes_controls(sim, connect, device, size, change,
                                                      follows):
    import aiohttp

    async def session(url):
        async with aiohttp.ClientSession() as client:
            async with client.get(url) as page:
                assert page.status == 200 and "static/viewer.js" in await page.text()
            for script in ("viewer.js", "protocol.js", "images.js", "cloud.js", "viewer.css"):
                async with client.get(url + "static/" + script) as response:
                    assert response.status == 200, script
            async with client.ws_connect(url + "ws", max_msg_size=0) as ws:
                hello = await next_message(ws, "hello")
                assert (hello["meta"]["device_type"], hello["meta"]["connection"]) \
                    == (device, connect)
                assert (hello["meta"]["width"], hello["meta"]["height"]) == size
                assert "RANGE" in hello["controls"] and "SINGLE_FREQ" in hello["choices"]["MODE"]
                rays = decode_rays(await next_message(ws, b"ZVR1"))
                assert rays.shape == (size[1], size[0], 3)
                np.testing.assert_allclose(np.linalg.norm(rays, axis=-1), 1, atol=1e-5)
                frames = [decode_frame(await next_message(ws, b"ZVF1")) for _ in range(2)]
                assert frames[1]["sequence"] > frames[0]["sequence"]
                assert frames[1]["range_mm"] == hello["controls"]["RANGE"]
                assert frames[1]["amplitude"].max() > 0
                if device == "VGA":  # a noiseless wall at 1.5 m, along the centre ray
                    assert abs(centre_depth(frames[1]) - 1500) < 10
                else:  # the room's back wall, 3 m away
                    assert 2500 < frames[1]["depth"].max() < 4000

                await ws.send_json({"type": "set", "control": "NO_SUCH", "value": 1})
                refused = await next_message(ws, "result")
                assert not refused["ok"] and "NO_SUCH" in refused["text"]
                await ws.send_json({"type": "set", "control": change[0], "value": change[1]})
                result = await next_message(ws, "result")
                assert result["ok"], result
                controls = (await next_message(ws, "controls"))["controls"]
                assert {name: controls[name] for name in follows} == follows
                frame = decode_frame(await next_message(ws, b"ZVF1"))
                assert frame["range_mm"] == controls["RANGE"]
                if device == "VGA":
                    assert abs(centre_depth(frame) - (1500 - 1250)) < 10
                else:
                    assert 1000 < frame["depth"].max() <= 2000
                await ws.send_json({"type": "ping", "t": 42.5})
                assert (await next_message(ws, "pong"))["t"] == 42.5

    with view_server(sim, "--connect", connect) as url:
        asyncio.run(session(url))


def test_a_page_that_draws_nothing_gets_no_more_frames_than_it_may_hold():
    import aiohttp

    async def session(url):
        async with aiohttp.ClientSession() as client:
            async with client.ws_connect(url + "ws", max_msg_size=0) as ws:
                sequences = []
                while len(sequences) < 3:
                    try:
                        message = await ws.receive(timeout=3.0 if sequences else PAGE_TIMEOUT_S)
                    except asyncio.TimeoutError:
                        break  # nothing more while nothing is drawn
                    if isinstance(message.data, bytes) and message.data[:4] == b"ZVF1":
                        sequences.append(decode_frame(message.data)["sequence"])
                assert len(sequences) == 2, sequences
                await ws.send_json({"type": "drawn"})
                newest = decode_frame(await next_message(ws, b"ZVF1"))
                assert newest["sequence"] > sequences[-1] + 1  # the frames between are dropped

    with view_server(HQVGA_ROOM) as url:
        asyncio.run(session(url))


def test_view_reports_a_port_in_use_and_a_bad_port():
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        busy = run_view(HQVGA_ROOM, "--port", str(port))
    assert busy.returncode == 1
    assert busy.stderr.startswith("zelvo view: cannot listen on 127.0.0.1 port %d" % port)
    assert len(busy.stderr.strip().splitlines()) == 1, busy.stderr
    bad = run_view(HQVGA_ROOM, "--port", "70000")
    assert bad.returncode == 2 and "Traceback" not in bad.stderr


# --- the page in a browser


def chromium_program():
    found = os.environ.get("ZELVO_CHROMIUM") or shutil.which("chromium") \
        or shutil.which("chromium-browser")
    if not found:
        pytest.skip("no chromium to load the viewer's page (scripts/setup installs it)")
    return found


class DevTools:
    """The least of the DevTools protocol: commands on one page, and its exceptions."""

    def __init__(self, socket_):
        self.socket = socket_
        self.next_id = 0
        self.exceptions = []

    async def call(self, method, **params):
        self.next_id += 1
        await self.socket.send_json({"id": self.next_id, "method": method, "params": params})
        while True:
            reply = json.loads((await self.socket.receive()).data)
            if reply.get("method") == "Runtime.exceptionThrown":
                self.exceptions.append(reply["params"]["exceptionDetails"])
            if reply.get("id") == self.next_id:
                assert "error" not in reply, reply
                return reply["result"]

    async def evaluate(self, expression):
        result = await self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        assert "exceptionDetails" not in result, result
        return result["result"].get("value")

    async def wait_for(self, expression, what):
        for _ in range(PAGE_TIMEOUT_S * 10):
            if await self.evaluate(expression):
                return
            await asyncio.sleep(0.1)
        raise AssertionError("the page never showed %s; it shows %s" % (what, await self.evaluate(
            "JSON.stringify({...window.zelvoViewer, results: undefined})")))


@contextlib.contextmanager
def chromium(url, folder):
    """Headless Chromium on `url`, without the sanitizer runtime the tests may preload."""
    env = {key: value for key, value in os.environ.items()
           if key not in ("LD_PRELOAD", "LD_LIBRARY_PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
    profile = folder / "profile"
    profile.mkdir()
    with open(folder / "chromium.log", "w") as log:
        browser = subprocess.Popen([chromium_program(), *CHROMIUM_FLAGS,
                                    "--user-data-dir=%s" % profile, url],
                                   env=env, stdout=log, stderr=log)
    try:
        yield profile / "DevToolsActivePort"
    finally:
        browser.terminate()
        try:
            browser.wait(timeout=SUBPROCESS_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            browser.kill()
            browser.wait()


async def open_page(client, port_file):
    for _ in range(START_TIMEOUT_S * 10):
        lines = port_file.read_text().split("\n") if port_file.exists() else []
        if len(lines) > 1 and lines[0]:
            break
        await asyncio.sleep(0.1)
    else:
        raise AssertionError("chromium did not start: see chromium.log")
    async with client.get("http://127.0.0.1:%s/json/list" % lines[0]) as response:
        pages = [target for target in await response.json() if target["type"] == "page"]
    return await client.ws_connect(pages[0]["webSocketDebuggerUrl"], max_msg_size=0)


def region(screenshot, rect):
    box = [round(v * rect["scale"]) for v in (rect["x"], rect["y"], rect["x"] + rect["width"],
                                               rect["y"] + rect["height"])]
    return np.asarray(screenshot.crop(box).convert("RGB")).reshape(-1, 3)


def test_page_shows_depth_and_cloud_and_changes_a_control(tmp_path):
    import aiohttp
    from PIL import Image
    chromium_program()

    async def drive(port_file):
        async with aiohttp.ClientSession() as client:
            page = DevTools(await open_page(client, port_file))
            await page.call("Runtime.enable")
            await page.wait_for("window.zelvoViewer && zelvoViewer.drawn >= 3", "frames")
            three = await page.evaluate("zelvoViewer.cloud")
            if three == "unavailable" and not os.path.isdir(os.path.join(
                    PACKAGE_PATH, "zelvo", "viewer", "static", "vendor")):
                pytest.skip("the build has no 3-D library (configured ZELVO_VIEWER_ASSETS=OFF)")
            await page.wait_for("zelvoViewer.lastFrame.cloudPoints > 20000", "a point cloud")
            before = await page.evaluate("zelvoViewer.lastFrame")
            # The room's back wall stands beyond 2 m: a 2000 mm range wraps it.
            assert before["rangeMm"] == 4000 and before["maxDepthMm"] > 2500, before

            await page.evaluate("document.getElementById('control-RANGE').value = '2000';"
                                "document.getElementById('set-RANGE').click()")
            await page.wait_for("zelvoViewer.controls.RANGE === 2000",
                                "the range the camera reads back")
            await page.wait_for("zelvoViewer.lastFrame.rangeMm === 2000 && "
                                "zelvoViewer.lastFrame.sequence > %d" % (before["sequence"] + 2),
                                "frames of the new range")
            after = await page.evaluate("zelvoViewer.lastFrame")
            assert 1000 < after["maxDepthMm"] <= 2000, after
            assert await page.evaluate("document.getElementById('value-RANGE').textContent") \
                == "2000"
            assert await page.evaluate("zelvoViewer.results.at(-1).ok") is True

            rects = await page.evaluate(
                "Object.fromEntries(['depth', 'cloud'].map(id => {"
                "const r = document.getElementById(id).getBoundingClientRect();"
                "return [id, {x: r.x, y: r.y, width: r.width, height: r.height,"
                "             scale: devicePixelRatio}]}))")
            shot = await page.call("Page.captureScreenshot", format="png")
            assert not page.exceptions, page.exceptions
            await page.socket.close()
            return rects, base64.b64decode(shot["data"])

    with view_server(HQVGA_ROOM) as url:
        with chromium(url, tmp_path) as port_file:
            rects, png = asyncio.run(drive(port_file))
    (tmp_path / "viewer.png").write_bytes(png)
    screenshot = Image.open(io.BytesIO(png))

    depth = region(screenshot, rects["depth"])
    assert (depth.max(axis=1) > 30).mean() > 0.9, "the depth image is mostly black"
    assert len(np.unique(depth // 16, axis=0)) > 20, "the depth image has hardly any colours"
    cloud = region(screenshot, rects["cloud"])
    lit = np.abs(cloud.astype(int) - (5, 6, 8)).max(axis=1) > 40
    assert 0.03 < lit.mean() < 0.95, "the 3-D view shows no point cloud (%.3f lit)" % lit.mean()
    assert len(np.unique(cloud[lit] // 16, axis=0)) > 10, "the point cloud has one colour"
