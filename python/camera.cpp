#include "python/camera.h"

#include <algorithm>
#include <chrono>

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

TofErrorCode PythonCamera::open(Connection mode, int index) {
    return code(camera->open(mode, index));
}

TofErrorCode PythonCamera::openWithFile(const char* path, int index) {
    return code(camera->openWithFile(path, index));
}

TofErrorCode PythonCamera::close() {
    return code(camera->close());
}

TofErrorCode PythonCamera::start(FrameType type) {
    const uint64_t before = camera->bufferGeneration();
    const int result = camera->start(type);
    // A new frame store freed the buffers of the previous stream.
    if (camera->bufferGeneration() != before)
        ledger->replaceBuffers();
    return code(result);
}

TofErrorCode PythonCamera::stop() {
    return code(camera->stop());
}

TofErrorCode PythonCamera::setControl(CameraCtrl ctrl, int value) {
    return code(camera->setControl(ctrl, value));
}

int PythonCamera::getControl(CameraCtrl ctrl) {
    int value = 0;
    camera->getControl(ctrl, &value);
    return value;
}

CameraInfo PythonCamera::getCameraInfo() const {
    return camera->getCameraInfo();
}

ZelvoFrameBuffer* PythonCamera::waitForFrame(short timeout) {
    // Short waits need no slicing; a camera that never started has no frames to
    // wait for, and the core answers at once.
    if ((timeout >= 0 && timeout <= kWaitSliceMs) || !camera->frameStore)
        return camera->requestFrame(timeout);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    for (;;) {
        short slice = kWaitSliceMs;
        if (timeout >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            slice = static_cast<short>(std::clamp<long long>(left.count(), 0, kWaitSliceMs));
        }
        if (ZelvoFrameBuffer* frame = camera->requestFrame(slice))
            return frame;
        if (PyErr_CheckSignals() != 0)
            throw py::error_already_set();
        if (timeout >= 0 && slice == 0)
            return nullptr;
    }
}

std::shared_ptr<FrameView> PythonCamera::requestFrame(short timeout) {
    ZelvoFrameBuffer* buffer = waitForFrame(timeout);
    if (!buffer)
        return nullptr;
    return ledger->lend(buffer);
}

TofErrorCode PythonCamera::releaseFrame(FrameView* frame) {
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
