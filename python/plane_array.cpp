#include "python/plane_array.h"

#include <cstring>
#include <stdexcept>

#include <pybind11/numpy.h>

namespace py = pybind11;

namespace ZelvoPython {

using Zelvo::FrameDataFormat;
using Zelvo::FrameType;
using Zelvo::ZelvoFrameBuffer;

template <typename T>
PlaneArray<T> copyPlane(ZelvoFrameBuffer& buffer, FrameType plane, FrameType shape) {
    const void* data = buffer.getData(plane);
    FrameDataFormat format{};
    buffer.getFormat(shape, format);
    const py::ssize_t height = format.height;
    const py::ssize_t width = format.width;
    const py::ssize_t count = height * width;

    // The first array made here imports numpy; a failed import propagates.
    py::array_t<T> array(count);
    if (count > 0) {
        if (!data)
            throw std::runtime_error("frame has no such plane");
        std::memcpy(array.mutable_data(), data, static_cast<size_t>(count) * sizeof(T));
    }
    // Same element count: numpy only changes the dimensions, no new memory.
    array.resize({height, width});
    return PlaneArray<T>{std::move(array)};
}

template PlaneArray<int16_t> copyPlane(ZelvoFrameBuffer&, FrameType, FrameType);
template PlaneArray<float> copyPlane(ZelvoFrameBuffer&, FrameType, FrameType);

}  // namespace ZelvoPython
