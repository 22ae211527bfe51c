#include "python/records.h"

#include <zelvo/types.h>

namespace py = pybind11;

namespace ZelvoPython {

using Zelvo::CameraInfo;
using Zelvo::FrameDataFormat;

// No constructor: objects come from getFrameFormat and getCameraInfo only.
// Assigning an attribute changes the Python-side copy and nothing else.

void registerFrameFormat(py::module_& module) {
    py::class_<FrameDataFormat>(module, "ZelvoFormat")
        .def_readwrite("width", &FrameDataFormat::width)
        .def_readwrite("height", &FrameDataFormat::height)
        .def_readwrite("timestamp", &FrameDataFormat::timestamp)
        .def_readwrite("type", &FrameDataFormat::type);
}

void registerCameraInfo(py::module_& module) {
    py::class_<CameraInfo>(module, "ZelvoInfo")
        .def_readwrite("index", &CameraInfo::index)
        .def_readwrite("connect", &CameraInfo::connect)
        .def_readwrite("device_type", &CameraInfo::device_type)
        .def_readwrite("type", &CameraInfo::type)
        .def_readwrite("width", &CameraInfo::width)
        .def_readwrite("height", &CameraInfo::height)
        .def_readwrite("bit_width", &CameraInfo::bit_width)
        .def_readwrite("bpp", &CameraInfo::bpp);
}

}  // namespace ZelvoPython
