#ifndef PLATFORM_AUDIO_AUDTEST_CON_H
#define PLATFORM_AUDIO_AUDTEST_CON_H
/*
 * Console: an output object the test harness can be pointed at instead of
 * standard error.
 *
 * A concrete console embeds `con` as the FIRST member of a structure of its
 * own and fills in the operations; every operation receives the console
 * pointer, so it can cast back to the enclosing structure:
 *
 *     struct capture { con base; std::string text; };
 *     static int captureVout(con *c, const char *f, va_list a)
 *     { auto *self = reinterpret_cast<capture *>(c); ... }
 *
 * `vout` is required; `puts` and `write` may be null, in which case
 * con_puts/con_write fall back to `vout`. Every con_* operation returns -1
 * without output when the console pointer is null, or when it would need
 * `vout` and that is null (con_hexdump of 0 bytes writes no line and returns 0).
 */
#include <stdarg.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct con con;
struct con {
    /* Formatted output; returns a signed count (negative on error). Required. */
    int (*vout)(con *console, const char *format, va_list args);
    /* Writes a NUL-terminated text unchanged. May be null. */
    int (*puts)(con *console, const char *text);
    /* Writes exactly `length` bytes. May be null. */
    int (*write)(con *console, const void *buffer, size_t length);
};

/* Calls the console's vout and returns its result. */
int con_vout(con *console, const char *format, va_list args);
/* Formatting wrapper around con_vout. */
int con_out(con *console, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* The console's puts, or con_out("%s", text) when it has none. */
int con_puts(con *console, const char *text);
/*
 * The console's write, or con_out("%.*s", length, buffer) when it has none
 * (the fallback stops at a NUL byte; a length above INT_MAX gives -1).
 */
int con_write(con *console, const void *buffer, size_t length);

/* Longest line width of con_hexdump, in bytes. */
#define CON_HEXDUMP_MAX_WIDTH 32

/*
 * Hex dump, one con_puts per line of `bytes_per_line` bytes (capped at
 * CON_HEXDUMP_MAX_WIDTH):
 *     "<address of the line's first byte, %p> " then "%02x " per byte (three
 *     spaces past the end of the data), then one character per byte (the byte
 *     itself if 0x21..0x7e, else '.'; a space past the end), then "\n".
 * Returns 0 (also for a length of 0, which writes nothing), or -1 as soon as a
 * con_puts fails (the remaining lines are not written). A width of 0, or null
 * data with a non-zero length, is a caller error: -1 without output.
 */
int con_hexdump(con *console, const void *data, size_t length, size_t bytes_per_line);

#ifdef __cplusplus
}
#endif

#endif
