// SPDX-License-Identifier: MIT
/*
 * share_mem: the System V shared segment of a server channel. Every read and write
 * attaches and detaches anew; nothing stays mapped between calls.
 */
#ifndef KV_SHARE_MEM_H
#define KV_SHARE_MEM_H

#ifdef __cplusplus
extern "C" {
#endif

/* Size of a segment that a client creates. An existing segment is used at any size. */
#define PROC_MEM_SIZE 0x1B000
/* Each process id p owns the slot at p * PROC_MSG_SIZE - 2 * PROC_MSG_SIZE. */
#define PROC_MSG_SIZE 0x3000
#define PROC_SLOT_OFFSET(p) ((p)*PROC_MSG_SIZE - 2 * PROC_MSG_SIZE)

/* Creates (0x1B000 bytes, mode 0660) or opens the segment of `key`, remembers it as this
 * unit's segment and returns its id; -1 (remembered too) when neither works. */
int ShareMemInit(int key);
/* The same without remembering the id. */
int pShareMemInit(int key);
/* Copy `length` bytes into / out of this unit's segment at `offset`. A copy that would
 * pass the end of the segment, or a failed attach, copies nothing. */
void ShareMemWrite(int offset, void *buf, int length);
void ShareMemRead(int offset, void *buf, int length);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
namespace kv {
/* Copies between a caller's buffer and segment `shmid`, bounded by the segment's real
 * size. Returns 0, or -1 when nothing was copied (bad range, null buffer, failed attach). */
int segment_copy_in(int shmid, int offset, const void *buf, int length);
int segment_copy_out(int shmid, int offset, void *buf, int length);
}  // namespace kv
#endif

#endif
