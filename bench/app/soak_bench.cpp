// Soak benchmark of the real watcher under Wine, beside a minimal tray program
// (an icon and a message loop) started in the same run as the yardstick.
//
// "mixed" (the default) goes over every road that could grow: cards in every
// free drive letter, a Launch rule that matches a card's label and one whose
// label does not match, an Ignore rule, volume label and serial reads, IEEE
// 1394 and portable-device arrivals (broadcast records as the system sends
// them), a session disconnect and reconnect every 100 arrivals (Wine never
// sends session changes: they are sent to the icon window as the system would)
// and the Devices window opened and closed every 100 arrivals. The watcher
// runs under Wine's Windows 98 setting there, the one road on which it
// identifies a card under Wine (from the registry trees the benchmark writes).
// "single" inserts and removes one card in W: on the system's own setting.
//
// At every checkpoint it prints, for both programs, handles, threads, private
// bytes, GDI and USER objects; at the start, after the first checkpoint and at
// the end the modules, the thread stacks and where the private bytes lie; and
// the speed figures as ratios to a bare process start timed in the same run.
// Run by hand: scripts/wine-run <state-dir> <build>/bench/bench_soak.exe [arrivals] [mixed|single] [period]
#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "bench/app/soak_measure.h"
#include "tests/app/e2e/E2eSupport.h"
#include "tests/device/DeviceRegistryFixture.h"

namespace {

using namespace E2e;

const wchar_t kBaseline[] = L"bench_minimal_tray.exe";
const wchar_t kBare[] = L"bench_bare_program.exe";
const wchar_t kImporterName[] = L"SoakRef";
const wchar_t kPhone[] =
    L"\\\\?\\usb#vid_04e8&pid_6860&ms_comp_mtp#6&1e6d7b7a&0&0000#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
const wchar_t kFireWire[] = L"\\\\?\\1394#soak#1";
const double kQuietMs = 1000.0;
const int kCheckpoint = 50;

struct Program {
  const wchar_t* label;
  Process process;
  int unixPid = 0;
  Soak::Sample first;
};

void PrintSample(const wchar_t* when, const Soak::Sample& w, const Soak::Sample& b) {
  wprintf(
      L"%-14ls watcher: %4lu handles %3lu threads %7lu KiB private %4lu GDI %3lu USER | minimal tray: %4lu "
      L"handles %3lu threads %7lu KiB private %4lu GDI %3lu USER\n",
      when, static_cast<unsigned long>(w.handles), static_cast<unsigned long>(w.threads),
      static_cast<unsigned long>(w.privateBytes / 1024), static_cast<unsigned long>(w.gdi),
      static_cast<unsigned long>(w.user), static_cast<unsigned long>(b.handles),
      static_cast<unsigned long>(b.threads), static_cast<unsigned long>(b.privateBytes / 1024),
      static_cast<unsigned long>(b.gdi), static_cast<unsigned long>(b.user));
  fflush(stdout);
}

// Modules, stacks and where the private bytes lie, for one program; the
// modules the other program does not load are marked.
void PrintDetails(Program& p, const std::vector<Soak::Module>& other) {
  Soak::Sample s = Soak::Measure(p.process.Handle(), p.process.Id());
  std::vector<Soak::Module> modules = Soak::ModulesOf(p.process.Handle());
  std::set<std::wstring> theirs;
  for (const Soak::Module& m : other) theirs.insert(m.name);
  wprintf(L"  %ls: %u modules;", p.label, static_cast<unsigned>(modules.size()));
  if (!other.empty()) {
    wprintf(L" not in the minimal tray:");
    for (const Soak::Module& m : modules)
      if (!theirs.count(m.name)) wprintf(L" %ls", m.name.c_str());
  }
  wprintf(L"\n");
  std::vector<Soak::Stack> stacks = Soak::StacksOf(p.process.Handle(), s.threadIds);
  // Wine commits a whole stack at once and the Unix side backs only the
  // pages touched: the resident part is in the breakdown below.
  const bool wine = Soak::UnderWine();
  wprintf(L"  %ls: %u threads, stack reserved%ls KiB:", p.label, static_cast<unsigned>(s.threads),
          wine ? L"" : L"/committed");
  SIZE_T reserved = 0;
  for (const Soak::Stack& st : stacks) {
    reserved += st.high - st.low;
    wprintf(L" %lu", static_cast<unsigned long>((st.high - st.low) / 1024));
    if (!wine) wprintf(L"/%lu", static_cast<unsigned long>(st.committed / 1024));
  }
  wprintf(L" (reserved in all %lu KiB)\n", static_cast<unsigned long>(reserved / 1024));
  if (s.guiFromWine)
    wprintf(
        L"  %ls: %lu GDI objects (Wine: entries of its GDI handle table), %lu USER objects (Wine: windows)\n",
        p.label, static_cast<unsigned long>(s.gdi), static_cast<unsigned long>(s.user));
  if (p.unixPid) {
    Soak::Breakdown b = Soak::BreakDown(p.process.Handle(), p.unixPid, modules, stacks);
    std::vector<std::pair<unsigned long, std::string>> parts;
    for (const auto& part : b.parts) parts.push_back({part.second, part.first});
    std::sort(parts.rbegin(), parts.rend());
    wprintf(L"  %ls: private bytes (Unix anonymous resident memory) %lu KiB:\n", p.label, b.total);
    for (const auto& part : parts)
      if (part.first >= 64) wprintf(L"      %6lu KiB %hs\n", part.first, part.second.c_str());
  }
  fflush(stdout);
}

// Run to its end: a bare process start, the unit of the speed figures.
double BareStart(const std::wstring& exe) {
  LARGE_INTEGER t0 = Now();
  if (!RunToEnd(Quoted(exe), 30000, nullptr)) return -1;
  return Ms(t0, Now());
}

bool LogHasRun(const std::wstring& log) { return !ReadModuleLog(log).empty(); }

// The kinds of arrival of the mixed run, by the arrival's number.
enum Kind { kCard, kLaunchCard, kIgnoredCard, kFireWireDevice, kPortableDevice };

Kind KindOf(int i, bool mixed, bool rules) {
  if (!mixed) return kCard;
  switch (i % 10) {
    case 3:
      return rules ? kLaunchCard : kCard;
    case 5:
      return rules ? kIgnoredCard : kCard;
    case 7:
      return kFireWireDevice;
    case 9:
      return kPortableDevice;
    default:
      return kCard;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int arrivals = argc > 1 ? _wtoi(argv[1]) : 1000;
  if (arrivals <= 0) arrivals = 1000;
  const wchar_t* mode = argc > 2 ? argv[2] : L"mixed";
  const bool mixed = lstrcmpiW(mode, L"single") != 0;
  // The rules road: only under the Windows 98 setting does the watcher
  // identify a card under Wine (there is no USB tree to ask).
  const bool rules = lstrcmpiW(mode, L"rules") == 0;
  // Arrivals between session changes and between Devices windows.
  int period = argc > 3 ? _wtoi(argv[3]) : 100;
  if (period <= 1) period = 100;
  std::wstring dir = ProgramDir();
  if (!FileExists(dir + kExeName) || !FileExists(dir + kBaseline) || !FileExists(dir + kBare)) {
    wprintf(L"bench_soak: %ls, %ls or %ls is missing\n", kExeName, kBaseline, kBare);
    return 1;
  }
  PrepareDesktop();
  std::wstring work = dir + L"soak_work";
  std::wstring importer = work + L"\\importer";
  std::wstring probe = work + L"\\probe";
  std::wstring log = importer + L"\\RefImporter.log";
  std::wstring probeExe = probe + L"\\LaunchProbe.exe";
  std::wstring probeLog = probe + L"\\LaunchProbe.log";
  CreateDirectoryW(work.c_str(), nullptr);
  InstallRefImporter(dir, importer);
  CopyInto(dir + L"RefImporter.exe", probe, L"LaunchProbe.exe");
  DeleteTree(HKEY_LOCAL_MACHINE, kWatcherKey);
  DeleteTree(HKEY_CURRENT_USER, kWatcherKey);
  // Volumes, IEEE 1394 and portable devices; with a settings dialog (what a missing value is read as).
  RegisterImporter(kImporterName, importer, mixed ? 7 : 1, 1);

  // The cards: one folder per free drive letter (every letter in the mixed run).
  std::vector<wchar_t> letters;
  DWORD used = GetLogicalDrives();
  for (wchar_t l = L'D'; l <= L'Y'; ++l)
    if ((used & (1u << (l - L'A'))) == 0 && (mixed || l == L'W')) letters.push_back(l);
  std::vector<std::wstring> cards;
  for (wchar_t l : letters) {
    std::wstring card = work + L"\\card-" + std::wstring(1, l);
    CreateDirectoryW(card.c_str(), nullptr);
    CreateDirectoryW((card + L"\\DCIM").c_str(), nullptr);
    cards.push_back(card);
  }
  if (rules) {
    using namespace DeviceRegistryFixture;
    xptest::SetWineAppDefault(kExeName, L"", L"Version", L"win98");
    for (size_t i = 0; i < letters.size(); ++i) {
      std::wstring n = std::to_wstring(i + 1), device = L"SOAK_DEV_" + n, node = L"SoakDev" + n;
      std::wstring instance = L"USBSTOR&VID_1234&PID_0040&" + n, key = L"USBSTOR\\VID_1234&PID_0040\\" + n;
      std::wstring letter(1, letters[i]);
      AddInstance({device.c_str(), instance.c_str(), letter.c_str(), L"Soak", L"Reader"});
      AddPresent(node.c_str(), key.c_str());
    }
    // The lists are read under the configuration's version.
    SetString(HKEY_LOCAL_MACHINE, kWatcherKey, L"CurrentVersion", L"1.0");
    AddDeviceEntry(L"Launch", L"SoakHoliday", 0x1234, 0x0040, probeExe, L"-label", L"holiday*");
    AddDeviceEntry(L"Ignore", L"SoakSkip", 0x1234, 0x0040, std::wstring(), nullptr, L"skip*");
  } else {
    xptest::ClearWineAppDefaults(kExeName);
  }

  const std::wstring bare = dir + kBare;
  std::vector<double> bareStarts;
  for (int i = 0; i < 11; ++i) bareStarts.push_back(BareStart(bare));

  Program baseline, watcher;
  baseline.label = L"minimal tray";
  watcher.label = L"watcher";
  LARGE_INTEGER trayStarted = Now();
  if (!baseline.process.Start(Quoted(dir + kBaseline), dir) ||
      !WaitUntil(
          30000, [] { return FindWindowW(L"VantoloSoakBaselineTray", L"") != nullptr; }, 5)) {
    wprintf(L"bench_soak: the minimal tray program did not start\n");
    return 1;
  }
  double trayStartMs = Ms(trayStarted, Now());
  LARGE_INTEGER started = Now();
  HWND icon = nullptr;
  if (!StartWatcher(&watcher.process, dir + kExeName, L"/noballoononstart", &icon)) {
    wprintf(L"bench_soak: the watcher did not start\n");
    return 1;
  }
  double startMs = Ms(started, Now());
  if (Soak::UnderWine()) {
    watcher.unixPid = Soak::UnixPidMapping(Soak::UnixPathOf(dir + kExeName));
    baseline.unixPid = Soak::UnixPidMapping(Soak::UnixPathOf(dir + kBaseline));
  }
  Sleep(3000);  // both settle: icons added, watcher threads running
  HWND fireWire = DeviceWatcherWindow(watcher.process.Id());
  HWND portable = WindowOf(kPortableWindowClass, watcher.process.Id());

  auto cpuMs = [](const Process& p) {
    FILETIME c, e, k, u;
    if (!GetProcessTimes(p.Handle(), &c, &e, &k, &u)) return -1.0;
    ULARGE_INTEGER kk = {{k.dwLowDateTime, k.dwHighDateTime}}, uu = {{u.dwLowDateTime, u.dwHighDateTime}};
    return static_cast<double>(kk.QuadPart + uu.QuadPart) / 10000.0;
  };
  const DWORD kIdleMs = 10000;
  double idleBefore = cpuMs(watcher.process);
  Sleep(kIdleMs);
  double idleCpuStart = cpuMs(watcher.process) - idleBefore;

  watcher.first = Soak::Measure(watcher.process.Handle(), watcher.process.Id());
  baseline.first = Soak::Measure(baseline.process.Handle(), baseline.process.Id());
  wprintf(L"%d arrivals (%ls) over %u drive letters; private bytes: %ls\n", arrivals,
          rules
              ? L"rules, Windows 98 setting: cards, Launch and Ignore rules, IEEE 1394, portable, sessions, "
                L"Devices window"
          : mixed ? L"mixed: cards, IEEE 1394, portable, sessions, Devices window"
                  : L"one card in W:",
          static_cast<unsigned>(letters.size()),
          Soak::UnderWine() ? L"under Wine, the Unix process's anonymous resident memory (RssAnon + VmSwap)"
                            : L"the process's private commit");
  PrintSample(L"before", watcher.first, baseline.first);
  std::vector<Soak::Module> trayModules = Soak::ModulesOf(baseline.process.Handle());
  PrintDetails(watcher, trayModules);
  PrintDetails(baseline, std::vector<Soak::Module>());

  const std::wstring tool = Quoted(dir + L"drivetool.exe");
  std::vector<double> latency;
  int missed = 0, wrong = 0, sessions = 0, devicesWindows = 0;
  Soak::Sample at50;
  LARGE_INTEGER runStart = Now();
  for (int i = 1; i <= arrivals; ++i) {
    if (mixed && i % period == period / 2) {
      DWORD_PTR r = 0;
      bool ok =
          SendMessageTimeoutW(icon, kSessionChange, 2 /* console disconnect */, 0, SMTO_NORMAL, 10000, &r) &&
          SendMessageTimeoutW(icon, kSessionChange, 1 /* console connect */, 0, SMTO_NORMAL, 10000, &r);
      if (ok) ++sessions;
      // The watchers' windows are made again on the reconnect.
      WaitUntil(10000, [&] {
        fireWire = DeviceWatcherWindow(watcher.process.Id());
        portable = WindowOf(kPortableWindowClass, watcher.process.Id());
        return fireWire && portable;
      });
    }
    size_t slot = static_cast<size_t>(i) % letters.size();
    wchar_t letter = letters[slot];
    Kind kind = KindOf(i, mixed, rules);
    DeleteFileW(log.c_str());
    DeleteFileW(probeLog.c_str());
    LARGE_INTEGER t0;
    bool started = false;
    if (kind == kFireWireDevice || kind == kPortableDevice) {
      HWND window = kind == kFireWireDevice ? fireWire : portable;
      const wchar_t* name = kind == kFireWireDevice ? kFireWire : kPhone;
      const GUID* cls = kind == kFireWireDevice ? nullptr : &kPortableClass;
      started = SendInterface(window, DBT_DEVICEARRIVAL, name, cls) &&
                WaitUntil(
                    20000, [&] { return LogHasRun(log); }, 10);
      SendInterface(window, DBT_DEVICEREMOVECOMPLETE, name, cls);
      if (!started) {
        ++missed;
        wprintf(L"  arrival %d (%ls): no importer started\n", i,
                kind == kFireWireDevice ? L"IEEE 1394" : L"portable");
      }
    } else {
      const std::wstring& card = cards[slot];
      char text[64];
      const char* label = kind == kLaunchCard ? "HOLIDAY_%d" : kind == kIgnoredCard ? "SKIP_%d" : "CARD_%d";
      snprintf(text, sizeof(text), label, i);
      WriteText(card + L"\\.windows-label", text);
      snprintf(text, sizeof(text), "%08X", 0x50AC0000u + static_cast<unsigned>(i));
      WriteText(card + L"\\.windows-serial", text);
      DWORD code = 1;
      RunToEnd(tool + L" insert " + std::wstring(1, letter) + L" " + Quoted(card), 30000, &code);
      t0 = Now();
      if (kind == kLaunchCard) {
        started = code == 0 && WaitUntil(
                                   20000, [&] { return LogHasRun(probeLog); }, 10);
        if (!started) ++missed;
        if (LogHasRun(log)) ++wrong;
        if (!started || LogHasRun(log))
          wprintf(L"  arrival %d (%lc:, Launch rule): program %ls, importer %ls\n", i, letter,
                  started ? L"started" : L"not started", LogHasRun(log) ? L"started" : L"not started");
      } else if (kind == kIgnoredCard) {
        // Longer than an arrival takes to start something on this road.
        Sleep(rules ? 8000 : static_cast<DWORD>(kQuietMs) + 700);
        if (LogHasRun(log) || LogHasRun(probeLog)) {
          ++wrong;
          wprintf(L"  arrival %d (%lc:, Ignore rule): something started\n", i, letter);
        }
      } else {
        started = code == 0 && WaitUntil(
                                   20000, [&] { return LogHasRun(log); }, 10);
        if (started) {
          latency.push_back(Ms(t0, Now()));
        } else {
          ++missed;
          wprintf(L"  arrival %d (%lc:, card): no importer started (drive tool %lu)\n", i, letter,
                  static_cast<unsigned long>(code));
        }
      }
      RunToEnd(tool + L" remove " + std::wstring(1, letter), 30000, nullptr);
      // One letter: the removal settles for its own quiet second, or the
      // next insertion would fall into the same burst and cancel out. Many
      // letters: the letter comes round again long after.
      if (letters.size() < 2) Sleep(1300);
    }
    // The unit of the speed figures is timed all through the run, under the
    // same load as the arrivals.
    if (i % 10 == 0) bareStarts.push_back(BareStart(bare));
    if (mixed && i % period == 0) {
      HWND dialog = OpenDevicesWindow(watcher.process);
      if (dialog != nullptr) {
        Sleep(1500);  // its list is filled
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        if (WaitUntil(10000, [&] { return DevicesWindowOf(watcher.process.Id()) == nullptr; }))
          ++devicesWindows;
      }
    }
    if (i % kCheckpoint == 0 || i == arrivals) {
      wchar_t when[32];
      swprintf(when, 32, L"after %d", i);
      Soak::Sample w = Soak::Measure(watcher.process.Handle(), watcher.process.Id());
      if (i == kCheckpoint) at50 = w;
      PrintSample(when, w, Soak::Measure(baseline.process.Handle(), baseline.process.Id()));
      wprintf(
          L"               importer started for %u cards so far (%d missed, %d wrong): median %.0f ms, "
          L"worst %.0f ms; %.1f min\n",
          static_cast<unsigned>(latency.size()), missed, wrong, Percentile(latency, 0.5),
          Percentile(latency, 1.0), Ms(runStart, Now()) / 60000.0);
      fflush(stdout);
      if (i == kCheckpoint) PrintDetails(watcher, trayModules);
    }
    if (!watcher.process.Running()) {
      wprintf(L"bench_soak: the watcher ended after %d arrivals\n", i);
      break;
    }
  }
  double minutes = Ms(runStart, Now()) / 60000.0;
  // Idle: the per-path notifiers of the last cards have ended by then.
  Sleep(35000);
  idleBefore = cpuMs(watcher.process);
  double trayBefore = cpuMs(baseline.process);
  Sleep(kIdleMs);
  double idleCpuEnd = cpuMs(watcher.process) - idleBefore;
  double trayIdle = cpuMs(baseline.process) - trayBefore;
  Soak::Sample wa = Soak::Measure(watcher.process.Handle(), watcher.process.Id());
  Soak::Sample ba = Soak::Measure(baseline.process.Handle(), baseline.process.Id());
  PrintSample(L"after (idle)", wa, ba);
  PrintDetails(watcher, trayModules);
  PrintDetails(baseline, std::vector<Soak::Module>());
  auto delta = [](DWORD a, DWORD b) { return static_cast<long>(a) - static_cast<long>(b); };
  if (arrivals >= kCheckpoint)
    wprintf(
        L"growth from the %dth arrival to the end: %+ld handles %+ld threads %+ld KiB private %+ld GDI %+ld "
        L"USER\n",
        kCheckpoint, delta(wa.handles, at50.handles), delta(wa.threads, at50.threads),
        (static_cast<long>(wa.privateBytes) - static_cast<long>(at50.privateBytes)) / 1024,
        delta(wa.gdi, at50.gdi), delta(wa.user, at50.user));
  long over = (static_cast<long>(wa.privateBytes) - static_cast<long>(ba.privateBytes)) / 1024;
  wprintf(
      L"idle after the run: watcher %lu KiB private, minimal tray %lu KiB: %+ld KiB (goal: at most +3072 "
      L"KiB)\n",
      static_cast<unsigned long>(wa.privateBytes / 1024), static_cast<unsigned long>(ba.privateBytes / 1024),
      over);
  if (mixed)
    wprintf(L"sessions disconnected and reconnected: %d; Devices window opened and closed: %d\n", sessions,
            devicesWindows);

  double bareMs = Percentile(bareStarts, 0.5);
  double median = Percentile(latency, 0.5), worst = Percentile(latency, 1.0);
  double allowed = kQuietMs + 2 * bareMs + 5;
  wprintf(L"bare process start (median of %u): %.0f ms\n", static_cast<unsigned>(bareStarts.size()), bareMs);
  wprintf(
      L"insertion to importer started: %u cards started, %d arrivals missed, %d wrong, in %.1f min; median "
      L"%.0f "
      L"ms (%.0f beyond the quiet second), 95th percentile %.0f ms, worst %.0f ms; median / (quiet second + "
      L"2 "
      L"bare starts + 5 ms = %.0f ms) = %.2f (goal: at most 1)\n",
      static_cast<unsigned>(latency.size()), missed, wrong, minutes, median, median - kQuietMs,
      Percentile(latency, 0.95), worst, allowed, median / allowed);
  wprintf(
      L"start to hidden window: %.0f ms = %.2f bare starts (goal: at most 2); the minimal tray's: %.0f ms = "
      L"%.2f "
      L"bare starts\n",
      startMs, startMs / bareMs, trayStartMs, trayStartMs / bareMs);
  wprintf(
      L"CPU while idle for %lu s: watcher %.0f ms before the run, %.0f ms after; minimal tray %.0f ms (goal: "
      L"0)\n",
      static_cast<unsigned long>(kIdleMs / 1000), idleCpuStart, idleCpuEnd, trayIdle);
  fflush(stdout);

  ExitWatcher(&watcher.process, dir + kExeName);
  HWND tray = FindWindowW(L"VantoloSoakBaselineTray", L"");
  if (tray) PostMessageW(tray, WM_CLOSE, 0, 0);
  baseline.process.Wait(5000);
  if (rules) {
    for (size_t i = 0; i < letters.size(); ++i) {
      std::wstring n = std::to_wstring(i + 1);
      DeviceRegistryFixture::RemoveDevice((L"SOAK_DEV_" + n).c_str());
      DeviceRegistryFixture::RemovePresent((L"SoakDev" + n).c_str());
    }
    xptest::ClearWineAppDefaults(kExeName);
  }
  DeleteTree(HKEY_LOCAL_MACHINE, kWatcherKey);
  DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kImporterKey) + L"\\" + kImporterName);
  return 0;
}
