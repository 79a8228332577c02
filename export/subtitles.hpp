// SPDX-License-Identifier: MIT
// Subtitles for a recording's video, one cue per second: the unit's local time (with its
// zone where known), the speed and the position of the last fix. SubRip (STEM.srt) is
// what players such as VLC and mpv pick up beside a video of the same name; WebVTT
// (STEM.vtt) is what a browser's <track> takes.
#pragma once

#include <string>

#include "recording_data.hpp"
#include "recording_facts.hpp"

namespace kv_export {

enum class SubtitleFormat { kSrt, kVtt };

// Cues from 0 to the end of the track (rounded up to whole seconds); empty when the
// track has no line at all.
std::string subtitles(const Track &track, const RecordingFacts &facts, SubtitleFormat format);

}  // namespace kv_export
