// What the test programs share: a scratch registry in place of the machine's
// and the user's hives, a check that a run happens inside the private Wine
// prefix of its build folder, owners for child processes and kernel handles,
// bounded waits, the drive tool, and plain Win32 file and registry writes
// (so that the code under test never checks itself).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace xptest {

// --- owners ---------------------------------------------------------------

// A kernel handle closed at the end of its owner's scope; null and
// INVALID_HANDLE_VALUE both mean "none".
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(Handle&& other) noexcept : h_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return valid(); }
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void reset(HANDLE h = nullptr);

 private:
  HANDLE h_ = nullptr;
};

// A registry key closed at the end of its owner's scope.
class Key {
 public:
  Key() = default;
  explicit Key(HKEY k) : k_(k) {}
  Key(Key&& other) noexcept : k_(other.release()) {}
  Key& operator=(Key&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() { reset(); }

  HKEY get() const { return k_; }
  explicit operator bool() const { return k_ != nullptr; }
  HKEY release() {
    HKEY k = k_;
    k_ = nullptr;
    return k;
  }
  void reset(HKEY k = nullptr);

 private:
  HKEY k_ = nullptr;
};

// An event made for one test (manual reset, initially clear unless asked).
Handle MakeEvent(const wchar_t* name = nullptr, bool manualReset = true, bool initialState = false);

// --- child processes ---------------------------------------------------------

// A started process. One still running when its owner goes (a test ended by a
// failed assertion, say) is terminated, so no test leaves a program behind.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Kill(); }

  // Starts a command line (program path quoted by the caller) in a folder
  // (empty: this one) on a desktop (null: this one's).
  bool Start(const std::wstring& commandLine, const std::wstring& folder = std::wstring(),
             const wchar_t* desktop = nullptr, bool quiet = false);
  // True when the process ended within the time; its exit code is kept.
  bool Wait(DWORD ms);
  bool Running() const;
  DWORD ExitCode() const { return exitCode_; }
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return handle_.get(); }
  // Terminates a process still running and waits a bounded time for it.
  void Kill();

 private:
  xptest::Handle handle_;
  DWORD id_ = 0;
  DWORD exitCode_ = STILL_ACTIVE;
};

// Runs a command line to its end. False when it could not start or did not
// end within the time (it is then terminated).
bool RunToEnd(const std::wstring& commandLine, DWORD ms, DWORD* exitCode,
              const std::wstring& folder = std::wstring(), const wchar_t* desktop = nullptr,
              bool quiet = false);

// Running processes whose program has this file name (a folder in front of it
// is ignored); -1 when the system's process list cannot be read.
int RunningCount(const std::wstring& exeName);

// Polls a condition until it holds or the time is up; true when it held.
template <class Predicate>
bool WaitUntil(DWORD ms, Predicate done, DWORD step = 50) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= ms) return false;
    Sleep(step);
  }
}

// --- import patching ------------------------------------------------------------

// Points this program's import of a kernel32 function at replacement, so a
// test can make a system call fail or pause; the previous target, or null when
// the program does not import it.
void* PatchImport(const char* function, void* replacement);
// Points every entry of this program's import table that holds from at to.
bool ReplaceImport(void* from, void* to);

// --- files --------------------------------------------------------------------

// The test program's own folder, with a trailing backslash.
std::wstring ProgramDir();
inline std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }
bool FileExists(const std::wstring& path);
bool DirExists(const std::wstring& path);
// Creates a folder and the folders above it.
bool MakeDirs(const std::wstring& path);
// Removes a folder with everything in it; links are removed, never followed.
void RemoveTree(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
// A UTF-8 file as text (invalid sequences become U+FFFD).
std::wstring ReadUtf8(const std::wstring& path);
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// A fresh folder under the temporary directory, removed with everything in it
// at the end of its owner's scope. Its name holds the tag, the process id and
// a count, so programs running side by side never share one.
class ScratchFolder {
 public:
  explicit ScratchFolder(const wchar_t* tag = L"xptest");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Without a trailing backslash; empty when the folder could not be made.
  const std::wstring& Path() const { return path_; }
  std::wstring Sub(const std::wstring& relative) const { return path_ + L"\\" + relative; }
  std::wstring operator/(const std::wstring& relative) const { return Sub(relative); }
  // Files and folders inside it; false on failure.
  bool Write(const std::wstring& relative, const std::string& bytes) const {
    return WriteBytes(Sub(relative), bytes);
  }
  std::string Read(const std::wstring& relative) const { return ReadBytes(Sub(relative)); }
  bool MakeDir(const std::wstring& relative) const;
  bool Exists(const std::wstring& relative) const;

 private:
  std::wstring path_;
};

// --- recording ------------------------------------------------------------------

// What callbacks report from other threads, in order, for a test to read and
// to wait for with a bound.
template <class Event>
class Recorder {
 public:
  Recorder() : changed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) { InitializeCriticalSection(&lock_); }
  ~Recorder() {
    DeleteCriticalSection(&lock_);
    if (changed_) CloseHandle(changed_);
  }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  void Add(const Event& event) {
    EnterCriticalSection(&lock_);
    events_.push_back(event);
    LeaveCriticalSection(&lock_);
    SetEvent(changed_);
  }
  std::vector<Event> Events() {
    EnterCriticalSection(&lock_);
    std::vector<Event> copy = events_;
    LeaveCriticalSection(&lock_);
    return copy;
  }
  size_t Count() { return Events().size(); }
  // Until at least n events were recorded; false when the time is up first.
  bool WaitFor(size_t n, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
      if (Count() >= n) return true;
      DWORD spent = GetTickCount() - start;
      if (spent >= timeoutMs) return false;
      WaitForSingleObject(changed_, timeoutMs - spent);
    }
  }

 private:
  CRITICAL_SECTION lock_;
  HANDLE changed_;
  std::vector<Event> events_;
};

// --- registry -------------------------------------------------------------------

Key CreateKey(HKEY root, const std::wstring& path, REGSAM access = KEY_ALL_ACCESS);
bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
               DWORD type = REG_SZ);
bool SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value);
// Removes a key with its subkeys; true when it is gone (or never was there).
bool DeleteTree(HKEY root, const std::wstring& path);
bool KeyExists(HKEY root, const std::wstring& path);

// The machine's and the user's hives replaced, in this process only, by keys
// of a scratch tree that is deleted again at the end: code under test that
// reads or writes HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER sees only what the
// test put there, and no test can change a real installation. Programs the
// test starts do not inherit it. The user's application-data folder moves
// into a scratch folder as well, since the suite keeps user files there.
class ScratchRegistry {
 public:
  ScratchRegistry();
  ~ScratchRegistry();
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

  // Success, or what went wrong.
  ::testing::AssertionResult Ready() const;
  // Where the scratch tree lives under the real user's hive.
  const std::wstring& Path() const { return path_; }
  const std::wstring& AppDataFolder() const { return appData_; }

 private:
  std::wstring path_;
  std::wstring appData_;
  std::wstring error_;
  bool overridden_ = false;
};

// The user's real hive, also while a scratch registry is in place: Wine reads
// its own settings (Windows versions and library overrides of a program,
// desktops) from there, through paths this process cannot redirect.
HKEY RealCurrentUser();

// Sets or removes a per-program Wine setting under
// HKCU\Software\Wine\AppDefaults\<program>[\<sub>] in the real user hive.
bool SetWineAppDefault(const std::wstring& program, const std::wstring& sub, const wchar_t* name,
                       const std::wstring& value);
void ClearWineAppDefaults(const std::wstring& program);

// --- where tests may run ---------------------------------------------------------

// True under Wine (its loader exports a version call from ntdll).
bool RunningUnderWine();
// Success only inside the private Wine prefix that scripts/wine-run prepares
// for a build folder: tests that start the real program, or write the suite's
// machine-wide configuration for it, refuse to run anywhere else.
::testing::AssertionResult InPrivateWinePrefix();

// --- drives ----------------------------------------------------------------------------

// Runs the drive tool beside the test program; its exit code, or 0xBAD when it
// could not run to its end within a minute.
DWORD DriveTool(const std::wstring& args, bool quiet = false);

// A drive letter defined over a folder for one scope and removed again at its
// end (also when an assertion ends the test early), with broadcasts.
class InsertedDrive {
 public:
  InsertedDrive() = default;
  ~InsertedDrive() { Remove(); }
  InsertedDrive(const InsertedDrive&) = delete;
  InsertedDrive& operator=(const InsertedDrive&) = delete;

  // "insert" broadcasts the arrival; "define" only defines the letter.
  ::testing::AssertionResult Insert(wchar_t letter, const std::wstring& folder, bool broadcast = true);
  // Takes the drive out again ("remove" or "undefine" as it was put in).
  void Remove();

 private:
  wchar_t letter_ = 0;
  bool broadcast_ = true;
};

}  // namespace xptest
