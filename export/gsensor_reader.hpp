// SPDX-License-Identifier: MIT
// The exporter's view of a recording's ".gsf" G-sensor data file (layout:
// formats/gsf_layout.h), read by the one reader of the format (formats/gsf_reader.hpp).
//
// A writer that was killed or lost its power leaves no end marker, a count that lags
// behind the records and, as it writes in 512-byte blocks, usually part of a record at the
// end; that part is skipped and told.
#pragma once

#include <string>
#include <string_view>

#include "recording_data.hpp"

namespace kv_export {

// Reads the bytes of a data file into `data`. False, with `error` saying why, when they
// are not a G-sensor data file at all.
bool readGSensor(std::string_view bytes, GSensorData &data, std::string &error);

}  // namespace kv_export
