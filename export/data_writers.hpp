// SPDX-License-Identifier: MIT
// The exported data files of one recording, each returned whole as text: the track as
// GPX 1.1 (or 1.0), CSV and GeoJSON, the G-sensor records as CSV.
#pragma once

#include <stdint.h>

#include <string>
#include <string_view>

#include "recording_data.hpp"
#include "recording_facts.hpp"

namespace kv_export {

// GPX 1.1: one track named `name`, a segment per stretch with fix. Each point holds its
// position, the UTC time of its RMC, and from its GGA (where there was one) elevation,
// geoid height, fix, satellites and HDOP; speed (m/s) and course (degrees) go into the
// Garmin TrackPointExtension v2, since GPX 1.1 has no elements of its own for them.
std::string trackGpx(const Track &track, std::string_view name, const std::string &utc_offset);
// GPX 1.0, whose own <speed> (m/s) and <course> elements converters read; the rest as above.
std::string trackGpx10(const Track &track, std::string_view name, const std::string &utc_offset);

// One row per point: time since the recording's start, UTC time, the unit's local time
// with its offset (UTC when the zone is not known), segment, position,
// speed (km/h), course and the GGA values; empty cells where a value is absent.
std::string trackCsv(const Track &track, const Zone &zone);

// A FeatureCollection (RFC 7946) with a feature per stretch with fix: a LineString, or a
// Point for a stretch of one fix; its properties hold the name, the local start, the
// zone's offset ("+02:00", absent when unknown) and the UTC time of every position
// ("coordTimes", or "time" for a Point).
std::string trackGeoJson(const Track &track, std::string_view name, const std::string &utc_offset);

// One row per record: time since the recording's start (s), x, y, z (as stored, the
// recorder's baseline removed) and 1 for the records of the pre-event part.
std::string gsensorCsv(const GSensorData &data);

// "12.345" for 12345 ms.
std::string secondsText(int64_t ms);

// GPX's <fix> for a GGA fix quality and satellite count; empty when it says nothing.
std::string_view gpxFix(int quality, int sats);

}  // namespace kv_export
