// SPDX-License-Identifier: MIT
// What the exporter is given, gathered into recordings: the ".gps", ".gsf" and ".mp4"
// files of one name stem are one recording, and recordings are grouped by the folder they lie in
// (one page per folder). A folder is read flat, as the recorder keeps it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv_export {

struct RecordingFiles {
  std::string stem;           // file name without folder and extension
  std::string gps, gsf, mp4;  // paths; empty when the recording has no such file
};

struct FolderRecordings {
  std::string folder;                      // as given (or the folder of a given file)
  std::string real;                        // its canonical path: the same folder given twice is one
  std::vector<RecordingFiles> recordings;  // in name order, which is start-time order
};

// Gathers the recordings named by `inputs` (files and folders; a card's root stands for
// its "Recordings" folder). Each input that cannot be used adds a message to `errors`
// ("<path>: <reason>"); what a person should know besides goes into `notes`.
std::vector<FolderRecordings> gatherRecordings(const std::vector<std::string> &inputs,
                                               std::vector<std::string> &errors,
                                               std::vector<std::string> &notes);

// What the recording name rule of the recorder tells about a stem
// ("20240507-123519_EVT_D_F": start, kind, driving or parked, unit); empty when the stem
// does not follow it.
std::string describeRecordingName(std::string_view stem);

}  // namespace kv_export
