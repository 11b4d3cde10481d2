// Benchmarks of the module layer, run by hand under Wine:
//  - loading a catalogue of 200 tool registration files (time per file);
//  - choosing among 1, 5 and 20 registered importer modules, against the sum
//    of the same modules' own run times (the scoring runs are sequential by
//    design; what the registry adds per run is what we control).
// The suite's registry keys and tools folder are used and cleared again.
#include <windows.h>

#include <cstdio>

#include "modules/ExternalProgram.h"
#include "modules/SfImporterModule.h"
#include "tests/modules/ModulesTestSupport.h"

using namespace modtest;

namespace {

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

void CatalogueBench() {
  ScratchDir regs(L"xp_bench_regs");
  ScratchDir programs(L"xp_bench_programs");
  WriteText(programs / L"tool.exe", "MZ");
  AddRegistrationFolder(L"Bench", regs.path());
  for (int i = 0; i < 200; ++i) {
    std::vector<PlistEntry> e = {
        {L"AppName", "string", L"Tool" + std::to_wstring(i)},
        {L"Description", "string", L"Benchmark tool"},
        {L"GroupApp", "true", L""},
        {L"DisplayLevel", "integer", std::to_wstring(2 + i % 5)},
        {L"UIOrder", "integer", std::to_wstring(200 - i)},
        {L"InstalledLocation", "string", programs.path()},
        {L"ExeName", "string", L"tool.exe"},
        {L"ContentTypeMaskList", "raw", L"<array><string>ff</string><string>100</string></array>"},
        {L"SummaryString", "string", L"A registration of average size"}};
    WritePlist(regs / (L"r" + std::to_wstring(i) + L".xml"), e);
  }
  const int rounds = 3;
  double best = 1e30;
  size_t loaded = 0;
  for (int r = 0; r < rounds; ++r) {
    double t0 = Now();
    {
      ExternalProgramCatalog catalog;
      loaded = 0;
      for (int level = 0; level < ExternalProgramCatalog::kLevelCount; ++level)
        loaded += catalog.programsOfLevel(level).size();
    }
    double t = Now() - t0;
    if (t < best) best = t;
  }
  std::printf("catalogue: 200 files (%u list entries) best of %d: %.1f ms, %.3f ms per file\n",
              static_cast<unsigned>(loaded), rounds, best, best / 200.0);
  ClearSuiteState();
}

// One module's own run, started and waited for directly.
double RunDirect(const std::wstring& exe, const std::wstring& path) {
  std::wstring line = L"\"" + exe + L"\" /importscore " + path;
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(0);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  double t0 = Now();
  if (!CreateProcessW(nullptr, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0;
  WaitForSingleObject(pi.hProcess, INFINITE);
  double t = Now() - t0;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return t;
}

void SelectionBench(int count) {
  ClearSuiteState();
  ScratchDir modules(L"xp_bench_modules");
  ScratchDir volume(L"xp_bench_volume");
  CreateDirectoryW((volume / L"DCIM").c_str(), nullptr);
  std::vector<std::wstring> exes;
  for (int i = 0; i < count; ++i) {
    wchar_t name[32];
    swprintf(name, 32, L"M%02d", i);
    std::wstring folder = modules / name;
    std::wstring exe = InstallModule(folder, std::wstring(name) + L".exe");
    ImporterRegistration r;
    r.subkey = name;
    r.location = folder;
    r.exeName = std::wstring(name) + L".exe";
    Register(r);
    exes.push_back(exe);
  }
  std::wstring path = volume.path() + L"\\";
  SfImporterModuleManager manager;
  const int rounds = 3;
  double select = 1e30, direct = 1e30;
  for (int r = 0; r < rounds; ++r) {
    double t0 = Now();
    SfImporterModulePtr chosen = manager.selectFor(path.c_str(), SF_DEVICE_VOLUME);
    double t = Now() - t0;
    if (t < select) select = t;
    double sum = 0;
    for (const std::wstring& exe : exes) sum += RunDirect(exe, path);
    if (sum < direct) direct = sum;
  }
  std::printf(
      "selection among %2d modules: %8.1f ms; sum of their own runs %8.1f ms; ratio %.3f; "
      "overhead per module %.2f ms\n",
      count, select, direct, direct > 0 ? select / direct : 0.0, (select - direct) / count);
  ClearSuiteState();
}

}  // namespace

int main() {
  // The registrations and tools folder it writes live in a scratch registry.
  xptest::ScratchRegistry scratch;
  if (!scratch.Ready()) {
    std::printf("bench_modules: %s\n", scratch.Ready().message());
    return 1;
  }
  ClearSuiteState();
  CatalogueBench();
  SelectionBench(1);
  SelectionBench(5);
  SelectionBench(20);
  return 0;
}
