"""The server of `zelvo view`: one page, its scripts, and a WebSocket that carries the frames.

One capture thread owns the camera: it reads frames, turns each into one binary message
(protocol.py) only while somebody watches, and makes every camera call, including the
control changes the pages ask for, between two frames. The event loop hands each client the
newest message: a page that has not yet drawn the frames it was sent gets the next one only
then, and a newer frame replaces one still waiting, so a slow page drops frames instead of
queueing them.
"""
import asyncio
import collections
import json
import os
import queue
import signal
import threading
import time

from aiohttp import WSMsgType, web

from zelvo.errors import FrameTimeout, ToolError
from zelvo.geometry import unit_rays
from zelvo.viewer import protocol

HERE = os.path.dirname(os.path.abspath(__file__))
STATIC = os.path.join(HERE, "static")
VENDOR_MARKER = "three.module.min.js"

# A stream that delivers nothing for this long is reported on the page (and then waited for).
STALL_S = 2.0
# Text messages (control results, statistics) a client may have pending before it is
# considered gone; frames never queue.
MAX_PENDING_TEXTS = 64
# Frames a page may have received and not yet drawn (it acknowledges each one it draws):
# beyond these the newest frame waits for it, so frames never pile up in socket buffers.
MAX_FRAMES_IN_FLIGHT = 2
# The frame rate is measured over this many seconds of arrivals.
RATE_WINDOW_S = 2.0
# Frames whose last sub-frame arrived this soon after a control change may have begun
# before it (an HQVGA frame's sub-frames arrive within 20 ms).
SETTLE_MS = 30.0
# Enumerations whose names the page offers for a control.
CONTROL_CHOICES = {"MODE": "TofWorkMode", "FRAME_MODE": "TofFrameWorkMode"}


def vendor_dir():
    """Where the build put the 3-D library: in the package's own copy, or, when the package
    is imported from the source tree, beside the module the build made. None when absent."""
    candidates = [os.path.join(STATIC, "vendor")]
    try:
        import ZelvoDepthCamera
        candidates.append(os.path.join(os.path.dirname(os.path.abspath(ZelvoDepthCamera.__file__)),
                                       "zelvo", "viewer", "static", "vendor"))
    except ImportError:
        pass
    for candidate in candidates:
        if os.path.isfile(os.path.join(candidate, VENDOR_MARKER)):
            return candidate
    return None


def control_choices():
    import ZelvoDepthCamera
    return {control: {name: int(member) for name, member in
                      getattr(ZelvoDepthCamera, enumeration).__members__.items()}
            for control, enumeration in CONTROL_CHOICES.items()}


class FrameSource(threading.Thread):
    """The capture thread. `publish(kind, payload)` is called from this thread with
    ("frame", bytes), ("rays", bytes), ("controls", dict) and ("status", text)."""

    def __init__(self, camera, publish):
        super().__init__(name="zelvo-view-capture", daemon=True)
        self.camera = camera
        self.publish = publish
        self.watching = threading.Event()  # set while at least one page is connected
        self.stopping = threading.Event()
        self.commands = queue.SimpleQueue()
        self.rays = None  # the last rays message, for pages that connect later
        self.controls = camera.controls()
        self._arrivals = collections.deque()
        # Frames stamped before this time (ms, monotonic clock) were taken before the last
        # control change and are not shown with its values.
        self._settled_ms = 0
        self._ray_shape = None

    def set_control(self, name, value, reply):
        """Queues a control change; `reply(ok, text)` is called from this thread."""
        self.commands.put((name, value, reply))

    def stop(self):
        self.stopping.set()

    def run(self):
        try:
            self._capture()
        except ToolError as error:
            self.publish("status", "capture stopped: %s" % error)
        except Exception as error:  # shown on the page; the server keeps serving it
            self.publish("status", "capture stopped: %s: %s" % (type(error).__name__, error))

    def _capture(self):
        frames = None
        sequence = 0
        try:
            while not self.stopping.is_set():
                self._apply_commands()
                if frames is None:
                    frames = self.camera.frames(timeout_s=STALL_S)
                try:
                    frame = next(frames)
                except FrameTimeout:
                    frames = None
                    self.publish("status", "no frame from the camera for %g s" % STALL_S)
                    continue
                arrival = time.monotonic()
                sequence += 1
                rate = self._rate(arrival)
                if not self.watching.is_set() or frame.timestamp < self._settled_ms:
                    continue
                height, width = frame.depth.shape
                if self._ray_shape != (height, width):
                    self._send_rays(width, height)
                age_ms = arrival * 1000.0 - frame.timestamp
                self.publish("frame", protocol.encode_frame(
                    frame.depth, frame.amplitude, sequence,
                    age_ms if 0 <= age_ms < protocol.AGE_LIMIT_MS else None,
                    rate, self.controls.get("RANGE", 0)))
        finally:
            if frames is not None:
                frames.close()

    def _rate(self, now):
        arrivals = self._arrivals
        arrivals.append(now)
        while arrivals[0] < now - RATE_WINDOW_S:
            arrivals.popleft()
        span = arrivals[-1] - arrivals[0]
        return (len(arrivals) - 1) / span if span > 0 else 0.0

    def _send_rays(self, width, height):
        intrinsics = self.camera.intrinsics
        if (intrinsics.width, intrinsics.height) != (width, height):
            intrinsics = intrinsics.scaled(width, height)
        self.rays = protocol.encode_rays(unit_rays(intrinsics))
        self._ray_shape = (height, width)
        self.publish("rays", self.rays)

    def _set_control(self, name, value):
        """Sets a control; one the camera takes only while stopped (VGA's frequency mode and
        frame size) is set between a stop and a start of the stream."""
        code = self.camera.set_control(name, value)
        if int(code) != 0 and self.camera.streaming:
            self.camera.stop()
            try:
                retried = self.camera.set_control(name, value)
            finally:
                self.camera.start("depth")
            if int(retried) == 0:
                return True, "%s set to %d (the stream restarted)" % (name, value)
        if int(code) == 0:
            return True, "%s set to %d" % (name, value)
        return False, "%s = %d refused: %s (%d)" % (name, value, code.str(), int(code))

    def _apply_commands(self):
        changed = False
        while True:
            try:
                name, value, reply = self.commands.get_nowait()
            except queue.Empty:
                break
            try:
                reply(*self._set_control(name, value))
            except ToolError as error:
                reply(False, str(error))
            changed = True
        if changed:
            self._settled_ms = time.monotonic() * 1000.0 + SETTLE_MS
            self.controls = self.camera.controls()
            self.publish("controls", self.controls)
            self._ray_shape = None  # a new size or lens gets new rays with the next frame


class Client:
    """One page: its socket, the newest frame not yet sent, and pending text messages."""

    def __init__(self, socket):
        self.socket = socket
        self.rays = None
        self.frame = None
        self.in_flight = 0
        self.texts = collections.deque()
        self.wake = asyncio.Event()

    def offer_frame(self, message):
        self.frame = message  # replaces a frame the page has not taken yet
        self.wake.set()

    def offer_rays(self, message):
        self.rays = message
        self.frame = None  # a frame of the old size must not follow the new rays
        self.wake.set()

    def acknowledge(self):
        self.in_flight = max(0, self.in_flight - 1)
        self.wake.set()

    def send_text(self, record):
        if len(self.texts) >= MAX_PENDING_TEXTS:
            return
        self.texts.append(json.dumps(record))
        self.wake.set()

    async def pump(self):
        """Sends whatever is pending, one message at a time: texts, rays, then the frame."""
        while not self.socket.closed:
            await self.wake.wait()
            self.wake.clear()
            while self.texts:
                await self.socket.send_str(self.texts.popleft())
            if self.rays is not None:
                rays, self.rays = self.rays, None
                await self.socket.send_bytes(rays)
            if self.frame is not None and self.in_flight < MAX_FRAMES_IN_FLIGHT:
                frame, self.frame = self.frame, None
                self.in_flight += 1
                await self.socket.send_bytes(frame)


class Viewer:
    """The web application around one camera and its capture thread."""

    def __init__(self, camera):
        self.camera = camera
        self.loop = None
        self.clients = set()
        self.status = None
        self.meta = camera.meta()
        self.choices = control_choices()
        self.vendor = vendor_dir()
        self.source = FrameSource(camera, self._publish_from_capture)

    def application(self):
        app = web.Application()
        app.router.add_get("/", self.page)
        app.router.add_get("/ws", self.websocket)
        if self.vendor:
            app.router.add_static("/static/vendor/", self.vendor)
        app.router.add_static("/static/", STATIC)
        return app

    async def page(self, _request):
        return web.FileResponse(os.path.join(STATIC, "index.html"),
                                headers={"Cache-Control": "no-cache"})

    async def websocket(self, request):
        socket = web.WebSocketResponse(compress=False, max_msg_size=1 << 16)
        await socket.prepare(request)
        client = Client(socket)
        client.send_text({"type": "hello", "meta": self.meta, "controls": self.source.controls,
                          "choices": self.choices, "three": self.vendor is not None,
                          "status": self.status})
        if self.source.rays is not None:
            client.offer_rays(self.source.rays)
        self.clients.add(client)
        self.source.watching.set()
        pump = asyncio.ensure_future(client.pump())
        try:
            async for message in socket:
                if message.type == WSMsgType.TEXT:
                    self._on_text(client, message.data)
        finally:
            self.clients.discard(client)
            if not self.clients:
                self.source.watching.clear()
            pump.cancel()
        return socket

    def _on_text(self, client, text):
        try:
            record = json.loads(text)
            kind = record["type"]
        except (ValueError, KeyError, TypeError):
            client.send_text({"type": "result", "ok": False, "text": "unreadable message"})
            return
        if kind == "drawn":
            client.acknowledge()
        elif kind == "ping":
            client.send_text({"type": "pong", "t": record.get("t")})
        elif kind == "set":
            name, value = record.get("control"), record.get("value")
            if name not in self.source.controls or isinstance(value, bool) \
                    or not isinstance(value, int):
                client.send_text({"type": "result", "ok": False,
                                  "text": "no control %r with a whole value %r" % (name, value)})
                return

            def reply(ok, text):
                self.loop.call_soon_threadsafe(
                    client.send_text, {"type": "result", "ok": ok, "text": text})
            self.source.set_control(name, value, reply)

    def _publish_from_capture(self, kind, payload):
        self.loop.call_soon_threadsafe(self._publish, kind, payload)

    def _publish(self, kind, payload):
        if kind == "status":
            self.status = payload
            for client in self.clients:
                client.send_text({"type": "status", "text": payload})
            return
        if kind == "controls":
            for client in self.clients:
                client.frame = None  # taken with the old values: it must not follow these
                client.send_text({"type": "controls", "controls": payload})
            return
        if kind == "rays":
            for client in self.clients:
                client.offer_rays(payload)
            return
        self.status = None
        for client in self.clients:
            client.offer_frame(payload)

    async def serve(self, host, port):
        self.loop = asyncio.get_running_loop()
        stop = asyncio.Event()
        for signal_number in (signal.SIGINT, signal.SIGTERM):
            self.loop.add_signal_handler(signal_number, stop.set)
        runner = web.AppRunner(self.application(), handle_signals=False, access_log=None)
        await runner.setup()
        try:
            site = web.TCPSite(runner, host, port)
            try:
                await site.start()
            except OSError as error:
                raise ToolError("cannot listen on %s port %d: %s"
                                % (host, port, error.strerror or error)) from None
            self.source.start()
            print("zelvo view: %s %s on http://%s/ (Ctrl-C stops)"
                  % (self.meta["device_type"], self.meta["connection"],
                     _address(runner.addresses[0])), flush=True)
            await stop.wait()
        finally:
            self.source.stop()
            for client in list(self.clients):
                await client.socket.close(code=1001, message=b"server stopping")
            await runner.cleanup()
            if self.source.ident is not None:  # started: the port was free
                await self.loop.run_in_executor(None, self.source.join)


def _address(address):
    host, port = address[:2]
    return "[%s]:%d" % (host, port) if ":" in host else "%s:%d" % (host, port)


def serve(camera, host, port):
    """Serves the viewer of an open camera until Ctrl-C or SIGTERM."""
    asyncio.run(Viewer(camera).serve(host, port))
