#include "tests/support/XpTestSupport.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <cwchar>

namespace xptest {

// --- owners ---------------------------------------------------------------

void Handle::reset(HANDLE h) {
  if (valid()) {
    // An error read after clean-up is still the caller's.
    DWORD error = GetLastError();
    CloseHandle(h_);
    SetLastError(error);
  }
  h_ = h;
}

void Key::reset(HKEY k) {
  if (k_ != nullptr) {
    DWORD error = GetLastError();
    RegCloseKey(k_);
    SetLastError(error);
  }
  k_ = k;
}

Handle MakeEvent(const wchar_t* name, bool manualReset, bool initialState) {
  return Handle(CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, name));
}

// --- child processes ---------------------------------------------------------

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : handle_(std::move(other.handle_)), id_(other.id_), exitCode_(other.exitCode_) {
  other.id_ = 0;
  other.exitCode_ = STILL_ACTIVE;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    handle_ = std::move(other.handle_);
    id_ = other.id_;
    exitCode_ = other.exitCode_;
    other.id_ = 0;
    other.exitCode_ = STILL_ACTIVE;
  }
  return *this;
}

bool ChildProcess::Start(const std::wstring& commandLine, const std::wstring& folder, const wchar_t* desktop,
                         bool quiet) {
  Kill();
  exitCode_ = STILL_ACTIVE;
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  std::vector<wchar_t> desktopName;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (desktop != nullptr) {
    desktopName.assign(desktop, desktop + wcslen(desktop) + 1);
    startup.lpDesktop = desktopName.data();
  }
  xptest::Handle nul;
  if (quiet) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    nul.reset(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr));
    if (nul) {
      startup.dwFlags |= STARTF_USESTDHANDLES;
      startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
    }
  }
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, nul ? TRUE : FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info))
    return false;
  CloseHandle(info.hThread);
  handle_.reset(info.hProcess);
  id_ = info.dwProcessId;
  return true;
}

bool ChildProcess::Wait(DWORD ms) {
  if (!handle_) return true;
  if (WaitForSingleObject(handle_.get(), ms) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(handle_.get(), &exitCode_);
  return true;
}

bool ChildProcess::Running() const {
  return handle_ && WaitForSingleObject(handle_.get(), 0) == WAIT_TIMEOUT;
}

void ChildProcess::Kill() {
  if (!handle_) return;
  if (WaitForSingleObject(handle_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(handle_.get(), 99);
    WaitForSingleObject(handle_.get(), 5000);
  }
  handle_.reset();
}

bool RunToEnd(const std::wstring& commandLine, DWORD ms, DWORD* exitCode, const std::wstring& folder,
              const wchar_t* desktop, bool quiet) {
  ChildProcess p;
  if (!p.Start(commandLine, folder, desktop, quiet)) return false;
  if (!p.Wait(ms)) return false;
  if (exitCode != nullptr) *exitCode = p.ExitCode();
  return true;
}

// --- files --------------------------------------------------------------------

std::wstring ProgramDir() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

bool FileExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirs(const std::wstring& path) {
  for (size_t i = 3; i < path.size(); ++i)
    if (path[i] == L'\\' || path[i] == L'/') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  CreateDirectoryW(path.c_str(), nullptr);
  return DirExists(path);
}

void* PatchImport(const char* function, void* replacement) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  void* target = reinterpret_cast<void*>(GetProcAddress(kernel, function));
  return ReplaceImport(target, replacement) ? target : NULL;
}

bool ReplaceImport(void* target, void* replacement) {
  BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(NULL));
  IMAGE_NT_HEADERS* nt =
      reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0 || target == NULL) return false;
  for (IMAGE_IMPORT_DESCRIPTOR* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       d->Name != 0; ++d) {
    for (IMAGE_THUNK_DATA* t = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk); t->u1.Function != 0;
         ++t) {
      if (reinterpret_cast<void*>(t->u1.Function) != target) continue;
      DWORD old = 0;
      VirtualProtect(&t->u1.Function, sizeof(t->u1.Function), PAGE_READWRITE, &old);
      t->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&t->u1.Function, sizeof(t->u1.Function), old, &old);
      return true;
    }
  }
  return false;
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = path + L"\\" + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!RemoveDirectoryW(full.c_str())) DeleteFileW(full.c_str());
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

ScratchFolder::ScratchFolder(const wchar_t* tag) {
  wchar_t temp[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return;
  static LONG serial = 0;
  wchar_t name[96];
  swprintf(name, 96, L"%.40ls_%lu_%ld", tag ? tag : L"xptest", GetCurrentProcessId(),
           InterlockedIncrement(&serial));
  path_ = std::wstring(temp) + name;
  RemoveTree(path_);
  if (!MakeDirs(path_)) path_.clear();
}

ScratchFolder::~ScratchFolder() {
  if (!path_.empty()) RemoveTree(path_);
}

bool ScratchFolder::MakeDir(const std::wstring& relative) const {
  return CreateDirectoryW(Sub(relative).c_str(), nullptr) != 0;
}

bool ScratchFolder::Exists(const std::wstring& relative) const {
  return GetFileAttributesW(Sub(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  xptest::Handle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return bytes.empty() ||
         (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
          written == bytes.size());
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  xptest::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

std::wstring ReadUtf8(const std::wstring& path) { return Wide(ReadBytes(path)); }

// --- registry -------------------------------------------------------------------

Key CreateKey(HKEY root, const std::wstring& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, &key, nullptr) != ERROR_SUCCESS)
    key = nullptr;
  return Key(key);
}

bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
               DWORD type) {
  Key key = CreateKey(root, path, KEY_SET_VALUE);
  if (!key) return false;
  return RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value) {
  Key key = CreateKey(root, path, KEY_SET_VALUE);
  if (!key) return false;
  return RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value)) == ERROR_SUCCESS;
}

bool DeleteTree(HKEY root, const std::wstring& path) {
  DWORD r = SHDeleteKeyW(root, path.c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

namespace {

// Opened before any override and kept for the whole run.
HKEY g_realCurrentUser = nullptr;

const wchar_t kScratchParent[] = L"Software\\XpTestScratch";
const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

}  // namespace

HKEY RealCurrentUser() {
  if (g_realCurrentUser == nullptr) {
    HKEY key = nullptr;
    // The real hive as a key of its own (opening the predefined key with no
    // subkey would hand back the predefined key, which an override replaces).
    if (RegOpenCurrentUser(KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) g_realCurrentUser = key;
  }
  return g_realCurrentUser != nullptr ? g_realCurrentUser : HKEY_CURRENT_USER;
}

ScratchRegistry::ScratchRegistry() {
  HKEY user = RealCurrentUser();
  static LONG serial = 0;
  wchar_t name[64];
  swprintf(name, 64, L"%lu_%ld", GetCurrentProcessId(), InterlockedIncrement(&serial));
  path_ = std::wstring(kScratchParent) + L"\\" + name;
  DeleteTree(user, path_);
  Key machine = CreateKey(user, path_ + L"\\HKLM");
  Key current = CreateKey(user, path_ + L"\\HKCU");
  if (!machine || !current) {
    error_ = L"cannot create the scratch keys";
    return;
  }
  // A scratch application-data folder, named where the shell looks it up.
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) {
    error_ = L"no temporary folder";
    return;
  }
  appData_ = std::wstring(temp) + L"xptest_appdata_" + name;
  RemoveTree(appData_);
  if (!MakeDirs(appData_) || !SetString(current.get(), kShellFolders, L"AppData", appData_)) {
    error_ = L"cannot prepare the scratch application-data folder";
    return;
  }
  if (RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine.get()) != ERROR_SUCCESS ||
      RegOverridePredefKey(HKEY_CURRENT_USER, current.get()) != ERROR_SUCCESS) {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    error_ = L"RegOverridePredefKey failed";
    return;
  }
  overridden_ = true;
}

ScratchRegistry::~ScratchRegistry() {
  if (overridden_) {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  }
  if (!path_.empty()) DeleteTree(RealCurrentUser(), path_);
  if (!appData_.empty()) RemoveTree(appData_);
}

::testing::AssertionResult ScratchRegistry::Ready() const {
  if (overridden_) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no scratch registry: " << Utf8(error_);
}

bool SetWineAppDefault(const std::wstring& program, const std::wstring& sub, const wchar_t* name,
                       const std::wstring& value) {
  std::wstring path = L"Software\\Wine\\AppDefaults\\" + program;
  if (!sub.empty()) path += L"\\" + sub;
  return SetString(RealCurrentUser(), path, name, value);
}

void ClearWineAppDefaults(const std::wstring& program) {
  DeleteTree(RealCurrentUser(), L"Software\\Wine\\AppDefaults\\" + program);
}

namespace {

std::wstring FileNameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

int RunningCount(const std::wstring& exeName) {
  std::wstring name = FileNameOf(exeName);
  Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return -1;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  int n = 0;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    entry.szExeFile[MAX_PATH - 1] = L'\0';
    if (_wcsicmp(FileNameOf(entry.szExeFile).c_str(), name.c_str()) == 0) ++n;
  }
  return n;
}

// --- where tests may run ---------------------------------------------------------

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[2048];
  DWORD n = GetEnvironmentVariableW(name, value, 2048);
  return n > 0 && n < 2048 ? std::wstring(value, n) : std::wstring();
}

}  // namespace

::testing::AssertionResult InPrivateWinePrefix() {
  const char advice[] =
      ": this test starts the real program or writes the suite's machine-wide configuration, so it runs only "
      "in the private Wine prefix of a build folder (scripts/wine-run <build>/wine <program>, or ctest)";
  if (!RunningUnderWine()) return ::testing::AssertionFailure() << "not running under Wine" << advice;
  std::wstring marker = Environment(L"XP_TEST_WINEPREFIX");
  if (marker.empty()) return ::testing::AssertionFailure() << "XP_TEST_WINEPREFIX is not set" << advice;
  std::wstring prefix = Environment(L"WINEPREFIX");
  if (prefix != marker)
    return ::testing::AssertionFailure()
           << "WINEPREFIX \"" << Utf8(prefix) << "\" is not the private prefix \"" << Utf8(marker) << "\""
           << advice;
  return ::testing::AssertionSuccess();
}

// --- drives ----------------------------------------------------------------------------

DWORD DriveTool(const std::wstring& args, bool quiet) {
  DWORD code = 0xBAD;
  if (!RunToEnd(Quoted(ProgramDir() + L"drivetool.exe") + L" " + args, 60000, &code, std::wstring(), nullptr,
                quiet))
    return 0xBAD;
  return code;
}

::testing::AssertionResult InsertedDrive::Insert(wchar_t letter, const std::wstring& folder, bool broadcast) {
  Remove();
  std::wstring drive(1, letter);
  DWORD code = DriveTool((broadcast ? L"insert " : L"define ") + drive + L" " + Quoted(folder));
  if (code != 0)
    return ::testing::AssertionFailure() << "drivetool could not put in " << Utf8(drive) << ": " << code;
  letter_ = letter;
  broadcast_ = broadcast;
  return ::testing::AssertionSuccess();
}

void InsertedDrive::Remove() {
  if (letter_ == 0) return;
  DriveTool((broadcast_ ? L"remove " : L"undefine ") + std::wstring(1, letter_), true);
  letter_ = 0;
}

}  // namespace xptest
