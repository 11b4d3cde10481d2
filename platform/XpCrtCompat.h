// Run-time library calls that the 32-bit program needs but the msvcrt.dll of
// Windows 2000 lacks (it predates the 64-bit time functions and a few others).
// In the 32-bit MinGW build the program's imports of these names are bound to
// entries that look the call up in msvcrt.dll at run time and use the
// fallbacks below where the system has none. The fallbacks are plain
// functions so that they can be tested on any system.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdarg>
#include <ctime>

namespace XpCrtCompat {

// Seconds since 1970 (UTC) from the system clock.
__time64_t Time64(__time64_t* out);
// Local time through the 32-bit call every msvcrt.dll has; null for a time
// outside 1970..2038, which that call cannot represent.
struct tm* LocalTime64(const __time64_t* time);
// The inverse, with the same range; -1 when outside it or invalid.
__time64_t MkTime64(struct tm* parts);
// Size, kind, read-only flag and times of a file or folder; -1 (errno ENOENT)
// when it does not exist.
int WStat64(const wchar_t* path, struct _stat64* out);
// The length a formatting would need is unknown without the system call: -1,
// which callers treat as "grow the buffer and try".
int VscWPrintf(const wchar_t* format, va_list args);
// A decimal number as the locale writes it.
double WToF(const wchar_t* text);

}  // namespace XpCrtCompat
