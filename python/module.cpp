// The extension module ZelvoDepthCamera. Registration order matters: every
// type is registered before a later signature names it.
#include <pybind11/pybind11.h>

#include "python/camera.h"
#include "python/enumerations.h"
#include "python/frames.h"
#include "python/records.h"

PYBIND11_MODULE(ZelvoDepthCamera, module) {
    ZelvoPython::registerEnumerations(module);
    ZelvoPython::registerFrameFormat(module);
    ZelvoPython::registerCameraInfo(module);
    ZelvoPython::registerFrames(module);
    ZelvoPython::registerCamera(module);
    module.attr("__version__") = "dev";
}
