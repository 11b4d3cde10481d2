#include "XpCrtCompat.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

namespace XpCrtCompat {

namespace {

const __int64 kUnixEpochIn100ns = 116444736000000000LL;  // 1970-01-01 as a FILETIME

__time64_t FromFileTime(const FILETIME& ft) {
  ULARGE_INTEGER v;
  v.LowPart = ft.dwLowDateTime;
  v.HighPart = ft.dwHighDateTime;
  return static_cast<__time64_t>((static_cast<__int64>(v.QuadPart) - kUnixEpochIn100ns) / 10000000LL);
}

void* CrtCall(const char* name) {
  HMODULE crt = GetModuleHandleW(L"msvcrt.dll");
  return crt != NULL ? reinterpret_cast<void*>(GetProcAddress(crt, name)) : NULL;
}

// The time type of msvcrt.dll's own localtime and mktime: 32 bits in the
// 32-bit library, 64 bits in the 64-bit one.
#ifdef _WIN64
typedef __time64_t CrtTime;
#else
typedef long CrtTime;
#endif
typedef struct tm*(__cdecl* LocalTime32Fn)(const CrtTime*);
typedef CrtTime(__cdecl* MkTime32Fn)(struct tm*);

}  // namespace

__time64_t Time64(__time64_t* out) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  __time64_t t = FromFileTime(now);
  if (out != nullptr) *out = t;
  return t;
}

struct tm* LocalTime64(const __time64_t* time) {
  if (time == nullptr || *time < 0 || *time > 0x7FFFFFFFLL) return nullptr;
  LocalTime32Fn localTime32 = reinterpret_cast<LocalTime32Fn>(CrtCall("localtime"));
  if (localTime32 == nullptr) return nullptr;
  CrtTime t32 = static_cast<CrtTime>(*time);
  return localTime32(&t32);
}

__time64_t MkTime64(struct tm* parts) {
  MkTime32Fn mkTime32 = reinterpret_cast<MkTime32Fn>(CrtCall("mktime"));
  if (parts == nullptr || mkTime32 == nullptr) return -1;
  __time64_t t = static_cast<__time64_t>(mkTime32(parts));
  return t < 0 || t > 0x7FFFFFFFLL ? -1 : t;
}

int WStat64(const wchar_t* path, struct _stat64* out) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path == nullptr || out == nullptr || !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
    errno = ENOENT;
    return -1;
  }
  std::memset(out, 0, sizeof(*out));
  bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  unsigned short mode = folder ? (_S_IFDIR | _S_IEXEC) : _S_IFREG;
  mode |= _S_IREAD;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0) mode |= _S_IWRITE;
  // The three permission groups carry the same bits, as the run-time reports them.
  out->st_mode = static_cast<unsigned short>(mode | ((mode & 0700) >> 3) | ((mode & 0700) >> 6));
  out->st_nlink = 1;
  out->st_size = folder ? 0 : ((static_cast<__int64>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  out->st_mtime = FromFileTime(data.ftLastWriteTime);
  out->st_atime = data.ftLastAccessTime.dwHighDateTime || data.ftLastAccessTime.dwLowDateTime
                      ? FromFileTime(data.ftLastAccessTime)
                      : out->st_mtime;
  out->st_ctime = data.ftCreationTime.dwHighDateTime || data.ftCreationTime.dwLowDateTime
                      ? FromFileTime(data.ftCreationTime)
                      : out->st_mtime;
  if (path[0] != 0 && path[1] == L':') {
    wchar_t letter = path[0];
    if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - L'a' + L'A');
    if (letter >= L'A' && letter <= L'Z') out->st_dev = out->st_rdev = letter - L'A';
  }
  return 0;
}

int VscWPrintf(const wchar_t* /*format*/, va_list /*args*/) { return -1; }

double WToF(const wchar_t* text) { return text != nullptr ? std::wcstod(text, nullptr) : 0.0; }

}  // namespace XpCrtCompat

#if defined(__MINGW32__) && !defined(_WIN64)
// The import entries of the 32-bit program: each looks its call up once in
// msvcrt.dll and otherwise uses the fallback. Defining the import pointers
// here keeps the names out of the program's import table.
namespace {

template <class Fn>
Fn Bind(Fn* slot, const char* name, Fn fallback) {
  Fn f = *slot;
  if (f == nullptr) {
    f = reinterpret_cast<Fn>(XpCrtCompat::CrtCall(name));
    if (f == nullptr) f = fallback;
    *slot = f;  // a racing thread stores the same value
  }
  return f;
}

typedef __time64_t(__cdecl* Time64Fn)(__time64_t*);
typedef struct tm*(__cdecl* LocalTime64Fn)(const __time64_t*);
typedef __time64_t(__cdecl* MkTime64Fn)(struct tm*);
typedef int(__cdecl* WStat64Fn)(const wchar_t*, struct _stat64*);
typedef int(__cdecl* VscWPrintfFn)(const wchar_t*, va_list);
typedef double(__cdecl* WToFFn)(const wchar_t*);

Time64Fn g_time64;
LocalTime64Fn g_localtime64;
MkTime64Fn g_mktime64;
WStat64Fn g_wstat64;
VscWPrintfFn g_vscwprintf;
WToFFn g_wtof;

__time64_t __cdecl Time64Entry(__time64_t* t) { return Bind(&g_time64, "_time64", &XpCrtCompat::Time64)(t); }
struct tm* __cdecl LocalTime64Entry(const __time64_t* t) {
  return Bind(&g_localtime64, "_localtime64", &XpCrtCompat::LocalTime64)(t);
}
__time64_t __cdecl MkTime64Entry(struct tm* t) {
  return Bind(&g_mktime64, "_mktime64", &XpCrtCompat::MkTime64)(t);
}
int __cdecl WStat64Entry(const wchar_t* path, struct _stat64* out) {
  return Bind(&g_wstat64, "_wstat64", &XpCrtCompat::WStat64)(path, out);
}
int __cdecl VscWPrintfEntry(const wchar_t* format, va_list args) {
  return Bind(&g_vscwprintf, "_vscwprintf", &XpCrtCompat::VscWPrintf)(format, args);
}
double __cdecl WToFEntry(const wchar_t* text) { return Bind(&g_wtof, "_wtof", &XpCrtCompat::WToF)(text); }

}  // namespace

extern "C" {
Time64Fn __MINGW_IMP_SYMBOL(_time64) = &Time64Entry;
LocalTime64Fn __MINGW_IMP_SYMBOL(_localtime64) = &LocalTime64Entry;
MkTime64Fn __MINGW_IMP_SYMBOL(_mktime64) = &MkTime64Entry;
WStat64Fn __MINGW_IMP_SYMBOL(_wstat64) = &WStat64Entry;
VscWPrintfFn __MINGW_IMP_SYMBOL(_vscwprintf) = &VscWPrintfEntry;
WToFFn __MINGW_IMP_SYMBOL(_wtof) = &WToFEntry;
}
#endif
