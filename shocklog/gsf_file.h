// The G-sensor data file beside a recording (stem + ".gsf"): a 524-byte header, one
// 32-byte record per sample, a 4-byte end marker, all little-endian. Everything goes
// through one 512-byte buffer, so while the recorder runs the SD card sees only whole
// 512-byte writes; the last partial block and the record count are written at close.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "gsf_layout.h"

// The path buffer of the data file; a stem longer than 251 characters does not fit.
inline constexpr size_t kGsfPathSize = 256;

// Creates the write lock; 0, or -1 when it cannot be made.
int GsfInitLock();
void GsfDestroyLock();

// Builds stem + ".gsf"; -1 when that does not fit the path buffer (nothing is kept).
int GsfSetPath(const char *stem);

// Creates (or empties) the file, mode 0644; 0, or -1 with errno set.
int GsfOpen();

// Puts the header into the buffer; `date_time` holds the 14 digits of the start time.
void GsfWriteHeader(const char *date_time);

// Appends bytes / one record through the buffer; whole 512-byte blocks go to the file.
// Write errors are not reported: the recorder keeps sampling whatever the card does.
void GsfAppend(const void *data, size_t n);
void GsfWriteRecord(const GSF_RECORD &record);

// Ends the file: end marker, the rest of the buffer, `count` into the header, fdatasync,
// close. 0, or 1 after printing the message of the step that failed.
int GsfClose(int32_t count);

// Removes the (closed) file.
void GsfRemove();
