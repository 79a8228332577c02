// SPDX-License-Identifier: MIT
// The demo's folder: where it goes, and the folders of earlier demos it removes.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

namespace kvdemo {

// The GPS start record holds a stem of 79 characters: the board's root may take this many
// (the folder and the 23-character name take the rest).
inline constexpr size_t kMaxBoardRoot = 79 - 19 - 24;

// Where a demo's folder may go, in order: the temporary folder, then /tmp and /var/tmp.
std::vector<std::string> demoParents();

// The demo's own folder "kv-demo.XXXXXX", marked with this process's number, in the first
// of `parents` where a board's folder inside it fits a recording's name stem; it says so
// when that is not the first. "" when there is none.
std::string makeDemoFolder(const std::vector<std::string> &parents);

// Removes the folders this user's earlier demos left in `parents`, with the queues and
// segments of their boards; not one whose demo still runs, nor another user's, nor a
// folder without the demo's mark. The number removed.
int removeOldDemos(const std::vector<std::string> &parents);

}  // namespace kvdemo
