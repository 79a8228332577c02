// SPDX-License-Identifier: MIT
/*
 * sem_util: an in-process lock that serialises the threads of one program on a client
 * unit. It is not shared between processes.
 */
#ifndef KV_SEM_UTIL_H
#define KV_SEM_UTIL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque; null is "invalid". */
typedef void *SemHandl_t;

/* A new unlocked lock, or null (with a message on standard error). Free with DestroySem. */
SemHandl_t MakeSem(void);
/* Lock / unlock; the result of the lock call, or -1 for a null handle. */
int SemWait(SemHandl_t hndlSem);
int SemRelease(SemHandl_t hndlSem);
/* Waits for a current holder, destroys and frees the lock; 0, or -1 for a null handle. */
int DestroySem(SemHandl_t hndlSem);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
namespace kv {
/* Holds a client unit's lock for one exchange (a null handle is reported by the lock
 * calls, and the exchange goes on without mutual exclusion). */
class SemHold {
 public:
  // Waits for the lock; the destructor releases it.
  explicit SemHold(SemHandl_t handle) : handle_(handle) { SemWait(handle_); }
  ~SemHold() { SemRelease(handle_); }
  SemHold(const SemHold &) = delete;
  SemHold &operator=(const SemHold &) = delete;

 private:
  SemHandl_t handle_;
};
}  // namespace kv
#endif

#endif
