#include "python/frames.h"

#include "python/frame_view.h"
#include "python/plane_array.h"

namespace py = pybind11;

namespace ZelvoPython {

using namespace Zelvo;

namespace {

FrameDataFormat formatOf(const FrameView& frame, FrameType plane) {
    FrameDataFormat format{};
    frame.buffer().getFormat(plane, format);
    return format;
}

}  // namespace

// None of the classes has a constructor: frames come from requestFrame only.
void registerFrames(py::module_& module) {
    py::class_<FrameView, std::shared_ptr<FrameView>>(module, "ZelvoFrame");

    py::class_<RawFrameView, FrameView, std::shared_ptr<RawFrameView>>(module, "RawData")
        .def("getRawData",
             [](const RawFrameView& frame) {
                 return copyPlane<int16_t>(frame, RAW, RAW);
             },
             "Get raw data from the frame")
        .def("getFrameFormat",
             [](const RawFrameView& frame) { return formatOf(frame, RAW); },
             "Get the information of this frame");

    // Confidence and amplitude planes have the depth plane's size.
    py::class_<DepthFrameView, FrameView, std::shared_ptr<DepthFrameView>>(module, "DepthData")
        .def("getDepthData",
             [](const DepthFrameView& frame) {
                 return copyPlane<float>(frame, DEPTH, DEPTH);
             },
             "Get depth data from the frame")
        .def("getConfidenceData",
             [](const DepthFrameView& frame) {
                 return copyPlane<float>(frame, CONFIDENCE, DEPTH);
             },
             "Get confidence data from the frame")
        .def("getAmplitudeData",
             [](const DepthFrameView& frame) {
                 return copyPlane<float>(frame, AMPLITUDE, DEPTH);
             },
             "Get amplitude data from the frame")
        .def("getFrameFormat",
             [](const DepthFrameView& frame) { return formatOf(frame, DEPTH); },
             "Get the information of this frame");
}

}  // namespace ZelvoPython
