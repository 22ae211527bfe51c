#include "python/camera.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "python/frame_ledger.h"
#include "python/frame_view.h"

namespace py = pybind11;

namespace ZelvoPython {

using namespace Zelvo;

namespace {

// Longest single wait inside requestFrame before pending signals are checked.
constexpr short kWaitSliceMs = 50;

TofErrorCode code(int result) {
    return static_cast<TofErrorCode>(result);
}

}  // namespace

PythonCamera::PythonCamera()
    : camera(std::make_unique<ZelvoTOFCamera>()),
      ledger(std::make_shared<FrameLedger>(
          [core = camera.get()](ZelvoFrameBuffer* buffer) { return core->releaseFrame(buffer); })) {}

PythonCamera::~PythonCamera() {
    // Frames must not read buffers that are about to be freed.
    ledger.reset();
    // The core's destructor stops a running stream before its frame store goes.
    camera.reset();
}

template <typename Call>
TofErrorCode PythonCamera::lifecycle(Call call) {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> serial(calls);
    RequestGate::Barrier barrier(gate, [this] { camera->wakeRequests(); });
    return code(call());
}

template <typename Call>
auto PythonCamera::serialised(Call call) const {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> serial(calls);
    return call();
}

TofErrorCode PythonCamera::open(Connection mode, int index) {
    return lifecycle([&] { return camera->open(mode, index); });
}

TofErrorCode PythonCamera::openWithFile(const char* path, int index) {
    return lifecycle([&] { return camera->openWithFile(path, index); });
}

TofErrorCode PythonCamera::close() {
    return lifecycle([&] { return camera->close(); });
}

TofErrorCode PythonCamera::start(FrameType type) {
    return lifecycle([&] {
        // A new frame store frees the buffers of the previous stream, which frames
        // read with the interpreter lock held: the store and the ledger change
        // under it, together.
        py::gil_scoped_acquire locked;
        const uint64_t before = camera->bufferGeneration();
        const int result = camera->start(type);
        if (camera->bufferGeneration() != before)
            ledger->replaceBuffers();
        return result;
    });
}

TofErrorCode PythonCamera::stop() {
    return lifecycle([&] { return camera->stop(); });
}

TofErrorCode PythonCamera::setControl(CameraCtrl ctrl, int value) {
    return code(serialised([&] { return camera->setControl(ctrl, value); }));
}

int PythonCamera::getControl(CameraCtrl ctrl) {
    return serialised([&] {
        int value = 0;
        camera->getControl(ctrl, &value);
        return value;
    });
}

CameraInfo PythonCamera::getCameraInfo() const {
    return serialised([&] { return camera->getCameraInfo(); });
}

std::shared_ptr<FrameView> PythonCamera::requestFrame(short timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    std::optional<uint64_t> pass;
    // The core's wait runs in short slices without the interpreter lock, which is
    // taken back between slices to look for a pending signal (Ctrl-C).
    for (;;) {
        short slice = kWaitSliceMs;
        if (timeout >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            slice = static_cast<short>(std::clamp<long long>(left.count(), 0, kWaitSliceMs));
        }
        {
            RequestGate::Entry entry;
            ZelvoFrameBuffer* buffer = nullptr;
            {
                py::gil_scoped_release unlocked;
                if (!pass)
                    pass = gate.arrive(std::chrono::milliseconds(slice));
                if (pass) {
                    entry = gate.enter(*pass);
                    if (!entry)
                        return nullptr;  // another thread's lifecycle call ended the wait
                    buffer = camera->requestFrame(slice);
                }
            }
            // Still inside the gate: no start can free the buffer before the ledger
            // knows it is lent.
            if (buffer)
                return ledger->lend(buffer);
            // Not streaming: the core answered at once, and no frame will come.
            if (pass && !camera->isStreaming())
                return nullptr;
        }
        // Outside the gate, since a signal handler may call stop or close.
        if (PyErr_CheckSignals() != 0)
            throw py::error_already_set();
        if (timeout >= 0 && slice == 0)
            return nullptr;
    }
}

TofErrorCode PythonCamera::releaseFrame(FrameView* frame) {
    // With the interpreter lock held, like every change of the frame store (start),
    // but outside the serialised calls: a thread waiting for a frame may need this
    // release to get one.
    if (!frame)
        return code(camera->releaseFrame(nullptr));
    // A frame released before, from an earlier stream or from another camera
    // is not a buffer this camera lent: its pointer may be stale, so it never
    // reaches the pool.
    ZelvoFrameBuffer* buffer = frame->lentBy(*ledger);
    if (!buffer)
        return ZelvoUnkownError;
    return code(ledger->giveBack(buffer));
}

void registerCamera(py::module_& module) {
    py::class_<PythonCamera>(module, "ZelvoCamera")
        .def(py::init<>())
        .def("open", &PythonCamera::open,
             "Initialize the camera configuration and turn on the camera, set the "
             "initialization frame according to the mode.\n"
             "\n"
             "- mode Specify the connection method.\n"
             "- index Device node, the default value is video0.",
             py::arg("mode"), py::arg("index") = 0)
        .def("openWithFile", &PythonCamera::openWithFile,
             "Initialize the camera configuration and turn on the camera, set the "
             "initialization frame according to the mode.\n"
             "\n"
             "- path Specify the config file path.\n"
             "- index Device node, the default value is video0.",
             py::arg("path"), py::arg("index") = 0)
        .def("close", &PythonCamera::close, "Close the camera")
        .def("start", &PythonCamera::start, "Start the camera stream and start processing.",
             py::arg("type"))
        .def("stop", &PythonCamera::stop, "Stop camera stream and processing.")
        .def("setControl", &PythonCamera::setControl, "Set camera parameters.",
             py::arg("ctrl"), py::arg("value"))
        .def("getControl", &PythonCamera::getControl, "Get camera parameters.",
             py::arg("ctrl"))
        .def("getCameraInfo", &PythonCamera::getCameraInfo, "Get camera information.")
        .def("requestFrame", &PythonCamera::requestFrame,
             "Request a frame of data from the frame processing thread.", py::arg("timeout"))
        .def("releaseFrame", &PythonCamera::releaseFrame, "Free the memory space of the frame.",
             py::arg("frame"));
}

}  // namespace ZelvoPython
