/* The depth-processing calls of the Zelvo depth library (libzelvo_depth), a plain C
 * interface that a program or another camera stack can use on its own.
 *
 * A handle turns raw time-of-flight frames (docs/raw-format.md) into depth, amplitude and
 * confidence planes, using a per-camera calibration (docs/calibration-format.md) and the
 * parameters of "ConfigAlgorithm.json". Calling order: SiSDKCreate, SiSDKInit, optionally
 * SiSDKSetCaliData and SiSDKSetConfig, SiSDKStart, then SiSDKGetPhaseImage per frame;
 * SiSDKInit and SiSDKStart may be called again to restart; SiSDKDestroy at the end.
 * The frequency mode (SiSDKSetSingleFreq) may be changed at any time; a new handle starts
 * in single-frequency mode. Calls on one handle are not meant to overlap, except that
 * SiSDKIsSingleFreq and SiSDKSetSingleFreq may run beside SiSDKGetPhaseImage (which then
 * finishes the frame in the mode it began with). */
#ifndef ZELVO_DEPTH_SI_SDK_H
#define ZELVO_DEPTH_SI_SDK_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* SiSDKHandle;

/* Creates a handle in *handle: true, or false with *handle null. Every other call answers
 * false for a null handle. */
bool SiSDKCreate(SiSDKHandle* handle);
/* Sets the output size (width x height pixels; raw sub-frames have height + 1 rows) and
 * drops the calibration and configuration directory of an earlier start; a new
 * SiSDKStart is needed. false for a width outside 29..65535 (the embedded header needs 29
 * samples) or a height outside 1..65535. */
bool SiSDKInit(SiSDKHandle handle, int width, int height);
/* Calibration bytes, read (and copied) at once, for the next SiSDKStart: true when they
 * were accepted. At most 16384 bytes are read, whatever the length. Malformed bytes, and a
 * calibration of a module whose size does not serve the SiSDKInit size, are refused (false)
 * with one line on standard error, and the handle goes on without calibration. */
bool SiSDKSetCaliData(SiSDKHandle handle, const void* data, uint32_t length);
/* Directory holding "ConfigAlgorithm.json", read at the next SiSDKStart; without one (or
 * with a null or empty text), the working directory's. A directory that does not exist
 * leaves the default parameters, with one line on standard error at the start. */
bool SiSDKSetConfig(SiSDKHandle handle, const char* directory);
/* Reads the parameters and readies the buffers: true, or false without an SiSDKInit. */
bool SiSDKStart(SiSDKHandle handle);
bool SiSDKIsSingleFreq(SiSDKHandle handle);
/* true: single-frequency mode (5 sub-frames); false: double-frequency (10 sub-frames). */
bool SiSDKSetSingleFreq(SiSDKHandle handle, bool single);
/* One raw frame of the current mode, width x (height + 1) x sub-frames 16-bit samples,
 * into three planes of width x height floats: radial depth in millimetres (0 where the
 * pixel is invalid), amplitude, and confidence (0 where invalid). false, with the planes
 * zeroed, for a frame that does not match the format, the size or the mode; false, with
 * the planes untouched, before a successful SiSDKStart. */
bool SiSDKGetPhaseImage(SiSDKHandle handle, const uint16_t* raw, float* depth, float* amplitude,
                        float* confidence);
/* Releases *handle and sets it to null; a null *handle (destroyed before, or never
 * created) is accepted and nothing happens. */
void SiSDKDestroy(SiSDKHandle* handle);

#ifdef __cplusplus
}
#endif

#endif
