// One HTML page per recordings folder: every recording's picture with its facts and links
// to its exported files. The page refers to the files beside it by name, so the output
// folder can be copied or served as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvx {

struct PageEntry {
  std::string name;                // the recording's stem
  std::string description;         // from its name: start, kind, unit
  std::vector<std::string> facts;  // "1800 points in 2 stretches with fix", ...
  std::vector<std::string> notes;  // what reading its files turned up
  std::vector<std::pair<std::string, std::string>> files;  // label, file name
  std::string picture;                                     // file name of its SVG, or empty
};

std::string folderPage(std::string_view folder, const std::vector<PageEntry> &entries);

}  // namespace kvx
