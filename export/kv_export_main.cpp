// SPDX-License-Identifier: MIT
// kv_export: turns the recorder's recordings (GPS track ".gps", G-sensor data ".gsf",
// video ".mp4") into files and pages a person can look at: GPX, CSV and GeoJSON tracks,
// subtitles, G-sensor CSV, a picture per recording, a page per recording with its video,
// map and charts in step, and an overview of the trips. A workstation tool: it reads a
// card (or copies of its files) and never writes beside the recordings unless told to.
#include <stdio.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli.hpp"
#include "export_run.hpp"
#include "file_io.hpp"
#include "kv_cmdline.h"
#include "recordings.hpp"

namespace {

using namespace kv_export;

bool makeOutputFolder(const std::string &dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    fprintf(stderr, "kv_export: cannot make the output folder %s: %s\n", dir.c_str(),
            ec ? ec.message().c_str() : "not a folder");
    return false;
  }
  return true;
}

void tellEmptyFolders(const std::vector<FolderRecordings> &folders) {
  for (const auto &f : folders)
    if (f.recordings.empty())
      fprintf(stderr,
              "kv_export: %s: no .gps, .gsf or .mp4 file in it (a card's recordings are in "
              "its Recordings folder)\n",
              f.folder.c_str());
}

}  // namespace

int main(int argc, char **argv) {
  kv_answer_help_or_version("kv_export", argc, argv);
  Run run;
  if (!parseArgs(argc, argv, run.opt)) return 2;
  if (run.opt.help) {
    fputs(kUsage, stdout);
    return 0;
  }
  removeTemporaryFileOnSignals();

  std::vector<std::string> errors, notes;
  std::vector<FolderRecordings> folders = gatherRecordings(run.opt.inputs, errors, notes);
  for (const auto &e : errors) fail(run, e);
  for (const auto &n : notes) fprintf(stderr, "kv_export: %s\n", n.c_str());
  tellEmptyFolders(folders);
  size_t recordings = 0;
  for (const auto &f : folders) recordings += f.recordings.size();
  if (recordings == 0) {
    fail(run, "no recording (.gps, .gsf or .mp4 file) to export");
    return 1;
  }
  if (!makeOutputFolder(run.opt.out_dir)) return 1;
  exportAll(run, folders);
  return run.status;
}
