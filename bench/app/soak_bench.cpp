// Soak benchmark of the real watcher under Wine: many simulated card
// insertions and removals with the reference importer, side by side with a
// minimal tray program (an icon and a message loop) started in the same run.
// It reports, for both programs, handle count, thread count and private bytes
// before, every 100 arrivals and after, and for the watcher the time from each
// insertion broadcast to the importer's start: median and worst, and how much
// lies beyond the quiet second. Nothing should grow with the number of arrivals.
// Run by hand: scripts/wine-run <build>/wine <build>/bench/bench_soak.exe [insertions]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/app/e2e/E2eSupport.h"

namespace {

using namespace E2e;

const wchar_t kExe[] = L"QRNVolumeWatcher.exe";
const wchar_t kBaseline[] = L"bench_minimal_tray.exe";
const wchar_t kImporter[] = L"Software\\Zelm Corporation\\Vantolo\\Importer\\SoakRef";
const wchar_t kWatcher[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcher";
const double kQuietMs = 1000.0;
// Figures are printed every so many insertions, so a long run that is cut
// short still tells its story.
const int kCheckpoint = 25;

double Ms(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t;
}

struct Sample {
  DWORD handles = 0;
  DWORD threads = 0;
  SIZE_T privateBytes = 0;
};

// The system's process list carries handle count, thread count and private
// bytes of every process (Wine fills them from its server and the Unix
// process), where the per-process queries of another process may not.
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
};

typedef LONG(WINAPI* QuerySystemInformationFn)(ULONG, void*, ULONG, ULONG*);

Sample Measure(const Process& p) {
  Sample s;
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  QuerySystemInformationFn query = ntdll ? reinterpret_cast<QuerySystemInformationFn>(reinterpret_cast<void*>(
                                               GetProcAddress(ntdll, "NtQuerySystemInformation")))
                                         : nullptr;
  if (!query) return s;
  std::vector<unsigned char> buffer(1 << 20);
  ULONG needed = 0;
  const ULONG kSystemProcessInformation = 5;
  LONG status;
  while ((status = query(kSystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                         &needed)) == static_cast<LONG>(0xC0000004))  // STATUS_INFO_LENGTH_MISMATCH
    buffer.resize(buffer.size() * 2);
  if (status < 0) return s;
  size_t at = 0;
  for (;;) {
    const ProcessRecord* r = reinterpret_cast<const ProcessRecord*>(buffer.data() + at);
    if (reinterpret_cast<ULONG_PTR>(r->UniqueProcessId) == p.Id()) {
      s.handles = r->HandleCount;
      s.threads = r->NumberOfThreads;
      s.privateBytes = r->PrivatePageCount != 0 ? r->PrivatePageCount : r->PagefileUsage;
      break;
    }
    if (r->NextEntryOffset == 0) break;
    at += r->NextEntryOffset;
  }
  return s;
}

void Print(const wchar_t* when, const Sample& watcher, const Sample& baseline) {
  wprintf(
      L"%-14ls watcher: %4lu handles %3lu threads %7lu KiB private | minimal tray: %4lu handles %3lu threads "
      L"%7lu KiB private\n",
      when, static_cast<unsigned long>(watcher.handles), static_cast<unsigned long>(watcher.threads),
      static_cast<unsigned long>(watcher.privateBytes / 1024), static_cast<unsigned long>(baseline.handles),
      static_cast<unsigned long>(baseline.threads), static_cast<unsigned long>(baseline.privateBytes / 1024));
  fflush(stdout);
}

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int insertions = argc > 1 ? _wtoi(argv[1]) : 1000;
  if (insertions <= 0) insertions = 1000;
  std::wstring dir = ProgramDir();
  if (!FileExists(dir + kExe) || !FileExists(dir + kBaseline)) {
    wprintf(L"bench_soak: %ls or %ls is missing\n", kExe, kBaseline);
    return 1;
  }
  PrepareDesktop();
  std::wstring work = dir + L"soak_work";
  std::wstring importer = work + L"\\importer";
  std::wstring card = work + L"\\card";
  std::wstring log = importer + L"\\RefImporter.log";
  CreateDirectoryW(work.c_str(), nullptr);
  CopyInto(dir + L"RefImporter.exe", importer, L"RefImporter.exe");
  CopyInto(dir + L"RefImporterLoc.dll", importer, L"RefImporterLoc.dll");
  CreateDirectoryW(card.c_str(), nullptr);
  CreateDirectoryW((card + L"\\DCIM").c_str(), nullptr);
  DeleteTree(HKEY_LOCAL_MACHINE, kWatcher);
  SetString(HKEY_LOCAL_MACHINE, kImporter, L"CurrentVersion", L"1.0");
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kImporter) + L"\\1.0", L"InstalledLocation", importer);
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kImporter) + L"\\1.0", L"ExeName", L"RefImporter.exe");

  Process baseline, watcher;
  if (!baseline.Start(Quoted(dir + kBaseline), dir)) {
    wprintf(L"bench_soak: the minimal tray program did not start\n");
    return 1;
  }
  if (!watcher.Start(Quoted(dir + kExe) + L" /noballoononstart", dir) ||
      WaitForWatcherWindow(watcher, 30000) == nullptr) {
    wprintf(L"bench_soak: the watcher did not start\n");
    return 1;
  }
  Sleep(3000);  // both settle: icons added, watcher threads running
  Sample watcherBefore = Measure(watcher), baselineBefore = Measure(baseline);
  wprintf(L"%d insertions and removals of drive W: with one importer module\n", insertions);
  Print(L"before", watcherBefore, baselineBefore);

  const std::wstring tool = Quoted(dir + L"drivetool.exe");
  std::vector<double> latency;
  int missed = 0;
  LARGE_INTEGER runStart = Now();
  for (int i = 1; i <= insertions; ++i) {
    DeleteFileW(log.c_str());
    DWORD code = 1;
    RunToEnd(tool + L" insert W " + Quoted(card), 30000, &code);
    LARGE_INTEGER t0 = Now();
    bool started = code == 0 && WaitUntil(
                                    20000, [&] { return CountRuns(ReadModuleLog(log), {L"W:\\"}) > 0; }, 10);
    if (started)
      latency.push_back(Ms(t0, Now()));
    else
      ++missed;
    RunToEnd(tool + L" remove W", 30000, nullptr);
    // The removal must settle for its own quiet second, or the next insertion
    // would fall into the same burst and cancel out.
    Sleep(1300);
    if (i % kCheckpoint == 0 || i == insertions) {
      wchar_t when[32];
      swprintf(when, 32, L"after %d", i);
      Print(when, Measure(watcher), Measure(baseline));
      wprintf(L"               importer started for %u of %d so far: median %.0f ms, worst %.0f ms\n",
              static_cast<unsigned>(latency.size()), i, Percentile(latency, 0.5), Percentile(latency, 1.0));
      fflush(stdout);
    }
    if (!watcher.Running()) {
      wprintf(L"bench_soak: the watcher ended after %d insertions\n", i);
      break;
    }
  }
  double minutes = Ms(runStart, Now()) / 60000.0;
  Sleep(3000);
  Sample watcherAfter = Measure(watcher), baselineAfter = Measure(baseline);
  Print(L"after (idle)", watcherAfter, baselineAfter);
  wprintf(
      L"growth over the run: watcher %+ld handles %+ld threads %+ld KiB private; minimal tray %+ld handles "
      L"%+ld threads %+ld KiB private\n",
      static_cast<long>(watcherAfter.handles) - static_cast<long>(watcherBefore.handles),
      static_cast<long>(watcherAfter.threads) - static_cast<long>(watcherBefore.threads),
      (static_cast<long>(watcherAfter.privateBytes) - static_cast<long>(watcherBefore.privateBytes)) / 1024,
      static_cast<long>(baselineAfter.handles) - static_cast<long>(baselineBefore.handles),
      static_cast<long>(baselineAfter.threads) - static_cast<long>(baselineBefore.threads),
      (static_cast<long>(baselineAfter.privateBytes) - static_cast<long>(baselineBefore.privateBytes)) /
          1024);
  double median = Percentile(latency, 0.5), worst = Percentile(latency, 1.0);
  wprintf(
      L"insertion broadcast to importer started: %u of %d started (%d missed) in %.1f min; median %.0f ms "
      L"(%.0f ms beyond the quiet second), 95th percentile %.0f ms, worst %.0f ms (%.0f ms beyond the quiet "
      L"second)\n",
      static_cast<unsigned>(latency.size()), insertions, missed, minutes, median, median - kQuietMs,
      Percentile(latency, 0.95), worst, worst - kQuietMs);
  fflush(stdout);

  RunToEnd(Quoted(dir + kExe) + L" /exit", 30000, nullptr);
  watcher.Wait(15000);
  HWND tray = FindWindowW(L"VantoloSoakBaselineTray", L"");
  if (tray) PostMessageW(tray, WM_CLOSE, 0, 0);
  baseline.Wait(5000);
  DeleteTree(HKEY_LOCAL_MACHINE, kImporter);
  return 0;
}
