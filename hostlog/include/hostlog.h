/*
 * Host support library: the log writer that the driver calls as err().
 *
 * One err() call writes one line: a time stamp, the level and the formatted text.
 * Lines go to standard error unless the host names a file, and a level mask filters
 * them (a line is written when its level shares a bit with the mask). The host can
 * configure the sink from code, or through ZEL_LOG_FILE and ZEL_LOG_MASK in the
 * environment, which are read once at the first line when the code has set nothing.
 */
#ifndef HOSTLOG_H
#define HOSTLOG_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(HOSTLOG_BUILD)
#define HOSTLOG_API __declspec(dllexport)
#else
#define HOSTLOG_API __declspec(dllimport)
#endif
#else
#define HOSTLOG_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Writes one log line, whole whatever the length of its text. Conversions: integers
 * (d i u x X o, with hh h l ll j z t), floating point (f F e E g G a A, with l or L), %c,
 * %C (a character passed as a 32-bit integer), %s, %p and %%; widths and precisions
 * written out or '*'. Any other conversion (%n, %ls, %lc, an unknown letter or modifier,
 * a width or a number's precision above 512) is refused: it appears as written, and no
 * later conversion of the format reads an argument. Returns the length of the text. */
HOSTLOG_API int err(int32_t level, const char *format, ...);

/* Sends the lines to the file at path (appended), or to standard error for NULL or "".
 * Returns 0, or -1 when the file cannot be opened (the sink is then unchanged). */
HOSTLOG_API int hostlog_open(const char *path);

/* Writes only lines whose level shares a bit with mask; the default is all lines. */
HOSTLOG_API void hostlog_set_mask(uint32_t mask);

/* Formats like err() into out (always terminated when size > 0); returns the length
 * the whole text would have. */
HOSTLOG_API size_t hostlog_vformat(char *out, size_t size, const char *format, va_list args);

#ifdef __cplusplus
}
#endif

#endif
