// Export of one frame plane as a numpy array.
//
// The array is a copy owned by Python, shaped (height, width), so it stays
// valid after the frame is released. NumPy is loaded by the first export, not
// when the module is imported.
#pragma once

#include <cstdint>

#include <pybind11/pybind11.h>

#include <zelvo/types.h>

namespace ZelvoPython {

class FrameView;

// A freshly copied plane of element type T, returned to Python as its array.
template <typename T>
struct PlaneArray {
    pybind11::object array;
};

// Copies the frame's plane selected by `plane`, shaped by the format of `shape`.
// Throws RuntimeError when the frame may no longer be read.
template <typename T>
PlaneArray<T> copyPlane(const FrameView& frame, Zelvo::FrameType plane, Zelvo::FrameType shape);

extern template PlaneArray<int16_t> copyPlane(const FrameView&, Zelvo::FrameType,
                                              Zelvo::FrameType);
extern template PlaneArray<float> copyPlane(const FrameView&, Zelvo::FrameType,
                                            Zelvo::FrameType);

template <typename T>
struct PlaneArrayName;
template <>
struct PlaneArrayName<int16_t> {
    static constexpr auto name = pybind11::detail::const_name("numpy.ndarray[int16]");
};
template <>
struct PlaneArrayName<float> {
    static constexpr auto name = pybind11::detail::const_name("numpy.ndarray[float32]");
};

}  // namespace ZelvoPython

namespace pybind11 {
namespace detail {

// Return-only conversion: hands out the array and names it in signatures by
// its element type alone.
template <typename T>
struct type_caster<ZelvoPython::PlaneArray<T>> {
    static constexpr auto name = ZelvoPython::PlaneArrayName<T>::name;

    static handle cast(const ZelvoPython::PlaneArray<T>& plane, return_value_policy, handle) {
        return plane.array.inc_ref();
    }
};

}  // namespace detail
}  // namespace pybind11
