// SPDX-License-Identifier: MIT
// The exporter's view of a recording's ".gps" track file, read by the one reader of the
// format (formats/gps_reader.hpp, which describes it).
//
// Positions come from "$GPRMC" with status "A"; a "$GPGGA" of the same UTC time adds
// elevation, fix quality, satellites and HDOP. An RMC without fix ends the stretch.
#pragma once

#include <string>
#include <string_view>

#include "recording_data.hpp"

namespace kv_export {

// Reads the bytes of a track file into `track`. False, with `error` saying why, when they
// are not a track file at all; damaged lines and a last line cut short by a kill are
// skipped and told in `track.report`.
bool readTrack(std::string_view bytes, Track &track, std::string &error);

// The receiver's checksum rule, as kv_navlink applies it before recording a sentence: the
// hexadecimal text after the last '*' equals the XOR of the bytes before the first '*',
// every '$' skipped.
bool nmeaChecksumOk(std::string_view sentence);

}  // namespace kv_export
