// Pixel formats of the simulated capture node and the byte layout of one sub-frame.
#pragma once

#include <cstdint>
#include <linux/videodev2.h>

#ifndef V4L2_PIX_FMT_Y12P
#define V4L2_PIX_FMT_Y12P v4l2_fourcc('Y', '1', '2', 'P')  // 12-bit greyscale, packed
#endif

namespace Zelvo::sim {

struct PixelLayout {
    uint32_t pixelFormat = V4L2_PIX_FMT_Y12;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerLine = 0;
    uint32_t sizeImage = 0;
    // Samples shifted left by 4 and row pairs interleaved in blocks of four rows' width
    // in bytes (the Orin and Xavier capture path).
    bool shiftedReorder = false;
};

// Fills bytesPerLine and sizeImage for the format, rounding rows up to the alignment
// (reordered row pairs are never padded).
void computeLayout(PixelLayout& layout, uint32_t strideAlignment);

// Writes one sub-frame of signed 11-bit samples (width x height, row order) into dst,
// which holds layout.sizeImage bytes.
void packSubFrame(const int16_t* samples, const PixelLayout& layout, uint8_t* dst);
// The same for unsigned 12-bit words (the VGA sensor's samples and header words).
void packSubFrame(const uint16_t* words, const PixelLayout& layout, uint8_t* dst);

}  // namespace Zelvo::sim
