// SPDX-License-Identifier: MIT
#include "osa_mutex.h"

#include <errno.h>

#include "osa.h"

extern "C" {

int OSA_mutexCreate(OSA_MutexHndl *hndl) {
  int status = EINVAL;
  if (hndl) {
    pthread_mutexattr_t attr;
    status = pthread_mutexattr_init(&attr);
    if (status == 0) {
      status = pthread_mutex_init(&hndl->lock, &attr);
      pthread_mutexattr_destroy(&attr);
    }
  }
  if (status != 0) {
    OSA_error("osa_mutex.c", "OSA_mutexCreate", 14, "OSA_mutexCreate() = %d \r\n", status);
    return OSA_EFAIL;
  }
  return OSA_SOK;
}

int OSA_mutexDelete(OSA_MutexHndl *hndl) {
  if (!hndl) return OSA_EFAIL;
  return pthread_mutex_destroy(&hndl->lock) == 0 ? OSA_SOK : OSA_EFAIL;
}

int OSA_mutexLock(OSA_MutexHndl *hndl) {
  if (!hndl) return OSA_EFAIL;
  return pthread_mutex_lock(&hndl->lock) == 0 ? OSA_SOK : OSA_EFAIL;
}

int OSA_mutexUnlock(OSA_MutexHndl *hndl) {
  if (!hndl) return OSA_EFAIL;
  return pthread_mutex_unlock(&hndl->lock) == 0 ? OSA_SOK : OSA_EFAIL;
}

}  // extern "C"
