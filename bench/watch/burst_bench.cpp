// Burst benchmark of the coalescing volume watcher: 10,000 events over 26
// letters within one second, once posted to the watcher's window as shell
// notifications and once queued directly. Reports deliveries per letter, peak
// threads, peak memory and the time from each letter's last event to its
// delivery (the quiet second plus the watcher's overhead).
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "watch/XpVolumeWatchDogEx.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int kEvents = 10000;
const int kLetters = 26;
const double kSpreadMs = 1000.0;

double NowMs() {
  static LARGE_INTEGER freq = {};
  if (freq.QuadPart == 0) QueryPerformanceFrequency(&freq);
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

class Counter final : public IXpVolumeWatchDogCallback {
 public:
  Counter() : deliveries(kLetters, 0), removals(0), at(kLetters, 0.0), sentinelAt(0) {
    InitializeCriticalSection(&lock);
  }
  ~Counter() { DeleteCriticalSection(&lock); }
  void OnVolumeArrival(const XpString& path) override { Record(path, true); }
  void OnVolumeRemoval(const XpString& path) override { Record(path, false); }
  void Record(const XpString& path, bool arrival) {
    double t = NowMs();
    if (path.GetLength() > 3) {
      sentinelAt = t;
      return;
    }
    int i = (*path.c_str() | 0x20) - L'a';
    if (i < 0 || i >= kLetters) return;
    EnterCriticalSection(&lock);
    ++deliveries[static_cast<size_t>(i)];
    if (!arrival) ++removals;
    at[static_cast<size_t>(i)] = t;
    LeaveCriticalSection(&lock);
  }
  int Total() {
    EnterCriticalSection(&lock);
    int n = 0;
    for (size_t i = 0; i < deliveries.size(); ++i) n += deliveries[i];
    LeaveCriticalSection(&lock);
    return n;
  }
  CRITICAL_SECTION lock;
  std::vector<int> deliveries;
  int removals;
  std::vector<double> at;
  double sentinelAt;
};

int CountThreads() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 te;
  te.dwSize = sizeof(te);
  int n = 0;
  DWORD self = GetCurrentProcessId();
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
    if (te.th32OwnerProcessID == self) ++n;
  CloseHandle(snap);
  return n;
}

SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS pmc;
  pmc.cb = sizeof(pmc);
  return GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc)) ? pmc.PagefileUsage : 0;
}

// Samples threads and memory while a run lasts.
struct Sampler {
  volatile LONG stop;
  int peakThreads;
  SIZE_T peakBytes;
  HANDLE thread;
  Sampler() : stop(0), peakThreads(0), peakBytes(0), thread(NULL) {}
  static DWORD WINAPI Loop(void* p) {
    Sampler* s = static_cast<Sampler*>(p);
    while (!s->stop) {
      s->peakThreads = std::max(s->peakThreads, CountThreads());
      s->peakBytes = std::max(s->peakBytes, PrivateBytes());
      Sleep(10);
    }
    return 0;
  }
  void Start() { thread = CreateThread(NULL, 0, &Loop, this, 0, NULL); }
  void Finish() {
    stop = 1;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
};

// Letter of event i, and whether it is an arrival: every letter's burst
// starts and ends with an arrival, so each must be delivered once.
int LetterOf(int i) { return i % kLetters; }
bool IsArrival(int i) { return (i / kLetters) % 2 == 0 || i >= kEvents - kLetters; }

struct Result {
  double sendMs;
  int deliveries;
  int lettersOnce;
  int removals;
  int threadsBefore;
  int peakThreads;
  double memoryBeforeKb;
  double peakMemoryKb;
  double minLatency;
  double avgLatency;
  double maxLatency;
  double backlogMs;  // posted messages still waiting for the window after the last post
};

Result Run(bool throughWindow) {
  Result r = {};
  Counter counter;
  XpVolumeWatchDogEx watcher(0, true);
  // A watcher that does not run has nothing to measure: all counts stay zero.
  if (XpFailed(watcher.AddCallback(&counter)) || XpFailed(watcher.Start())) return r;
  HWND window = watcher.GetNotifyWindow();
  UINT shell = watcher.GetShellMessage();

  // The item lists stay alive until the window has seen every message.
  std::vector<PIDLIST_ABSOLUTE> items(kLetters);
  std::vector<PCIDLIST_ABSOLUTE> pairs(kLetters * 2);
  for (int i = 0; i < kLetters; ++i) {
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(L'A' + i);
    items[static_cast<size_t>(i)] = reinterpret_cast<PIDLIST_ABSOLUTE>(SHSimpleIDListFromPath(root));
    pairs[static_cast<size_t>(i) * 2] = items[static_cast<size_t>(i)];
    pairs[static_cast<size_t>(i) * 2 + 1] = NULL;
  }

  r.threadsBefore = CountThreads();
  r.memoryBeforeKb = static_cast<double>(PrivateBytes()) / 1024.0;
  Sampler sampler;
  sampler.Start();
  std::vector<double> lastEvent(kLetters, 0.0);
  double start = NowMs();
  for (int i = 0; i < kEvents; ++i) {
    double due = start + kSpreadMs * i / kEvents;
    while (NowMs() < due) Sleep(0);
    int letter = LetterOf(i);
    bool arrival = IsArrival(i);
    if (throughWindow) {
      LONG event = arrival ? SHCNE_MEDIAINSERTED : SHCNE_MEDIAREMOVED;
      PostMessageW(window, shell, reinterpret_cast<WPARAM>(&pairs[static_cast<size_t>(letter) * 2]), event);
    } else {
      wchar_t root[] = L"A:\\";
      root[0] = static_cast<wchar_t>(L'A' + letter);
      if (arrival)
        watcher.NotifyArrival(root);
      else
        watcher.NotifyRemoval(root);
    }
    lastEvent[static_cast<size_t>(letter)] = NowMs();
  }
  PIDLIST_ABSOLUTE sentinel = NULL;
  PCIDLIST_ABSOLUTE sentinelPair[2] = {NULL, NULL};
  double sentinelPosted = 0;
  if (throughWindow) {
    // Posted messages queue up behind each other; a last one for a path of
    // its own shows when the window got through the backlog.
    sentinel = reinterpret_cast<PIDLIST_ABSOLUTE>(SHSimpleIDListFromPath(L"C:\\windows"));
    sentinelPair[0] = sentinel;
    sentinelPosted = NowMs();
    PostMessageW(window, shell, reinterpret_cast<WPARAM>(sentinelPair), SHCNE_MEDIAINSERTED);
  }
  r.sendMs = NowMs() - start;
  double waitUntil = NowMs() + 5000;
  while ((counter.Total() < kLetters || (throughWindow && counter.sentinelAt == 0)) && NowMs() < waitUntil)
    Sleep(10);
  Sleep(1500);  // late or second deliveries would show up here
  sampler.Finish();
  // The counts are taken; how the watcher ends changes none of them.
  (void)watcher.Stop();
  (void)watcher.RemoveCallback(&counter);

  r.deliveries = counter.Total();
  r.removals = counter.removals;
  r.peakThreads = sampler.peakThreads;
  r.peakMemoryKb = static_cast<double>(sampler.peakBytes) / 1024.0;
  r.minLatency = 1e9;
  double sum = 0;
  for (int i = 0; i < kLetters; ++i) {
    if (counter.deliveries[static_cast<size_t>(i)] == 1) ++r.lettersOnce;
    double latency = counter.at[static_cast<size_t>(i)] - lastEvent[static_cast<size_t>(i)];
    r.minLatency = std::min(r.minLatency, latency);
    r.maxLatency = std::max(r.maxLatency, latency);
    sum += latency;
  }
  r.avgLatency = sum / kLetters;
  r.backlogMs = throughWindow && counter.sentinelAt > 0 ? counter.sentinelAt - sentinelPosted - 1000.0 : 0;
  if (sentinel) ILFree(sentinel);
  for (int i = 0; i < kLetters; ++i) ILFree(items[static_cast<size_t>(i)]);
  return r;
}

void Print(const char* name, const Result& r) {
  printf(
      "%-22s sent in %7.1f ms | deliveries %3d (letters once %2d/26, removals %d) | threads %d -> peak %d"
      " | private KiB %.0f -> peak %.0f | last event to delivery ms min %.1f avg %.1f max %.1f"
      " (overhead over the quiet second avg %.1f, of which window backlog about %.1f)\n",
      name, r.sendMs, r.deliveries, r.lettersOnce, r.removals, r.threadsBefore, r.peakThreads,
      r.memoryBeforeKb, r.peakMemoryKb, r.minLatency, r.avgLatency, r.maxLatency, r.avgLatency - 1000.0,
      r.backlogMs);
}

}  // namespace

int main() {
  printf("%d events over %d letters spread over %.0f ms; one delivery per letter expected.\n", kEvents,
         kLetters, kSpreadMs);
  Result posted = Run(true);
  Result direct = Run(false);
  Print("posted to the window", posted);
  Print("queued directly", direct);
  printf("ratio posted/direct: delivery latency %.3f, peak threads %.2f\n",
         posted.avgLatency / direct.avgLatency,
         static_cast<double>(posted.peakThreads) / std::max(1, direct.peakThreads));
  bool ok = posted.lettersOnce == kLetters && direct.lettersOnce == kLetters &&
            posted.deliveries == kLetters && direct.deliveries == kLetters;
  printf("%s\n", ok ? "PASS: one delivery per letter" : "FAIL: deliveries are not one per letter");
  return ok ? 0 : 1;
}
