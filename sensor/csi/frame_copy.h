// The routines that append one driver buffer to the raw frame being gathered.
//
// Each takes the source buffer and the number of bytes it holds, the destination and
// its capacity in bytes, the frame width in samples, the source row stride in bytes the
// driver reported (0: not reported) and the write position, which it advances. The three
// copying routines count the position in bytes, unpackY12P in 16-bit samples; the
// position runs on across the sub-frames of one raw frame.
//
// No routine reads at or past `length` bytes of the source, and none writes at or past
// `capacity` bytes of the destination: what does not fit is dropped, so a driver that
// reports more than the frame holds cannot overrun the caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zelvo {

using FrameCopy = void (*)(const uint8_t* src, uint8_t* dst, size_t length, uint32_t width,
                           uint32_t stride, size_t& pos, size_t capacity);

// Source buffer length for which copyRows480of512 is chosen: 180 rows of 512 bytes.
constexpr size_t kPaddedRowsBufferBytes = 92160;

// The whole buffer; of rows padded past width samples (stride above 2 * width), only
// the samples.
void copyWhole(const uint8_t* src, uint8_t* dst, size_t length, uint32_t width, uint32_t stride,
               size_t& pos, size_t capacity);

// The first 480 bytes (240 samples) of every 512-byte source row.
void copyRows480of512(const uint8_t* src, uint8_t* dst, size_t length, uint32_t width,
                      uint32_t stride, size_t& pos, size_t capacity);

// For every 960-byte source block s: s[0..448), s[928..960), s[448..928). The block is the
// Jetson capture layout of a row pair: the even row's first 224 samples, the odd row, then
// the even row's last 16 samples, which this puts back in place.
void copyReorder960(const uint8_t* src, uint8_t* dst, size_t length, uint32_t width,
                    uint32_t stride, size_t& pos, size_t capacity);

// 12-bit packed pixels, two samples in three bytes (b0 b1 b2 gives b0<<4 | b2&0x0F and
// b1<<4 | b2>>4), rows `stride` bytes apart, or when no stride is reported padded to a
// multiple of 16 bytes; the samples come out right-aligned. The last 8 bytes of the
// source are not read when they are padding (rows padded by 8 bytes or more); rows
// without padding are read to the end.
void unpackY12P(const uint8_t* src, uint8_t* dst, size_t length, uint32_t width, uint32_t stride,
                size_t& pos, size_t capacity);

}  // namespace Zelvo
