// SPDX-License-Identifier: MIT
/*
 * board_root: the one seam between the programs and the board.
 *
 * Every fixed path of the board (sysfs nodes, serial ports, /mnt, /proc, /opt/vcam ...),
 * every shell command, the clock, kernel modules and System V IPC keys pass through here.
 * When the environment variable KV_SYSROOT names a folder, paths are taken below it and
 * IPC keys are derived from it, so a simulated board on a workstation never touches the
 * host. Unset (and always in the firmware build), paths and keys are the system's own.
 */
#ifndef KV_BOARD_ROOT_H
#define KV_BOARD_ROOT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

struct timespec;
struct statfs;

#ifdef __cplusplus
extern "C" {
#endif

/* The folder that holds the simulated board, or "" on a real board. */
const char *kv_sysroot(void);

/* Writes the rooted form of the absolute board path `path` into `out` (size `outlen`).
 * Returns 0, or -1 when it does not fit (out then holds "" when outlen > 0). */
int kv_path(const char *path, char *out, size_t outlen);

/* Opens a board path through the seam; same flags and results as open()/fopen(). */
int kv_open(const char *path, int flags, ...);
FILE *kv_fopen(const char *path, const char *mode);

/* The one shell-command runner: system() and popen()/pclose() with the board's PATH. */
int kv_system(const char *command);
FILE *kv_popen(const char *command, const char *mode);
int kv_pclose(FILE *stream);

/* The IPC key to use for the system key `key` (identical on the board). */
int kv_ipc_key(int key);

/* Sets the wall clock. Under a sysroot the requested value is written to
 * "<root>/sim/clock" (seconds and nanoseconds) and the host clock is left alone. */
int kv_set_clock(const struct timespec *ts);

/* Kernel modules. Results as init_module()/delete_module() (-1 with errno). `name` is the
 * module's name as the kernel lists it. Under a sysroot the module is added to or removed
 * from the sandbox's proc/modules like the kernel does (loading a listed module: EEXIST;
 * removing one that is not listed: ENOENT), every call is noted in "sim/log/modules.log"
 * ("init <name> <params>", "delete <name>"), and the control file
 * "sim/ctl/modules/<name>" can make the module misbehave, one word a line:
 *   load=fail         init_module fails (ENOEXEC)
 *   load=never        init_module succeeds but the module is never listed
 *   load=late <ms>    it is listed only <ms> milliseconds later
 *   remove=refuse     delete_module fails (EBUSY) and the module stays */
int kv_init_module(const void *image, unsigned long len, const char *params, const char *name);
int kv_delete_module(const char *name, unsigned int flags);

/* The IPv4 address of the network interface `ifname` (network byte order) into *addr.
 * 0; -1 when the interface has no address or cannot be asked; -2 when no socket can be
 * opened. On the board the kernel is asked (SIOCGIFADDR); under a sysroot the address is
 * the dotted quad in "<root>/sim/net/<ifname>", which the sandbox's DHCP stand-in writes. */
int kv_if_ipv4(const char *ifname, uint32_t *addr);

/* statfs() through the seam. `path` is a board path, or one already below the board root
 * (as peers hand over). Under a sysroot the sandbox may state a file system's size in
 * "<root>/sim/statfs", one line per mount point: "<board mount point> bsize=N blocks=N
 * bfree=N bavail=N"; the longest mount point holding the path overrides the host's numbers,
 * so a test can have a full card on a workstation with room to spare. */
int kv_statfs(const char *path, struct statfs *out);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <string>
#include <string_view>
namespace kv {
/* The key kv_ipc_key gives `key` under the sysroot `root` (the key itself for an empty root):
 * a sandbox's leftovers are found by it after their process is gone. */
int ipc_key_for(std::string_view root, int key);
/* Rooted form of a board path, for C++ callers. */
std::string rooted(std::string_view path);
/* A path that arrives at run time: kept when it is already below the board root (or relative,
 * or there is no root), else taken as a board path and rooted. */
std::string resolved(std::string_view path);
}  // namespace kv
#endif

#endif
