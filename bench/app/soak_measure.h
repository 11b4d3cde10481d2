// What a running process holds, seen from outside it: for the soak benchmark.
// Handle, thread and private byte counts come from the system's process list;
// GDI and USER objects from GetGuiResources (a stub under Wine, where the GDI
// handle table the process publishes in its PEB is counted instead, and its
// top-level and child windows stand for the USER objects); the loaded modules
// and each thread's stack reservation from the process's own memory. Under
// Wine the private bytes are the Unix process's anonymous resident memory
// (RssAnon + VmSwap of /proc/<pid>/status), and the breakdown reads
// /proc/<pid>/smaps and places every anonymous page in a Windows region.
#pragma once

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace Soak {

struct ThreadRecord {
  LARGE_INTEGER KernelTime;
  LARGE_INTEGER UserTime;
  LARGE_INTEGER CreateTime;
  ULONG WaitTime;
  PVOID StartAddress;
  HANDLE UniqueProcess;
  HANDLE UniqueThread;
  LONG Priority;
  LONG BasePriority;
  ULONG ContextSwitches;
  ULONG ThreadState;
  ULONG WaitReason;
};

struct ProcessRecord {
  ULONG NextEntryOffset;
  ULONG NumberOfThreads;
  LARGE_INTEGER WorkingSetPrivateSize;
  ULONG HardFaultCount;
  ULONG NumberOfThreadsHighWatermark;
  ULONGLONG CycleTime;
  LARGE_INTEGER CreateTime;
  LARGE_INTEGER UserTime;
  LARGE_INTEGER KernelTime;
  struct {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
  } ImageName;
  LONG BasePriority;
  HANDLE UniqueProcessId;
  HANDLE InheritedFromUniqueProcessId;
  ULONG HandleCount;
  ULONG SessionId;
  ULONG_PTR UniqueProcessKey;
  SIZE_T PeakVirtualSize;
  SIZE_T VirtualSize;
  ULONG PageFaultCount;
  SIZE_T PeakWorkingSetSize;
  SIZE_T WorkingSetSize;
  SIZE_T QuotaPeakPagedPoolUsage;
  SIZE_T QuotaPagedPoolUsage;
  SIZE_T QuotaPeakNonPagedPoolUsage;
  SIZE_T QuotaNonPagedPoolUsage;
  SIZE_T PagefileUsage;
  SIZE_T PeakPagefileUsage;
  SIZE_T PrivatePageCount;
  LARGE_INTEGER IoCounters[6];
  // ThreadRecord Threads[NumberOfThreads] follow.
};

typedef LONG(WINAPI* QuerySystemInformationFn)(ULONG, void*, ULONG, ULONG*);
typedef LONG(WINAPI* QueryProcessFn)(HANDLE, ULONG, void*, ULONG, ULONG*);
typedef LONG(WINAPI* QueryThreadFn)(HANDLE, ULONG, void*, ULONG, ULONG*);
typedef char*(CDECL* UnixFileNameFn)(const wchar_t*);

inline FARPROC NtdllEntry(const char* name) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll ? GetProcAddress(ntdll, name) : nullptr;
}

inline bool UnderWine() { return NtdllEntry("wine_get_version") != nullptr; }

struct Sample {
  DWORD handles = 0;
  DWORD threads = 0;
  SIZE_T privateBytes = 0;
  DWORD gdi = 0;
  DWORD user = 0;
  bool guiFromWine = false;  // GDI from the PEB's table, USER as windows
  std::vector<DWORD> threadIds;
};

inline std::vector<unsigned char> ProcessList() {
  std::vector<unsigned char> buffer(1 << 20);
  QuerySystemInformationFn query = reinterpret_cast<QuerySystemInformationFn>(
      reinterpret_cast<void*>(NtdllEntry("NtQuerySystemInformation")));
  if (!query) return std::vector<unsigned char>();
  ULONG needed = 0;
  LONG status;
  while ((status = query(5 /* SystemProcessInformation */, buffer.data(), static_cast<ULONG>(buffer.size()),
                         &needed)) == static_cast<LONG>(0xC0000004))  // STATUS_INFO_LENGTH_MISMATCH
    buffer.resize(buffer.size() * 2);
  if (status < 0) return std::vector<unsigned char>();
  return buffer;
}

struct WindowCount {
  DWORD processId;
  DWORD count;
};

inline BOOL CALLBACK CountChild(HWND, LPARAM p) {
  ++reinterpret_cast<WindowCount*>(p)->count;
  return TRUE;
}

inline BOOL CALLBACK CountTopLevel(HWND w, LPARAM p) {
  WindowCount* c = reinterpret_cast<WindowCount*>(p);
  DWORD owner = 0;
  GetWindowThreadProcessId(w, &owner);
  if (owner != c->processId) return TRUE;
  ++c->count;
  EnumChildWindows(w, CountChild, p);
  return TRUE;
}

// Windows of a process: top-level ones on this thread's desktop, their
// children, and message-only windows.
inline DWORD WindowsOf(DWORD processId) {
  WindowCount c = {processId, 0};
  EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&c));
  HWND w = nullptr;
  while ((w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr)) != nullptr)
    CountTopLevel(w, reinterpret_cast<LPARAM>(&c));
  return c.count;
}

template <typename T>
bool ReadRemote(HANDLE process, ULONG_PTR at, T* value) {
  SIZE_T got = 0;
  return at != 0 && ReadProcessMemory(process, reinterpret_cast<const void*>(at), value, sizeof(T), &got) &&
         got == sizeof(T);
}

inline ULONG_PTR PebOf(HANDLE process) {
  QueryProcessFn query =
      reinterpret_cast<QueryProcessFn>(reinterpret_cast<void*>(NtdllEntry("NtQueryInformationProcess")));
  struct {
    LONG ExitStatus;
    ULONG_PTR PebBaseAddress;
    ULONG_PTR AffinityMask;
    LONG BasePriority;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR InheritedFromUniqueProcessId;
  } basic = {};
  if (!query || query(process, 0 /* ProcessBasicInformation */, &basic, sizeof(basic), nullptr) < 0) return 0;
  return basic.PebBaseAddress;
}

// Wine's GDI handle table, published in the PEB as Windows once did: 0x10000
// entries of 24 bytes; an entry in use has a non-zero type byte.
inline ULONG_PTR GdiTableOf(HANDLE process) {
#ifdef _WIN64
  const ULONG_PTR kOffset = 0xF8;
#else
  const ULONG_PTR kOffset = 0x94;
#endif
  ULONG_PTR table = 0;
  ReadRemote(process, PebOf(process) + kOffset, &table);
  return table;
}

const SIZE_T kGdiEntries = 0x10000, kGdiEntrySize = 24;

inline DWORD WineGdiObjects(HANDLE process) {
  ULONG_PTR table = GdiTableOf(process);
  if (!table) return 0;
  // Handles are taken from the start of the table up: the reading stops at
  // the first block never written, since reading a page of another process
  // makes it resident there (the whole table would add 1.5 MiB to it).
  const SIZE_T kBlock = 170 * kGdiEntrySize;  // just under a page
  std::vector<unsigned char> block(kBlock);
  DWORD n = 0;
  for (SIZE_T at = 0; at + kBlock <= kGdiEntries * kGdiEntrySize; at += kBlock) {
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(table + at), block.data(), kBlock, &got) ||
        got != kBlock)
      break;
    bool used = false;
    for (SIZE_T i = 0; i < kBlock; i += kGdiEntrySize) {
      if (block[i + 14] != 0) ++n;  // Type
      for (SIZE_T b = 0; b < kGdiEntrySize && !used; ++b) used = block[i + b] != 0;
    }
    if (!used) break;
  }
  return n;
}

inline Sample Measure(HANDLE process, DWORD processId) {
  Sample s;
  std::vector<unsigned char> buffer = ProcessList();
  size_t at = 0;
  while (!buffer.empty()) {
    const ProcessRecord* r = reinterpret_cast<const ProcessRecord*>(buffer.data() + at);
    if (reinterpret_cast<ULONG_PTR>(r->UniqueProcessId) == processId) {
      s.handles = r->HandleCount;
      s.threads = r->NumberOfThreads;
      s.privateBytes = r->PrivatePageCount != 0 ? r->PrivatePageCount : r->PagefileUsage;
      const ThreadRecord* t = reinterpret_cast<const ThreadRecord*>(r + 1);
      for (ULONG i = 0; i < r->NumberOfThreads; ++i)
        s.threadIds.push_back(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(t[i].UniqueThread)));
      break;
    }
    if (r->NextEntryOffset == 0) break;
    at += r->NextEntryOffset;
  }
  s.gdi = GetGuiResources(process, GR_GDIOBJECTS);
  s.user = GetGuiResources(process, GR_USEROBJECTS);
  if (s.gdi == 0 && s.user == 0 && UnderWine()) {
    s.guiFromWine = true;
    s.gdi = WineGdiObjects(process);
    s.user = WindowsOf(processId);
  }
  return s;
}

inline std::wstring BaseName(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

inline std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(towlower(c));
  return s;
}

struct Module {
  std::wstring name;
  ULONG_PTR base = 0;
  SIZE_T size = 0;
};

inline std::vector<Module> ModulesOf(HANDLE process) {
  std::vector<Module> out;
  std::vector<HMODULE> handles(512);
  DWORD needed = 0;
  if (!EnumProcessModules(process, handles.data(), static_cast<DWORD>(handles.size() * sizeof(HMODULE)),
                          &needed))
    return out;
  handles.resize(std::min<size_t>(handles.size(), needed / sizeof(HMODULE)));
  for (HMODULE h : handles) {
    Module m;
    wchar_t name[MAX_PATH] = {};
    GetModuleBaseNameW(process, h, name, MAX_PATH);
    MODULEINFO info = {};
    GetModuleInformation(process, h, &info, sizeof(info));
    m.name = Lower(name);
    m.base = reinterpret_cast<ULONG_PTR>(info.lpBaseOfDll);
    m.size = info.SizeOfImage;
    out.push_back(m);
  }
  return out;
}

struct Stack {
  DWORD threadId = 0;
  ULONG_PTR low = 0, high = 0;  // the reservation
  SIZE_T committed = 0;
};

inline std::vector<Stack> StacksOf(HANDLE process, const std::vector<DWORD>& threadIds) {
  std::vector<Stack> out;
  QueryThreadFn query =
      reinterpret_cast<QueryThreadFn>(reinterpret_cast<void*>(NtdllEntry("NtQueryInformationThread")));
  if (!query) return out;
  for (DWORD id : threadIds) {
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
    if (!thread) continue;
    struct {
      LONG ExitStatus;
      ULONG_PTR TebBaseAddress;
      HANDLE UniqueProcess;
      HANDLE UniqueThread;
      ULONG_PTR AffinityMask;
      LONG Priority;
      LONG BasePriority;
    } basic = {};
    LONG status = query(thread, 0 /* ThreadBasicInformation */, &basic, sizeof(basic), nullptr);
    CloseHandle(thread);
    NT_TIB tib = {};
    if (status < 0 || !ReadRemote(process, basic.TebBaseAddress, &tib)) continue;
    ULONG_PTR top = reinterpret_cast<ULONG_PTR>(tib.StackBase);
    MEMORY_BASIC_INFORMATION mbi = {};
    if (!VirtualQueryEx(process, reinterpret_cast<const void*>(top - 1), &mbi, sizeof(mbi))) continue;
    Stack s;
    s.threadId = id;
    s.low = reinterpret_cast<ULONG_PTR>(mbi.AllocationBase);
    s.high = top;
    for (ULONG_PTR p = s.low; p < top;) {
      if (!VirtualQueryEx(process, reinterpret_cast<const void*>(p), &mbi, sizeof(mbi)) ||
          mbi.RegionSize == 0)
        break;
      if (mbi.State == MEM_COMMIT) s.committed += mbi.RegionSize;
      p = reinterpret_cast<ULONG_PTR>(mbi.BaseAddress) + mbi.RegionSize;
    }
    out.push_back(s);
  }
  return out;
}

// --- Unix side (Wine only) --------------------------------------------------

inline std::string ReadUnixFile(const std::string& path) {
  std::wstring wide = L"Z:" + std::wstring(path.begin(), path.end());
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  HANDLE f = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(f, chunk, sizeof(chunk), &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(f);
  return text;
}

inline std::string UnixPathOf(const std::wstring& windowsPath) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  UnixFileNameFn toUnix = kernel ? reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void*>(
                                       GetProcAddress(kernel, "wine_get_unix_file_name")))
                                 : nullptr;
  if (!toUnix) return std::string();
  char* unix = toUnix(windowsPath.c_str());
  if (!unix) return std::string();
  std::string out(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

// The Unix process that maps the given program file (its Unix path).
inline int UnixPidMapping(const std::string& unixExe) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int pid = 0;
  do {
    int n = _wtoi(found.cFileName);
    if (n <= 0) continue;
    std::string maps = ReadUnixFile("/proc/" + std::to_string(n) + "/maps");
    if (maps.find(unixExe) != std::string::npos) {
      pid = n;
      break;
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return pid;
}

// Where the process's anonymous resident memory lies, in KiB per part.
struct Breakdown {
  std::map<std::string, unsigned long> parts;
  unsigned long total = 0;
};

inline Breakdown BreakDown(HANDLE process, int unixPid, const std::vector<Module>& modules,
                           const std::vector<Stack>& stacks) {
  Breakdown b;
  std::string smaps = ReadUnixFile("/proc/" + std::to_string(unixPid) + "/smaps");
  ULONG_PTR gdi = GdiTableOf(process);
  // Unix addresses may lie beyond what a 32-bit program can name.
  unsigned long long start = 0, end = 0;
  const unsigned long long kNameable = std::min<unsigned long long>(~static_cast<ULONG_PTR>(0), 1ULL << 47);
  std::string name;
  size_t pos = 0;
  while (pos < smaps.size()) {
    size_t eol = smaps.find('\n', pos);
    if (eol == std::string::npos) eol = smaps.size();
    std::string line = smaps.substr(pos, eol - pos);
    pos = eol + 1;
    unsigned long long a = 0, z = 0;
    char path[512] = {};
    unsigned long kb = 0;
    if (sscanf(line.c_str(), "%llx-%llx %*s %*s %*s %*s %511[^\n]", &a, &z, path) >= 2 &&
        line.find('-') < line.find(' ')) {
      start = a;
      end = z;
      name = path;
      continue;
    }
    if (sscanf(line.c_str(), "Anonymous: %lu kB", &kb) != 1 || kb == 0) continue;
    b.total += kb;
    std::string part;
    if (!name.empty() && name[0] == '/') {
      std::string base = name.substr(name.find_last_of('/') + 1);
      bool unixLibrary = base.find(".so") != std::string::npos || base.find("wine") == 0;
      part = (unixLibrary ? "Unix library data: " : "image pages written: ") + base;
    } else if (!name.empty()) {
      part = "Unix " + name;  // [heap], [stack]
    } else {
      MEMORY_BASIC_INFORMATION mbi = {};
      bool known = start < kNameable &&
                   VirtualQueryEx(process, reinterpret_cast<const void*>(static_cast<ULONG_PTR>(start)), &mbi,
                                  sizeof(mbi)) &&
                   mbi.State != MEM_FREE;
      ULONG_PTR base = known ? reinterpret_cast<ULONG_PTR>(mbi.AllocationBase) : 0;
      if (!known) {
        part = "Unix anonymous (Wine's own allocations, no Windows region)";
      } else if (gdi && base <= gdi && gdi < end) {
        part = "GDI handle table";
      } else {
        for (const Stack& s : stacks)
          if (start >= s.low && start < s.high) part = "thread stacks";
        for (const Module& m : modules)
          if (part.empty() && start >= m.base && start < m.base + m.size)
            part = "image pages written: " + std::string(m.name.begin(), m.name.end());
        if (part.empty())
          part = mbi.Type == MEM_MAPPED ? "Windows mapped views"
                                        : "Windows private (heaps, virtual allocations)";
      }
    }
    b.parts[part] += kb;
  }
  return b;
}

}  // namespace Soak
