// SPDX-License-Identifier: MIT
// The G-sensor data file beside a recording (stem + ".gsf"): a 524-byte header, one
// 32-byte record per sample, a 4-byte end marker, all little-endian. Everything goes
// through the shared block writer (kv_block_writer.hpp): the card sees whole 512-byte
// writes, and once a second the block being filled and a sync, so that a power cut takes
// at most the last second; the sampling thread never waits for the card.
//
// The record count in the header stays 0 until the close, also across those syncs: a 0
// tells every reader that the file was not closed (a cut or a kill) and that the records
// are to be counted from the file's length, as before. Refreshing it at each sync would
// rewrite the first block 60 times a minute beside the data, and a cut in the middle of
// a sync could leave a count ahead of the records that reached the card.
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

// Syncs of the file so far (the close's own not counted), for the card-wear report.
int GsfSyncCount();

// Removes the (closed) file.
void GsfRemove();
