// SPDX-License-Identifier: MIT
// Reading inputs whole and writing outputs all-or-nothing. Every output is written under a
// temporary name in its own folder and renamed into place only when complete, so a reader
// (or a browser with the page open) never sees half a file, even if the exporter fails or
// is stopped while writing.
#pragma once

#include <string>
#include <string_view>

namespace kv_export {

// Reads a whole file; false with `error` set (the system's reason) when it cannot.
bool readWholeFile(const std::string &path, std::string &bytes, std::string &error);

// Writes `content` to `path` through a temporary file in the same folder and a rename;
// false with `error` set, and nothing left behind, when any step fails.
bool writeFileAtomically(const std::string &path, std::string_view content, std::string &error);

// SIGINT, SIGTERM and SIGHUP remove the temporary file being written before the exporter
// ends, so an interrupted run leaves no litter either.
void removeTemporaryFileOnSignals();

}  // namespace kv_export
