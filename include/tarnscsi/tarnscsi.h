/* The module's exports: everything an imaging application calls. All
 * integers are signed 32-bit; the calling convention is cdecl. Call Connect
 * first, the device functions only while Connect has returned 1, and
 * Disconnect last. Calls from several threads are safe: each runs whole
 * while the others wait, Disconnect included.
 *
 * Units are the camera's, passed through unchanged: exposure time in
 * milliseconds; window origin, width and height in unbinned sensor pixels
 * (the sensor is 768 x 512); temperatures in tenths of a degree Celsius
 * (-100 is -10.0 C); the cooling byte is the cooler's drive, 0 (off) to
 * 255 (full). */
#ifndef TARNSCSI_TARNSCSI_H
#define TARNSCSI_TARNSCSI_H

#include <stdint.h>

#if defined(_WIN32)
#define TARNSCSI_API __cdecl
#define TARNSCSI_VISIBLE
#else
#define TARNSCSI_API
#define TARNSCSI_VISIBLE __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Finds the camera and holds it for this process until Disconnect (where the
 * manager offers that). 1 when it is ready for use; 0 otherwise, with a
 * static message stored in *errorText unless errorText is null ("Out of
 * memory", "Missing wnaspi32", "Corrupt wnaspi32", "Error (no event)",
 * "Camera not found", or "Camera in use": another program holds it). */
TARNSCSI_VISIBLE int32_t TARNSCSI_API Connect(const char** errorText);

/* Ends the connection; does nothing without one. */
TARNSCSI_VISIBLE void TARNSCSI_API Disconnect(void);

/* Reads the window back and the image into `image`: width x height pixels,
 * or (width / 2) x (height / 2) when binned, row by row, two bytes per pixel
 * as the camera sends them (most significant first). The buffer must hold
 * the whole window. 0 without
 * reading anything for a null `image`, a window whose size does not fit in
 * 32 bits, or, after an Expose on this connection that returned 1, a window
 * that needs more bytes than the one that Expose programmed. */
TARNSCSI_VISIBLE int32_t TARNSCSI_API Download(uint8_t* image);

/* Programs the window and starts the exposure: `exposureTime` in
 * milliseconds, the window's `originX`, `originY`, `width` and `height` in
 * unbinned pixels, `binned` non-zero for 2 x 2 binning (then the width and
 * height are rounded down to even). `spare` is not sent. 1 when the camera
 * accepted the window; Ready then says when the image can be downloaded. */
TARNSCSI_VISIBLE int32_t TARNSCSI_API Expose(int32_t exposureTime, int32_t spare, int32_t binned, int32_t width,
                                             int32_t height, int32_t originX, int32_t originY);

/* The sensor temperature in tenths of a degree Celsius, and the cooling
 * byte (cooler drive, 0 to 255) in *coolingByte. Without a
 * reading (or with a null coolingByte, when nothing is asked):
 * TARNSCSI_NO_READING, and *coolingByte is left as it was. */
TARNSCSI_VISIBLE int32_t TARNSCSI_API GetCoolingInfo(int32_t* coolingByte);

/* 1 when the camera can take the next command: after Expose, when the
 * exposure and its readout are over. */
TARNSCSI_VISIBLE int32_t TARNSCSI_API Ready(void);

/* Sends the cooling setpoint, in tenths of a degree Celsius (-100 asks for
 * -10.0 C). 1 when the camera accepted it; 0 without sending anything for a
 * setpoint outside -32768 .. 32767, which the camera's 16-bit field cannot
 * hold. */
TARNSCSI_VISIBLE int32_t TARNSCSI_API SetTemperature(int32_t setpoint);

#ifdef __cplusplus
}
#endif

/* GetCoolingInfo's result when there is no reading: outside the 16-bit range
 * of every real one. */
#define TARNSCSI_NO_READING INT32_MIN

#endif
