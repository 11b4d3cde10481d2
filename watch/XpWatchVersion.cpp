#include "XpWatchCallbacks.h"

#include <cstring>

namespace XpWatchDetail {

namespace {

typedef LONG(WINAPI* RtlGetVersionFunction)(OSVERSIONINFOW*);

}  // namespace

bool QuerySystemVersion(OSVERSIONINFOW* info) {
    if (!info) return false;
    OSVERSIONINFOW v;
    memset(&v, 0, sizeof(v));
    v.dwOSVersionInfoSize = sizeof(v);
    // The kernel's own answer is not capped by compatibility shims; systems
    // without it (95/98/Me) answer through GetVersionExW.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll) {
        RtlGetVersionFunction rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
        if (rtlGetVersion && rtlGetVersion(&v) == 0) {
            *info = v;
            return true;
        }
    }
#ifdef _MSC_VER
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
    BOOL ok = GetVersionExW(&v);
#ifdef _MSC_VER
#pragma warning(pop)
#endif
    if (!ok) return false;
    *info = v;
    return true;
}

}  // namespace XpWatchDetail
