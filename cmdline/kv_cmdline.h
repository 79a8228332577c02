// SPDX-License-Identifier: MIT
// What every program of the recorder answers to "--help" and "--version".
//
// Each main calls kv_answer_help_or_version() as its first statement. The board's
// programs are started by scripts and servers that never pass these words, so answering
// them changes nothing for any caller; it lets a person try a program without it killing
// servers, unmounting the card or starting a second daemon.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// When the first argument is exactly "--help" (usage on standard output) or "--version"
// (the program's name and version), answers it and ends the process with status 0.
// Returns without doing anything otherwise. `program` is the program's own name, which
// selects its usage text.
void kv_answer_help_or_version(const char *program, int argc, char **argv);

#ifdef __cplusplus
}
#endif
