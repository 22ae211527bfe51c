// ZelvoCamera: one camera facade per Python object, plus what Python needs
// beyond the facade's calls: frame validity, an interruptible wait, and a
// stream that ends with the object.
//
// Threads: requestFrame waits without the interpreter lock, so the program's
// other threads run meanwhile, and releaseFrame may run while another thread
// waits. Lifecycle and control calls from several threads run one at a time;
// stop, close, start and open first end a wait in progress (it returns None).
// The lock serialising them is taken with the interpreter lock released, so a
// thread holding the interpreter lock never waits for it.
#pragma once

#include <memory>
#include <mutex>

#include <pybind11/pybind11.h>

#include <zelvo/camera.h>
#include <zelvo/types.h>
#include "python/request_gate.h"

namespace ZelvoPython {

class FrameLedger;
class FrameView;

class PythonCamera {
public:
    PythonCamera();
    // Stops a running stream before the camera and its buffers go; frames
    // handed out earlier then refuse to read.
    ~PythonCamera();

    PythonCamera(const PythonCamera&) = delete;
    PythonCamera& operator=(const PythonCamera&) = delete;

    Zelvo::TofErrorCode open(Zelvo::Connection mode, int index);
    Zelvo::TofErrorCode openWithFile(const char* path, int index);
    Zelvo::TofErrorCode close();
    Zelvo::TofErrorCode start(Zelvo::FrameType type);
    Zelvo::TofErrorCode stop();
    Zelvo::TofErrorCode setControl(Zelvo::CameraCtrl ctrl, int value);
    int getControl(Zelvo::CameraCtrl ctrl);
    Zelvo::CameraInfo getCameraInfo() const;
    // Null when no frame arrives within timeout milliseconds (negative: no limit).
    std::shared_ptr<FrameView> requestFrame(short timeout);
    Zelvo::TofErrorCode releaseFrame(FrameView* frame);

private:
    // Runs a lifecycle call: serialised with the other calls, and with no request
    // inside the camera.
    template <typename Call>
    Zelvo::TofErrorCode lifecycle(Call call);
    // Runs a control or query call, serialised with the lifecycle calls.
    template <typename Call>
    auto serialised(Call call) const;

    std::unique_ptr<Zelvo::ZelvoTOFCamera> camera;
    std::shared_ptr<FrameLedger> ledger;
    mutable std::mutex calls;  // serialises lifecycle and control calls
    RequestGate gate;
};

void registerCamera(pybind11::module_& module);

}  // namespace ZelvoPython
