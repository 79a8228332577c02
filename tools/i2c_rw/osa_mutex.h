// SPDX-License-Identifier: MIT
/*
 * osa_mutex: the OS layer's mutex. A thin wrapper of a POSIX mutex, created, locked,
 * unlocked and deleted by handle. Results are OSA_SOK (0) or OSA_EFAIL (-1).
 */
#ifndef KV_OSA_MUTEX_H
#define KV_OSA_MUTEX_H

#include <pthread.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OSA_SOK 0
#define OSA_EFAIL -1

typedef struct {
  pthread_mutex_t lock;
} OSA_MutexHndl;

/* Creates the mutex in *hndl; a failure (a missing handle included) is reported on
 * standard error with " ERROR  (osa_mutex.c|OSA_mutexCreate|14): OSA_mutexCreate() = <n> \r\n". */
int OSA_mutexCreate(OSA_MutexHndl *hndl);
int OSA_mutexDelete(OSA_MutexHndl *hndl);
int OSA_mutexLock(OSA_MutexHndl *hndl);
int OSA_mutexUnlock(OSA_MutexHndl *hndl);

#ifdef __cplusplus
}
#endif

#endif
