// SPDX-License-Identifier: MIT
#include "sem_util.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>

namespace {
pthread_mutex_t *as_mutex(SemHandl_t h) { return static_cast<pthread_mutex_t *>(h); }
}  // namespace

extern "C" {

SemHandl_t MakeSem(void) {
  auto *mutex = static_cast<pthread_mutex_t *>(malloc(sizeof(pthread_mutex_t)));
  if (!mutex) {
    fprintf(stderr, "Error: Not enough memory!!\n");
    return nullptr;
  }
  if (pthread_mutex_init(mutex, nullptr) != 0) {
    fprintf(stderr, "Error: Sem_Creat init faill!!\n");
    free(mutex);
    return nullptr;
  }
  return mutex;
}

int SemWait(SemHandl_t hndlSem) {
  if (!hndlSem) {
    fprintf(stderr, "Error: SemWait: Invalid Semaphore handler\n");
    return -1;
  }
  return pthread_mutex_lock(as_mutex(hndlSem));
}

int SemRelease(SemHandl_t hndlSem) {
  if (!hndlSem) {
    fprintf(stderr, "Error: SemRelease: Invalid Semaphore handler\n");
    return -1;
  }
  return pthread_mutex_unlock(as_mutex(hndlSem));
}

int DestroySem(SemHandl_t hndlSem) {
  if (!hndlSem) {
    fprintf(stderr, "Error: DestroySem: Invalid Semaphore handler\n");
    return -1;
  }
  pthread_mutex_t *mutex = as_mutex(hndlSem);
  // Wait for a current holder before the mutex goes away under it.
  pthread_mutex_lock(mutex);
  pthread_mutex_unlock(mutex);
  if (pthread_mutex_destroy(mutex) != 0) fprintf(stderr, "Error: Sem_kill faill!!\n");
  free(mutex);
  return 0;
}

}  // extern "C"
