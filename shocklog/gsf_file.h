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

#include <bit>

static_assert(std::endian::native == std::endian::little,
              "the data file is little-endian and written from memory as it stands");

// One sample as stored: its time since the recording's start tick and the three axes with
// the baseline (mean of the four samples before it) removed.
struct GSF_RECORD {
  int64_t llTime;  // llTick - start tick, milliseconds
  int32_t nAxis1;  // axes minus the baseline
  int32_t nAxis2;
  int32_t nAxis3;
  int32_t nReserved;  // the rest copied from the sample
  int32_t nSensor4;
  int32_t nBattery;  // millivolts
};
static_assert(sizeof(GSF_RECORD) == 32);
static_assert(offsetof(GSF_RECORD, llTime) == 0);
static_assert(offsetof(GSF_RECORD, nAxis1) == 8);
static_assert(offsetof(GSF_RECORD, nAxis2) == 12);
static_assert(offsetof(GSF_RECORD, nAxis3) == 16);
static_assert(offsetof(GSF_RECORD, nReserved) == 20);
static_assert(offsetof(GSF_RECORD, nSensor4) == 24);
static_assert(offsetof(GSF_RECORD, nBattery) == 28);

inline constexpr uint32_t kGsfMagic = 0xA10000A1u;      // bytes A1 00 00 A1
inline constexpr uint32_t kGsfEndMarker = 0xA1FFFFA1u;  // bytes A1 FF FF A1
inline constexpr size_t kGsfTextSize = 512;

// "YYYYMMDDhhmmss//<file name>", zero-filled: the wall-clock time of the start tick.
struct GSF_HEADER {
  uint32_t magic;
  int32_t nRecordSize;
  int32_t nRecordCount;  // 0 until the file is closed properly
  char text[kGsfTextSize];
};
static_assert(sizeof(GSF_HEADER) == 524);
static_assert(offsetof(GSF_HEADER, magic) == 0);
static_assert(offsetof(GSF_HEADER, nRecordSize) == 4);
static_assert(offsetof(GSF_HEADER, nRecordCount) == 8);
static_assert(offsetof(GSF_HEADER, text) == 12);

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
