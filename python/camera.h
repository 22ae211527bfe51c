// ZelvoCamera: one camera facade per Python object, plus what Python needs
// beyond the facade's calls: frame validity, an interruptible wait, and a
// stream that ends with the object.
#pragma once

#include <memory>

#include <pybind11/pybind11.h>

#include "core/camera.h"
#include "core/types.h"

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
    // Waits for the core's next frame in short slices, so that a pending
    // signal (Ctrl-C) is noticed; the interpreter lock stays held.
    Zelvo::ZelvoFrameBuffer* waitForFrame(short timeout);

    std::unique_ptr<Zelvo::ZelvoTOFCamera> camera;
    std::shared_ptr<FrameLedger> ledger;
};

void registerCamera(pybind11::module_& module);

}  // namespace ZelvoPython
