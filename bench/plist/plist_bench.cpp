// Load and save of one property list of about 1 MiB, beside a plain read of
// the same file for scale. Run by hand under Wine.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/XpMemoryFile.h"
#include "plist/XpIni.h"

namespace {

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

// Half records (dictionaries of every scalar type), half one data block.
void Build(XpIniDict* root) {
  (void)root->AddNode(L"records", XpIniTypeArray);
  XpIniElement* records = root->Lookup(L"records");
  for (int i = 0; i < 2600; ++i) {
    records->InsertAt(-1, XpIniTypeDict, 0, 0);
    XpIniElement* r = records->GetAt(i);
    (void)r->AddString(L"Name", L"Registration of an external tool");
    (void)r->AddInt64(L"Order", i);
    (void)r->AddBool(L"Enabled", (i & 1) != 0);
    (void)r->AddNode(L"Weight", XpIniTypeReal);
    r->Lookup(L"Weight")->SetReal(i / 7.0);
    (void)r->AddNode(L"Stamp", XpIniTypeDate);
    r->Lookup(L"Stamp")->SetDate(XpDateTime(2007, 1 + i % 12, 1 + i % 28, i % 24, i % 60, 0));
  }
  static unsigned char block[256 * 1024];
  for (size_t i = 0; i < sizeof(block); ++i) block[i] = static_cast<unsigned char>(i * 31);
  XpMemoryFile source(block, sizeof(block), false);
  (void)root->AddNode(L"blob", XpIniTypeData);
  root->Lookup(L"blob")->SetData(&source, 0, -1);
}

}  // namespace

int main() {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + L"xp_plist_bench.xml";

  XpIniRootPtr root;
  Build(root.get());
  const int kRounds = 5;
  double save = 0, load = 0, raw = 0;
  LONGLONG size = 0;
  for (int round = 0; round < kRounds; ++round) {
    LARGE_INTEGER t0, t1, t2, t3;
    QueryPerformanceCounter(&t0);
    XpResult saved = root->SaveFile(path.c_str());
    QueryPerformanceCounter(&t1);
    XpIniRootPtr back;
    XpResult loaded = back->LoadFile(path.c_str());
    QueryPerformanceCounter(&t2);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER li = {};
    GetFileSizeEx(h, &li);
    size = li.QuadPart;
    std::string bytes(static_cast<size_t>(size), '\0');
    DWORD got = 0;
    ReadFile(h, &bytes[0], static_cast<DWORD>(size), &got, nullptr);
    CloseHandle(h);
    QueryPerformanceCounter(&t3);
    if (saved != 0 || loaded != 0 || back->GetCount() != root->GetCount()) {
      std::printf("failed: save %x load %x\n", saved, loaded);
      return 1;
    }
    save += Seconds(t0, t1);
    load += Seconds(t1, t2);
    raw += Seconds(t2, t3);
  }
  DeleteFileW(path.c_str());
  std::printf("property list of %lld bytes, mean of %d rounds\n", static_cast<long long>(size), kRounds);
  std::printf("  SaveFile   %8.1f ms\n", 1000 * save / kRounds);
  std::printf("  LoadFile   %8.1f ms\n", 1000 * load / kRounds);
  std::printf("  plain read %8.3f ms  (load/read %.0fx, save/read %.0fx)\n", 1000 * raw / kRounds,
              raw > 0 ? load / raw : 0.0, raw > 0 ? save / raw : 0.0);
  return 0;
}
