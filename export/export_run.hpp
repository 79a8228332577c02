// SPDX-License-Identifier: MIT
// One run of kv_export: every recording read once, its files and page written, then the
// overview of all of them. Outputs are named after the recordings' stems; a stem met in
// two folders gets "-2" on its second set of files.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "cli.hpp"
#include "recordings.hpp"

namespace kv_export {

struct Run {
  Options opt;
  std::set<std::string> used_names;
  int status = 0;  // 0, or 1 once an input could not be used or an output not written
};

// Exports everything gathered; the run's status afterwards says how it went.
void exportAll(Run &run, const std::vector<FolderRecordings> &folders);

// Says `what` on standard error and makes the run end with status 1.
void fail(Run &run, const std::string &what);

}  // namespace kv_export
