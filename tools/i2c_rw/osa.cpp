// SPDX-License-Identifier: MIT
#include "osa.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

extern "C" {

OSA_MutexHndl gOSA_printfLock = {PTHREAD_MUTEX_INITIALIZER};

int OSA_init(void) {
  if (OSA_mutexCreate(&gOSA_printfLock) != OSA_SOK) {
    OSA_error("osa.c", "OSA_init", 17, "OSA_mutexCreate()\n");
    return OSA_EFAIL;
  }
  return OSA_SOK;
}

int OSA_exit(void) { return OSA_mutexDelete(&gOSA_printfLock); }

int OSA_printf(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  OSA_mutexLock(&gOSA_printfLock);
  int n = vprintf(format, ap);
  OSA_mutexUnlock(&gOSA_printfLock);
  va_end(ap);
  return n;
}

void OSA_error(const char *file, const char *function, int line, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  OSA_mutexLock(&gOSA_printfLock);
  fprintf(stderr, " ERROR  (%s|%s|%d): ", file, function, line);
  vfprintf(stderr, format, ap);
  OSA_mutexUnlock(&gOSA_printfLock);
  va_end(ap);
}

int OSA_waitMsecs(uint32_t msecs) {
  struct timespec left = {static_cast<time_t>(msecs / 1000),
                          static_cast<long>(msecs % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0)
    if (errno != EINTR) return OSA_EFAIL;
  return OSA_SOK;
}

uint32_t OSA_getCurTimeInMsec(void) {
  struct timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

int OSA_attachSignalHandler(int sigId, void (*handler)(int)) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  return sigaction(sigId, &action, nullptr) == 0 ? OSA_SOK : OSA_EFAIL;
}

int OSA_getHostName(char *hostname, int maxHostNameLen) {
  if (!hostname || maxHostNameLen <= 0) return OSA_EFAIL;
  size_t size = static_cast<size_t>(maxHostNameLen);
  // gethostname() need not terminate a name it had to cut.
  int status = gethostname(hostname, size);
  hostname[size - 1] = '\0';
  return status == 0 ? OSA_SOK : OSA_EFAIL;
}

}  // extern "C"
