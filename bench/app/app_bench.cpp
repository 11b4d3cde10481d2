// Benchmark of the real watcher program under Wine, side by side with the cost
// of starting one program directly in the same run:
//   1. start time: from CreateProcess to the hidden window, and to the icon
//      shown in the notification area (its start balloon becomes visible);
//   2. insertion: from the end of the drive tool's arrival broadcast to the start
//      of the chosen importer, and how much of it lies beyond the quiet second;
//   3. idle: processor time and memory of the resident program over a minute.
// Run by hand: scripts/wine-run <build>/wine <build>/bench/bench_app.exe [idle seconds]
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/app/e2e/E2eSupport.h"

namespace {

using namespace E2e;

const wchar_t kImporterName[] = L"BenchRef";

double Median(const std::vector<double>& v) { return Percentile(v, 0.5); }

struct Parts {
  std::wstring dir, work, importer, card;
  std::wstring exe() const { return dir + kExeName; }
  std::wstring log() const { return importer + L"\\RefImporter.log"; }
};

// One direct start of a small program: the unit the other times are compared with.
double DirectStart(const Parts& p) {
  LARGE_INTEGER t0 = Now();
  DWORD code = 0;
  if (!RunToEnd(Quoted(p.importer + L"\\RefImporter.exe") + L" /importscore " + Quoted(p.card), 30000,
                &code) ||
      code != 100)
    return -1;
  return Ms(t0, Now());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // It rewrites the suite's machine-wide configuration for the real program.
  ::testing::AssertionResult here = xptest::InPrivateWinePrefix();
  if (!here) {
    std::printf("bench_app: %s\n", here.message());
    return 1;
  }
  int idleSeconds = argc > 1 ? _wtoi(argv[1]) : 60;
  Parts p;
  p.dir = ProgramDir();
  if (!FileExists(p.exe())) {
    wprintf(L"bench_app: %ls is missing\n", p.exe().c_str());
    return 1;
  }
  PrepareDesktop();
  p.work = p.dir + L"bench_work";
  p.importer = p.work + L"\\importer";
  p.card = p.work + L"\\card";
  CreateDirectoryW(p.work.c_str(), nullptr);
  InstallRefImporter(p.dir, p.importer);
  CreateDirectoryW(p.card.c_str(), nullptr);
  CreateDirectoryW((p.card + L"\\DCIM").c_str(), nullptr);
  DeleteTree(HKEY_LOCAL_MACHINE, kWatcherKey);
  // For volumes, with a settings dialog: what missing values are read as.
  RegisterImporter(kImporterName, p.importer, 1, 1);

  std::vector<double> direct;
  for (int i = 0; i < 7; ++i) {
    double t = DirectStart(p);
    if (t >= 0 && i > 1) direct.push_back(t);  // the first two warm the caches
  }
  double unit = Median(direct);
  wprintf(L"direct start of one program to its end (median of %u): %.0f ms\n",
          static_cast<unsigned>(direct.size()), unit);

  // 1. Start time.
  std::vector<double> toWindow, toIdle;
  for (int i = 0; i < 5; ++i) {
    Process w;
    LARGE_INTEGER t0 = Now();
    if (!w.Start(Quoted(p.exe()), p.dir)) break;
    HWND window = WaitForWatcherWindow(w, 30000);
    LARGE_INTEGER tWindow = Now();
    bool shown = WaitUntil(30000, BalloonVisible, 5);
    LARGE_INTEGER tShown = Now();
    if (window == nullptr) {
      wprintf(L"start %d: no window\n", i);
      break;
    }
    toWindow.push_back(Ms(t0, tWindow));
    if (shown) toIdle.push_back(Ms(t0, tShown));
    ExitWatcher(&w, p.exe());
    WaitUntil(10000, [] { return !BalloonVisible(); });
  }
  wprintf(L"start to hidden window (median of %u): %.0f ms = %.2f direct starts\n",
          static_cast<unsigned>(toWindow.size()), Median(toWindow), Median(toWindow) / unit);
  wprintf(L"start to icon shown with its start balloon (median of %u): %.0f ms = %.2f direct starts\n",
          static_cast<unsigned>(toIdle.size()), Median(toIdle), Median(toIdle) / unit);

  // 2. Insertion to the start of the chosen importer, three cards.
  Process watcher;
  if (!StartWatcher(&watcher, p.exe())) {
    wprintf(L"bench_app: the watcher did not start\n");
    return 1;
  }
  Sleep(2000);
  std::vector<double> arrival;
  const std::wstring tool = Quoted(p.dir + L"drivetool.exe");
  for (int i = 0; i < 3; ++i) {
    DeleteFileW(p.log().c_str());
    DWORD code = 1;
    RunToEnd(tool + L" insert W " + Quoted(p.card), 30000, &code);
    LARGE_INTEGER t0 = Now();
    bool started =
        code == 0 && WaitUntil(
                         30000, [&] { return CountRuns(ReadModuleLog(p.log()), {L"W:\\"}) > 0; }, 10);
    if (started) arrival.push_back(Ms(t0, Now()));
    RunToEnd(tool + L" remove W", 30000, nullptr);
    Sleep(2500);
  }
  double a = Median(arrival);
  wprintf(
      L"insertion broadcast to importer started (median of %u): %.0f ms; beyond the 1000 ms quiet period: "
      L"%.0f ms = %.2f direct starts (the watcher runs one scoring start, then the import start)\n",
      static_cast<unsigned>(arrival.size()), a, a - 1000.0, (a - 1000.0) / unit);

  // 3. Idle for a minute.
  FILETIME c0, e0, k0, u0, c1, e1, k1, u1;
  GetProcessTimes(watcher.Handle(), &c0, &e0, &k0, &u0);
  LARGE_INTEGER t0 = Now();
  Sleep(static_cast<DWORD>(idleSeconds) * 1000);
  GetProcessTimes(watcher.Handle(), &c1, &e1, &k1, &u1);
  double wall = Ms(t0, Now());
  auto ticks = [](FILETIME f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  double cpu = static_cast<double>((ticks(k1) - ticks(k0)) + (ticks(u1) - ticks(u0))) / 10000.0;
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof(memory);
  GetProcessMemoryInfo(watcher.Handle(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
  double total = static_cast<double>(ticks(k1) + ticks(u1)) / 10000.0;
  wprintf(
      L"idle %d s: processor time %.1f ms (%.3f %% of one core; %.1f ms since its start, three cards "
      L"included); working set %lu KiB (peak %lu KiB), committed %lu KiB\n",
      idleSeconds, cpu, 100.0 * cpu / wall, total, static_cast<unsigned long>(memory.WorkingSetSize / 1024),
      static_cast<unsigned long>(memory.PeakWorkingSetSize / 1024),
      static_cast<unsigned long>(memory.PagefileUsage / 1024));
  // Under Wine the process times of another process can be coarse: the
  // resident program's Unix process can be checked with ps beside this run.
  wprintf(L"watcher process id %lu\n", static_cast<unsigned long>(watcher.Id()));

  ExitWatcher(&watcher, p.exe());
  DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kImporterKey) + L"\\" + kImporterName);
  return 0;
}
