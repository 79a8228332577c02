// SPDX-License-Identifier: MIT
// The G-sensor data file beside a recording (stem + ".gsf"), little-endian:
//
//   GSF_HEADER   524 bytes: magic A1 00 00 A1, record size 32, record count, then 512
//                bytes of text, "YYYYMMDDhhmmss//<file name>" zero-filled: the wall-clock
//                time of the recording's start tick and the file's own name
//   GSF_RECORD   32 bytes per sample, in the order taken
//   end marker   A1 FF FF A1, written when the recorder closes the file
//
// kv_shocklog writes the file from these structures; every reader decodes it from the
// offsets below, which the static_asserts tie to the structures.
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

inline constexpr uint32_t kGsfMagic = 0xA10000A1u;      // bytes A1 00 00 A1
inline constexpr uint32_t kGsfEndMarker = 0xA1FFFFA1u;  // bytes A1 FF FF A1
inline constexpr size_t kGsfTextSize = 512;
inline constexpr size_t kGsfHeaderSize = 524;
inline constexpr size_t kGsfRecordSize = 32;
inline constexpr size_t kGsfEndMarkerSize = 4;

// Byte offsets of the header's fields and of a record's fields within the record.
inline constexpr size_t kGsfMagicAt = 0, kGsfRecordSizeAt = 4, kGsfCountAt = 8, kGsfTextAt = 12;
inline constexpr size_t kGsfTimeAt = 0, kGsfAxis1At = 8, kGsfAxis2At = 12, kGsfAxis3At = 16,
                        kGsfReservedAt = 20, kGsfSensor4At = 24, kGsfBatteryAt = 28;

static_assert(sizeof(GSF_RECORD) == kGsfRecordSize);
static_assert(offsetof(GSF_RECORD, llTime) == kGsfTimeAt);
static_assert(offsetof(GSF_RECORD, nAxis1) == kGsfAxis1At);
static_assert(offsetof(GSF_RECORD, nAxis2) == kGsfAxis2At);
static_assert(offsetof(GSF_RECORD, nAxis3) == kGsfAxis3At);
static_assert(offsetof(GSF_RECORD, nReserved) == kGsfReservedAt);
static_assert(offsetof(GSF_RECORD, nSensor4) == kGsfSensor4At);
static_assert(offsetof(GSF_RECORD, nBattery) == kGsfBatteryAt);

// "YYYYMMDDhhmmss//<file name>", zero-filled: the wall-clock time of the start tick.
struct GSF_HEADER {
  uint32_t magic;
  int32_t nRecordSize;
  int32_t nRecordCount;  // 0 until the writer stores the count
  char text[kGsfTextSize];
};
static_assert(sizeof(GSF_HEADER) == kGsfHeaderSize);
static_assert(offsetof(GSF_HEADER, magic) == kGsfMagicAt);
static_assert(offsetof(GSF_HEADER, nRecordSize) == kGsfRecordSizeAt);
static_assert(offsetof(GSF_HEADER, nRecordCount) == kGsfCountAt);
static_assert(offsetof(GSF_HEADER, text) == kGsfTextAt);
