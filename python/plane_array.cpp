#include "python/plane_array.h"

#include <cstring>
#include <stdexcept>

#include <pybind11/numpy.h>

#include "python/frame_view.h"

namespace py = pybind11;

namespace ZelvoPython {

using Zelvo::FrameDataFormat;
using Zelvo::FrameType;

template <typename T>
PlaneArray<T> copyPlane(const FrameView& frame, FrameType plane, FrameType shape) {
    FrameDataFormat format{};
    frame.buffer().getFormat(shape, format);
    const py::ssize_t height = format.height;
    const py::ssize_t width = format.width;
    const py::ssize_t count = height * width;

    // The first array made here imports numpy; a failed import propagates.
    py::array_t<T> array(count);
    if (count > 0) {
        // Making the array may run Python code (a collection, the numpy import) and
        // so let another thread release the frame or start a new stream: the frame
        // is asked again, and nothing runs between that and the copy.
        const void* data = frame.buffer().getData(plane);
        if (!data)
            throw std::runtime_error("frame has no such plane");
        std::memcpy(array.mutable_data(), data, static_cast<size_t>(count) * sizeof(T));
    }
    // Same element count: numpy only changes the dimensions, no new memory.
    array.resize({height, width});
    return PlaneArray<T>{std::move(array)};
}

template PlaneArray<int16_t> copyPlane(const FrameView&, FrameType, FrameType);
template PlaneArray<float> copyPlane(const FrameView&, FrameType, FrameType);

}  // namespace ZelvoPython
