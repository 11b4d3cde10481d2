// Reference importer module: speaks the watcher's module command-line protocol
// so that tests and the demo have a real child process to score and start.
//
//   /importscore <path>   exit code = score: a DCIM folder scores 100, any other
//                         content 1, an empty or missing volume 0; a portable
//                         device's interface path (\\?\...) scores 50
//   <path>                an import start for the volume or device (the run
//                         notes a device path as "# device <path>")
//   /import "<source>"    counts the entries of the source
//   /config               notes the settings run
//   /destdir              exits with the destination run's code
//   /parentwindow <hex>   the handle; the run notes whether it names a window
//                         and whether that window is enabled
//   /register, /unregister  for the demo: adds or removes this program as the
//                         importer "RefImporter" under the machine's Importer key
//                         (in the registry view of this program's own bitness),
//                         for volumes and portable devices (kinds 1 and 4)
//
// Every run appends its exact command line as one line to <exe>.log (UTF-8);
// further lines of the same run start with "# ". Files beside the program
// steer it: <exe>.score holds a fixed score, <exe>.negative makes the next
// scoring run answer -1 once (the file is consumed), <exe>.exitcode holds the
// /destdir exit code and <exe>.sleep a delay in milliseconds before exiting;
// with <exe>.crash a scoring run logs and then dies of an access violation;
// <exe>.hold holds a number n: the /destdir run sets the event
// "RefImporterHold<n>Open" and stays open, as a user's dialog does, until
// "RefImporterHold<n>" is set (a minute at most).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring g_base;  // program path without ".exe"

std::wstring SideFile(const wchar_t* suffix) { return g_base + suffix; }

bool ReadIntFile(const std::wstring& path, long* value) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (f == nullptr) return false;
  char text[64] = {0};
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  text[n] = 0;
  char* end = nullptr;
  long v = strtol(text, &end, 0);
  if (end == text) return false;
  *value = v;
  return true;
}

void AppendUtf8Line(FILE* f, const std::wstring& line) {
  int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), (int)line.size(), nullptr, 0, nullptr, nullptr);
  std::string bytes(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, line.c_str(), (int)line.size(), &bytes[0], n, nullptr, nullptr);
  bytes += "\r\n";
  fwrite(bytes.data(), 1, bytes.size(), f);
}

// Several runs may overlap (a non-waiting start next to a scoring run), so the
// log is appended under a named mutex.
void WriteLog(const std::vector<std::wstring>& lines) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"RefImporterLogMutex");
  if (mutex != nullptr) WaitForSingleObject(mutex, 10000);
  FILE* f = _wfopen(SideFile(L".log").c_str(), L"ab");
  if (f != nullptr) {
    for (const std::wstring& line : lines) AppendUtf8Line(f, line);
    fclose(f);
  }
  if (mutex != nullptr) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
}

bool IsDir(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring Join(const std::wstring& dir, const wchar_t* name) {
  std::wstring r = dir;
  if (!r.empty() && r.back() != L'\\') r += L'\\';
  return r + name;
}

int CountEntries(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(Join(dir, L"*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do {
    if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0) ++n;
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return n;
}

// A portable device has no folders to look at: it is named by the interface
// path the watcher passes, which a real module opens with the Windows Portable
// Devices API.
const int kPortableDeviceScore = 50;

bool IsDevicePath(const std::wstring& path) { return path.compare(0, 4, L"\\\\?\\") == 0; }

int Score(const std::wstring& path) {
  long fixed = 0;
  if (ReadIntFile(SideFile(L".score"), &fixed)) return (int)fixed;
  if (IsDevicePath(path)) return kPortableDeviceScore;
  if (path.empty() || !IsDir(path)) return 0;
  if (IsDir(Join(path, L"DCIM"))) return 100;
  return CountEntries(path) > 0 ? 1 : 0;
}

const wchar_t kModuleKey[] = L"Software\\Zelm Corporation\\Vantolo\\Importer\\RefImporter";

void SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
}

int Register(const std::wstring& exe) {
  HKEY module = nullptr, version = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kModuleKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &module,
                      nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  const wchar_t current[] = L"1.0";
  SetValue(module, L"CurrentVersion", REG_SZ, current, sizeof current);
  LONG rc = RegCreateKeyExW(module, current, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &version, nullptr);
  RegCloseKey(module);
  if (rc != ERROR_SUCCESS) return 1;
  size_t slash = exe.rfind(L'\\');
  std::wstring folder = exe.substr(0, slash), name = exe.substr(slash + 1);
  SetValue(version, L"InstalledLocation", REG_SZ, folder.c_str(),
           (DWORD)((folder.size() + 1) * sizeof(wchar_t)));
  SetValue(version, L"ExeName", REG_SZ, name.c_str(), (DWORD)((name.size() + 1) * sizeof(wchar_t)));
  DWORD one = 1, kinds = 1 | 4;  // volumes and portable devices
  SetValue(version, L"SupportedDevice", REG_DWORD, &kinds, sizeof kinds);
  SetValue(version, L"HasSettingsDialog", REG_DWORD, &one, sizeof one);
  RegCloseKey(version);
  return 0;
}

int Unregister() {
  LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kModuleKey);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kModuleKey);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? 0 : 1;
}

void HoldIfAsked() {
  long id = 0;
  if (!ReadIntFile(SideFile(L".hold"), &id)) return;
  std::wstring name = L"RefImporterHold" + std::to_wstring(id);
  HANDLE open = CreateEventW(nullptr, TRUE, FALSE, (name + L"Open").c_str());
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (open != nullptr && release != nullptr) {
    SetEvent(open);
    WaitForSingleObject(release, 60000);
  }
  if (release != nullptr) CloseHandle(release);
  if (open != nullptr) CloseHandle(open);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t exe[MAX_PATH * 2] = {0};
  GetModuleFileNameW(nullptr, exe, MAX_PATH * 2);
  g_base = exe;
  size_t dot = g_base.rfind(L'.');
  if (dot != std::wstring::npos && dot > g_base.rfind(L'\\')) g_base.resize(dot);

  const wchar_t* commandLine = GetCommandLineW();
  std::vector<std::wstring> log;
  log.push_back(commandLine);

  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
  if (argv != nullptr) LocalFree(argv);
  for (size_t i = 1; i < args.size(); ++i) log.push_back(L"# arg " + args[i]);

  if (args.size() == 2 && args[1] == L"/register") return Register(exe);
  if (args.size() == 2 && args[1] == L"/unregister") return Unregister();

  HWND parent = nullptr;
  std::wstring verb, operand, device;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    bool hasNext = i + 1 < args.size();
    if (a == L"/parentwindow" && hasNext) {
      parent = (HWND)(ULONG_PTR)wcstoul(args[++i].c_str(), nullptr, 16);
    } else if ((a == L"/importscore" || a == L"/import") && verb.empty()) {
      verb = a;
      if (hasNext) operand = args[++i];
    } else if ((a == L"/config" || a == L"/destdir") && verb.empty()) {
      verb = a;
    } else if (IsDevicePath(a) && device.empty()) {
      device = a;
    }
  }

  int exitCode = 0;
  wchar_t note[600];
  if (parent != nullptr) {
    swprintf(note, 600, L"# parent %08lX window=%d enabled=%d", (unsigned long)(ULONG_PTR)parent,
             IsWindow(parent) ? 1 : 0, IsWindowEnabled(parent) ? 1 : 0);
    log.push_back(note);
  }
  if (verb == L"/importscore" && GetFileAttributesW(SideFile(L".crash").c_str()) != INVALID_FILE_ATTRIBUTES) {
    log.push_back(L"# crash");
    WriteLog(log);
    // A write through a null pointer, as a faulty module makes it.
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  }
  if (verb == L"/importscore") {
    std::wstring negative = SideFile(L".negative");
    if (GetFileAttributesW(negative.c_str()) != INVALID_FILE_ATTRIBUTES && DeleteFileW(negative.c_str())) {
      exitCode = -1;
    } else {
      exitCode = Score(operand);
    }
    swprintf(note, 600, L"# score %d", exitCode);
    log.push_back(note);
  } else if (verb == L"/import") {
    swprintf(note, 600, L"# import %d entries", CountEntries(operand));
    log.push_back(note);
  } else if (verb == L"/config") {
    log.push_back(L"# config");
  } else if (verb == L"/destdir") {
    long code = 0;
    if (ReadIntFile(SideFile(L".exitcode"), &code)) exitCode = (int)code;
    log.push_back(L"# destdir");
    HoldIfAsked();
  } else if (!device.empty()) {
    log.push_back(L"# device " + device);
  }
  long delay = 0;
  if (ReadIntFile(SideFile(L".sleep"), &delay) && delay > 0) Sleep((DWORD)delay);
  // The parent's state is sampled again after the delay: a modal caller keeps
  // its window disabled for the whole run.
  if (parent != nullptr && delay > 0) {
    swprintf(note, 600, L"# parent later enabled=%d", IsWindowEnabled(parent) ? 1 : 0);
    log.push_back(note);
  }
  WriteLog(log);
  return exitCode;
}
