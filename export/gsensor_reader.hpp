// The ".gsf" G-sensor data file of a recording, as kv_shocklog writes it (little-endian):
// a 524-byte header (magic A1 00 00 A1, record size 32, record count, then the start
// tick's local time as 14 digits, "//" and the file's own name, zero-filled to 512
// bytes), 32-byte records (time since the start tick as int64, then six int32: the three
// axes with their baseline removed, reserved, the sensor's fourth value, the battery
// level), and the end marker A1 FF FF A1.
//
// A writer that was killed leaves no end marker, a count of 0 and, as it writes in
// 512-byte blocks, usually part of a record at the end; that part is skipped and told.
#pragma once

#include <string>
#include <string_view>

#include "recording_data.hpp"

namespace kv_export {

// Reads the bytes of a data file into `data`. False, with `error` saying why, when they
// are not a G-sensor data file at all.
bool readGSensor(std::string_view bytes, GSensorData &data, std::string &error);

}  // namespace kv_export
