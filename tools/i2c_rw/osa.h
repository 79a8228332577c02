// SPDX-License-Identifier: MIT
/*
 * osa: the small OS layer of the I2C tool. Its one live part is the print lock: every
 * line the tool prints is written under gOSA_printfLock, which is statically initialised
 * and so works without OSA_init (the tool does not call it). The rest (sleep, clock,
 * signal handler, host name) keeps the layer whole for other service programs.
 */
#ifndef KV_OSA_H
#define KV_OSA_H

#include <stdint.h>

#include "osa_mutex.h"

#ifdef __cplusplus
extern "C" {
#endif

extern OSA_MutexHndl gOSA_printfLock;

/* Creates the print lock again; a failure is reported with
 * " ERROR  (osa.c|OSA_init|17): OSA_mutexCreate()\n". OSA_SOK or OSA_EFAIL. */
int OSA_init(void);
int OSA_exit(void);

/* printf to standard output under the print lock. */
int OSA_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* " ERROR  (<file>|<function>|<line>): " and the formatted text, on standard error under
 * the print lock. The place is given by the caller: service staff know the messages by it. */
void OSA_error(const char *file, const char *function, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

/* Sleeps msecs milliseconds, resuming after signals. */
int OSA_waitMsecs(uint32_t msecs);
/* Milliseconds of the monotonic clock (wraps after 49 days). */
uint32_t OSA_getCurTimeInMsec(void);
/* Installs handler for signal sigId. */
int OSA_attachSignalHandler(int sigId, void (*handler)(int));
/* The host name into hostname (maxHostNameLen bytes, always terminated). */
int OSA_getHostName(char *hostname, int maxHostNameLen);

#ifdef __cplusplus
}
#endif

#endif
