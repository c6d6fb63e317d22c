#ifndef PLATFORM_AUDIO_AUDTEST_EVENTLOG_H
#define PLATFORM_AUDIO_AUDTEST_EVENTLOG_H
/*
 * Event log: the one channel through which the engine, the detectors, the
 * tests and the EEPROM library write diagnostic text. Everything goes to
 * standard error, which is flushed after every call so that these lines
 * interleave correctly with the harness's own output. No prefix, time stamp
 * or newline is added: callers put "\n" in their own formats. Write errors
 * are ignored; only the flush result is passed back.
 */
#include <stdarg.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

int veventlog(const char *format, va_list args);
void eventlog(const char *format, ...) __attribute__((format(printf, 1, 2)));
int eventlogputs(const char *text);
int eventlogwrite(const void *buffer, size_t count);
/* As eventlog, then aborts the process. */
void eventlog_die(const char *format, ...) __attribute__((noreturn, format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif

#endif
