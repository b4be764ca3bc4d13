// The box's hardware abstraction layer, as far as the information service uses it: the flash
// user-data area, the system information and the firmware version. The calls have the shape
// of the vendor's C client (results 0 for success, strings handed over in malloc'd buffers
// that the caller releases with free), so that a box port replaces hal/Hai.cpp with a thin
// wrapper around the vendor's library and nothing above this layer changes.
//
// This implementation keeps everything in files under the root prefix (docs/hal.md):
//   /var/hal/flash.img         the flash; a read past its end sees zero bytes
//   /var/hal/systeminfo        four lines, the four outputs of IHaiSystem_GetInfo
//   /var/hal/firmware-version  one line, the firmware version
#pragma once

#include <cstddef>

// An open resource; null is never a valid handle.
struct THaiResource;
using THaiHandle = THaiResource*;

// Opens resource "Flash" or "Firmware", instance "0" (flags are reserved and must be 0).
// Other names, instances or flags fail. On success *handle is set.
int IHaiSystem_OpenResource(const char* resource, const char* instance, unsigned int flags,
                            THaiHandle* handle);
int IHaiSystem_CloseResource(THaiHandle handle);

// Reads `length` bytes of the flash at byte `location` into `buffer`. The handle must be a
// "Flash" resource.
int IHaiFlash_Read(THaiHandle handle, unsigned int location, char* buffer, unsigned int length);
// Writes `length` bytes at `location`. The image is replaced as a whole and atomically, so a
// crash or power cut during a write leaves the previous content of every area intact.
int IHaiFlash_Write(THaiHandle handle, unsigned int location, const char* data,
                    unsigned int length);

// The four system information strings; each output is set to a malloc'd string that the
// caller frees. On failure no output is set.
int IHaiSystem_GetInfo(char** info1, char** info2, char** info3, char** info4);
// The firmware version of a "Firmware" resource, malloc'd; the caller frees it.
int IHaiFirmware_GetVersion(THaiHandle handle, char** version);
