#include "app/VolumeWatcherApp.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <cstddef>
#include <new>

#include "app/DevicesWindow.h"
#include "app/WatcherNames.h"
#include "app/res/LocResources.h"
#include "modules/SuiteKeys.h"
#include "platform/XpFileOperation.h"
#include "platform/XpFileSystem.h"
#include "platform/XpHandle.h"
#include "platform/XpRegistry.h"
#include "platform/XpThread.h"
#include "platform/XpVersionedKey.h"
#include "watch/XpVolumeWatchDog.h"

const wchar_t VolumeWatcherApp::kSettingsPath[] = XP_SUITE_KEY L"/VolumeWatcher";
const wchar_t VolumeWatcherApp::kScoreTimeoutValue[] = L"ImportScoreTimeout";
const wchar_t VolumeWatcherApp::kMachineAutostartValue[] = L"Vantolo Card Watcher";
const wchar_t VolumeWatcherApp::kMachineAutostartOffValue[] = L"NoMachineAutostart";

namespace {

const wchar_t kMessageBoxMutex[] = L"BwvwMessageBoxMutex";
const wchar_t kDiskAccessorKey[] = L"Accessor/HDD1";

bool StartsWithNoCase(const XpString& text, const XpString& prefix) {
  if (prefix.GetLength() > text.GetLength()) return false;
  return text.Left(prefix.GetLength()).CompareNoCase(prefix.c_str()) == 0;
}

// Resolves a shortcut and compares its raw target with the program's path.
bool ShortcutPointsAt(const XpString& shortcut, const XpString& program) {
  XpComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())))
    return false;
  XpComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid()))) return false;
  if (FAILED(file->Load(shortcut.c_str(), STGM_READ))) return false;
  link->Resolve(NULL, SLR_NO_UI | SLR_UPDATE);
  wchar_t target[1040];
  target[0] = L'\0';
  if (FAILED(link->GetPath(target, 1040, NULL, SLGP_RAWPATH))) return false;
  target[1039] = L'\0';
  return program.CompareNoCase(target) == 0;
}

// Terminates one process found by the snapshot, with the debug privilege
// held for the duration when the thread can get it.
void TerminateInstance(DWORD processId) {
  HANDLE rawToken = NULL;
  bool impersonating = false;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, &rawToken)) {
    rawToken = NULL;
    if (GetLastError() == ERROR_NO_TOKEN && ImpersonateSelf(SecurityImpersonation)) {
      impersonating = true;
      if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, &rawToken))
        rawToken = NULL;
    }
  }
  XpUniqueHandle token(rawToken);
  bool enabled = false;
  TOKEN_PRIVILEGES privileges;
  ZeroMemory(&privileges, sizeof(privileges));
  if (token.valid() && LookupPrivilegeValueW(NULL, L"SeDebugPrivilege", &privileges.Privileges[0].Luid)) {
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    SetLastError(0);
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), NULL, NULL);
    enabled = GetLastError() == 0;
  }
  XpUniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
  if (process.valid()) {
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 4096);
  }
  if (enabled) {
    privileges.Privileges[0].Attributes = 0;
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), NULL, NULL);
  }
  token.reset();
  // The thread must not keep a security context it did not have before.
  if (impersonating) RevertToSelf();
}

}  // namespace

// Built on first use, which the initialiser below makes happen during static
// initialisation; whatever asks for it earlier still gets a finished object,
// and it is destroyed after every static built after it.
VolumeWatcherApp& getApp() {
  static VolumeWatcherApp app;
  return app;
}

namespace {
[[maybe_unused]] VolumeWatcherApp& g_appBuiltBeforeEntry = getApp();
}

// ---- single-instance guard ----

XpString SingleInstanceGuard::mutexName(const XpString& executablePath) {
  XpString name = executablePath;
  int n = name.GetLength();
  if (n == 0) return name;
  // Copy-on-write: build the lowered text in a buffer and assign it once.
  wchar_t* text = new wchar_t[static_cast<size_t>(n) + 1];
  for (int i = n - 1; i >= 0; --i) {
    wchar_t c = *name.At(i);
    if (c == L'\\')
      c = L'/';
    else if (c >= L'A' && c <= L'Z')
      c = static_cast<wchar_t>(c - L'A' + L'a');
    text[i] = c;
  }
  text[n] = L'\0';
  name = text;
  delete[] text;
  return name;
}

SingleInstanceGuard::SingleInstanceGuard(const XpString& executablePath, bool global) : m_isFirst(false) {
  XpString name = mutexName(executablePath);
  if (global) {
    DWORD platform = 0, major = 0;
    if (GetOsVersion(platform, &major, nullptr) == XP_OK && major >= 5) name = L"Global\\" + name;
  }
  m_mutex.reset(CreateMutexW(NULL, FALSE, name.c_str()));
  m_isFirst = m_mutex && GetLastError() != ERROR_ALREADY_EXISTS;
}

SingleInstanceGuard::~SingleInstanceGuard() {}

// ---- construction and destruction ----

VolumeWatcherApp::VolumeWatcherApp()
    : XpVolumeWatchDogWrapper(1, true),
      m_instanceGuard(nullptr),
      m_moduleManagerBuilding(0),
      m_ignoreMountWithShift(false),
      m_epoch(0),
      m_stopped(0),
      m_closing(0),
      m_inCallbacks(0),
      m_shutDown(false),
      m_identificationLibrary(NULL),
      m_autoPlayCancel(m_volumeDecisions, *this),
      m_volumesAtStartDone(false),
      m_volumesAtStartThread(nullptr),
      m_volumesAtStartCancel(0) {
  // Adding to a list that does not hold the object yet always succeeds.
  (void)XpVolumeWatchDogWrapper::AddCallback(static_cast<IXpVolumeWatchDogCallback*>(this));
  (void)XpIEEE1394WatchDog::AddCallback(static_cast<IXpDeviceWatchDogCallback*>(this));
  (void)m_portableWatchDog.AddCallback(static_cast<IXpPortableDeviceWatchDogCallback*>(this));
  XpRegistry* settings = OpenVersionedKey(kSettingsPath, XpRegistry::kRootCurrentUser, XpRegistry::kRead);
  if (settings) {
    m_ignoreMountWithShift = settings->ReadDword(L"IgnoreMoutingOnPressingSHIFT", 0) != 0;
    XpRegistry::Close(settings);
  }
}

VolumeWatcherApp::~VolumeWatcherApp() {
  // Static destruction does not wait: a thread still deciding runs on.
  endVolumesAtStart(0);
  // A resident run has unregistered before the entry point returned: nothing
  // here may wait, since the run-time library's exit lock is held now. A
  // command run never started a watcher, so no call can be in progress.
  if (!m_shutDown) {
    (void)XpVolumeWatchDogWrapper::RemoveCallback(static_cast<IXpVolumeWatchDogCallback*>(this));
    (void)XpIEEE1394WatchDog::RemoveCallback(static_cast<IXpDeviceWatchDogCallback*>(this));
    (void)m_portableWatchDog.RemoveCallback(static_cast<IXpPortableDeviceWatchDogCallback*>(this));
  }
  delete m_instanceGuard;
  m_instanceGuard = nullptr;
  XpSharedPtr<SfImporterModuleManager> released;
  {
    XpSingleLock guard(&m_moduleManagerLock);
    released = m_moduleManager;
    m_moduleManager = XpSharedPtr<SfImporterModuleManager>();
  }
  m_locLibrary.reset();
  // released goes here, then the watchers in the base destructors.
}

XpSharedPtr<SfImporterModuleManager> VolumeWatcherApp::existingModuleManager() {
  XpSingleLock guard(&m_moduleManagerLock);
  return m_moduleManager;
}

bool VolumeWatcherApp::mayStart(LONG epoch) const {
  volatile LONG* current = const_cast<volatile LONG*>(&m_epoch);
  return InterlockedCompareExchange(current, 0, 0) == epoch &&
         InterlockedCompareExchange(const_cast<volatile LONG*>(&m_stopped), 0, 0) == 0 &&
         InterlockedCompareExchange(const_cast<volatile LONG*>(&m_closing), 0, 0) == 0;
}

DWORD VolumeWatcherApp::readScoreTimeout() {
  DWORD seconds = 0;
  XpRegistry* versioned = OpenVersionedKey(kSettingsPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead);
  if (versioned) {
    seconds = versioned->ReadDword(kScoreTimeoutValue, 0);
    XpRegistry::Close(versioned);
  }
  if (seconds == 0) seconds = kDefaultScoreTimeoutSeconds;
  if (seconds > kMaxScoreTimeoutSeconds) seconds = kMaxScoreTimeoutSeconds;
  return seconds * 1000;
}

void VolumeWatcherApp::releaseInstanceGuard() {
  delete m_instanceGuard;
  m_instanceGuard = nullptr;
}

bool VolumeWatcherApp::shutdown(DWORD boundMs) {
  releaseInstanceGuard();
  InterlockedExchange(&m_closing, 1);
  // Cancels the decisions under way; the window threads only hand arrivals
  // on, so stopping them does not wait for a scoring run. Watchers already
  // stopped by a disconnected session report it, which changes nothing here.
  // A watcher thread that did not end within its bound still uses this
  // object: the process then ends without destroying it.
  if (stop() == static_cast<int>(XP_E_TIMEOUT)) return false;
  DWORD started = GetTickCount();
  while (InterlockedCompareExchange(&m_inCallbacks, 0, 0) != 0) {
    if (GetTickCount() - started >= boundMs) return false;
    Sleep(10);
  }
  DWORD spent = GetTickCount() - started;
  if (!reapDeviceDecisions(spent < boundMs ? boundMs - spent : 0)) return false;
  // The Devices window's workers call into this object: they end here too.
  spent = GetTickCount() - started;
  if (!DevicesWindow::Close(spent < boundMs ? boundMs - spent : 0)) return false;
  // No call is in progress any more, so these return at once; all were
  // added in the constructor, so all are found.
  (void)XpVolumeWatchDogWrapper::RemoveCallback(static_cast<IXpVolumeWatchDogCallback*>(this));
  (void)XpIEEE1394WatchDog::RemoveCallback(static_cast<IXpDeviceWatchDogCallback*>(this));
  (void)m_portableWatchDog.RemoveCallback(static_cast<IXpPortableDeviceWatchDogCallback*>(this));
  // The per-path notifier threads and the portable-device and IEEE 1394
  // delivery threads are idle now; they end here rather than in static
  // destruction.
  if (XpVolumeWatchDogEx* events = GetEventWatcher()) events->ReleaseNotifiers();
  m_portableWatchDog.ReleaseDelivery();
  XpIEEE1394WatchDog::ReleaseDelivery();
  // A destination-folder dialog still open would make static destruction wait
  // for the user: that registry is kept to the end of the process instead.
  XpSharedPtr<SfImporterModuleManager> manager = existingModuleManager();
  if (manager && manager->hasOpenDestinationRun())
    new (std::nothrow) XpSharedPtr<SfImporterModuleManager>(manager);
  if (m_identificationLibrary) {
    FreeLibrary(m_identificationLibrary);
    m_identificationLibrary = NULL;
  }
  m_shutDown = true;
  return true;
}

bool VolumeWatcherApp::reapDeviceDecisions(DWORD boundMs) {
  DWORD started = GetTickCount();
  for (;;) {
    std::vector<XpThread*> ended;
    bool left = false;
    {
      XpSingleLock guard(&m_deviceDecisionLock);
      for (size_t i = m_deviceDecisions.size(); i-- > 0;) {
        if (WaitForSingleObject(m_deviceDecisions[i]->GetHandle(), 0) == WAIT_OBJECT_0) {
          ended.push_back(m_deviceDecisions[i]);
          m_deviceDecisions.erase(m_deviceDecisions.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
      left = !m_deviceDecisions.empty();
    }
    // These threads have ended: joining them does not wait.
    // A decision's exit code has no reader.
    for (size_t i = 0; i < ended.size(); ++i) (void)XpThread::Join(ended[i]);
    if (!left) return true;
    if (GetTickCount() - started >= boundMs) return false;
    Sleep(10);
  }
}

namespace {

// Asks the system to start the watcher again when an update ended it
// (Windows Vista and later; looked up, so older systems simply go without).
// Not after a crash, a hang or a reboot: the autostart shortcut covers that.
void RegisterForRestart() {
  static volatile LONG registered = 0;
  if (InterlockedExchange(&registered, 1) != 0) return;
  typedef HRESULT(WINAPI * RegisterRestartFn)(PCWSTR, DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  RegisterRestartFn registerRestart = kernel ? reinterpret_cast<RegisterRestartFn>(reinterpret_cast<void*>(
                                                   GetProcAddress(kernel, "RegisterApplicationRestart")))
                                             : NULL;
  const DWORD kNoCrash = 1, kNoHang = 2, kNoReboot = 8;
  // Without it the watcher is only back at the next sign-in.
  if (registerRestart) (void)registerRestart(L"/noballoononstart", kNoCrash | kNoHang | kNoReboot);
}

}  // namespace

int VolumeWatcherApp::start() {
  RegisterForRestart();
  InterlockedExchange(&m_stopped, 0);
  if (!m_identificationLibrary) {
    // By its full path beside the program: the identification's own load by
    // file name then finds this module and only counts a reference.
    XpString program = executablePath();
    if (!program.IsEmpty())
      m_identificationLibrary = LoadLibraryW(JoinPath(GetDirectory(program), L"UsbDriveInfo.dll").c_str());
  }
  XpSharedPtr<SfImporterModuleManager> manager = existingModuleManager();
  if (manager) manager->resumeSelections();
  DevicesWindow::ResumeWork();
  XpResult result = XpVolumeWatchDogWrapper::Start();
  if (result != XP_OK) return static_cast<int>(result);
  result = XpIEEE1394WatchDog::Start();
  if (result != XP_OK) {
    // The start failure is what the caller learns; the watcher just started stops.
    (void)XpVolumeWatchDogWrapper::Stop();
    return static_cast<int>(result);
  }
  result = m_portableWatchDog.Start();
  if (result != XP_OK) {
    // As above: the start failure is what the caller learns.
    (void)XpIEEE1394WatchDog::Stop();
    (void)XpVolumeWatchDogWrapper::Stop();
    return static_cast<int>(result);
  }
  startVolumesAtStart();
  m_autoPlayCancel.start();
  return 0;
}

std::vector<XpString> VolumeWatcherApp::presentRemovableVolumes() {
  std::vector<XpString> roots;
  DWORD platform = 0;
  if (GetOsVersion(platform, nullptr, nullptr) != XP_OK) platform = XP_OS_UNKNOWN;
  int platformId = platform == XP_OS_NT ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS;
  DWORD drives = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((drives & (1u << i)) == 0) continue;
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(L'A' + i);
    if (GetDriveTypeW(root) != DRIVE_REMOVABLE) continue;
    if (!IsVolumePresent(root[0], false, platformId)) continue;
    roots.push_back(XpString(root));
  }
  return roots;
}

unsigned int VolumeWatcherApp::VolumesAtStartThread(void* argument) {
  VolumeWatcherApp* app = static_cast<VolumeWatcherApp*>(argument);
  std::vector<XpString> roots = presentRemovableVolumes();
  for (size_t i = 0; i < roots.size(); ++i) {
    if (InterlockedCompareExchange(&app->m_volumesAtStartCancel, 0, 0) != 0) break;
    app->OnVolumeArrival(roots[i]);
  }
  return 0;
}

void VolumeWatcherApp::startVolumesAtStart() {
  // Once per run: a start after a reconnected session does not repeat it.
  if (m_volumesAtStartDone) return;
  m_volumesAtStartDone = true;
  XpRegistry* settings = OpenVersionedKey(kSettingsPath, XpRegistry::kRootCurrentUser, XpRegistry::kRead);
  bool wanted = settings && settings->ReadDword(L"HandleVolumesAtStart", 0) != 0;
  XpRegistry::Close(settings);
  if (!wanted) return;
  InterlockedExchange(&m_volumesAtStartCancel, 0);
  m_volumesAtStartThread = XpThread::Create(&VolumesAtStartThread, this);
}

void VolumeWatcherApp::endVolumesAtStart(DWORD waitMs) {
  if (!m_volumesAtStartThread) return;
  InterlockedExchange(&m_volumesAtStartCancel, 1);
  // A module's scoring run may still be going; the wait is bounded and a
  // thread that does not end in time is left to finish on its own.
  if (WaitForSingleObject(m_volumesAtStartThread->GetHandle(), waitMs) == WAIT_OBJECT_0) {
    // The thread has ended: its exit code says nothing more.
    (void)XpThread::Join(m_volumesAtStartThread);
  } else {
    delete m_volumesAtStartThread;
  }
  m_volumesAtStartThread = nullptr;
}

int VolumeWatcherApp::stop() {
  // First the decisions: arrivals still queued are dropped, scoring runs end.
  InterlockedExchange(&m_stopped, 1);
  InterlockedIncrement(&m_epoch);
  // Paused or ending, the watcher decides nothing: AutoPlay has the volumes.
  // Its questions in progress end at once, so the bound is not reached.
  (void)m_autoPlayCancel.stop(kAutoPlayStopMs);
  XpSharedPtr<SfImporterModuleManager> manager = existingModuleManager();
  if (manager) manager->cancelSelections();
  DevicesWindow::CancelWork();
  // Its decisions were cancelled above, so the wait is short and bounded.
  endVolumesAtStart(3000);
  XpResult portable = m_portableWatchDog.Stop();
  XpResult ieee = XpIEEE1394WatchDog::Stop();
  XpResult volume = XpVolumeWatchDogWrapper::Stop();
  // A watcher thread still busy after its bound is reported first: the
  // caller must then keep this object (and its watchers) alive.
  if (portable == XP_E_TIMEOUT || ieee == XP_E_TIMEOUT || volume == XP_E_TIMEOUT)
    return static_cast<int>(XP_E_TIMEOUT);
  if (ieee != XP_OK) return static_cast<int>(ieee);
  return static_cast<int>(volume != XP_OK ? volume : portable);
}

bool VolumeWatcherApp::isFirstInstance() {
  if (!m_instanceGuard) {
    m_instanceGuard = new (std::nothrow) SingleInstanceGuard(executablePath(), false);
    if (!m_instanceGuard) return true;
  }
  return m_instanceGuard->isFirst();
}

// ---- localisation library ----

XpString VolumeWatcherApp::executablePath() {
  wchar_t path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return XpString();
  path[n] = L'\0';
  return XpString(path);
}

XpString VolumeWatcherApp::locLibraryName(const XpString& executablePath) {
  XpString name = GetFileName(executablePath);
  int dot = name.ReverseFind(L'.');
  if (dot >= 0) name = name.Left(dot);
  return name + L"LOC.DLL";
}

HMODULE VolumeWatcherApp::locLibrary() {
  if (!m_locLibrary) {
    XpString name = locLibraryName(executablePath());
    // The library beside the program, by full path, never a file of that
    // name in the current folder or along the search path.
    if (!name.IsEmpty()) m_locLibrary.reset(LoadProgramLibrary(name));
  }
  return m_locLibrary.get();
}

bool VolumeWatcherApp::loadString(UINT id, wchar_t* buffer, int size) {
  if (!buffer || size <= 0) return false;
  buffer[0] = L'\0';
  HMODULE library = locLibrary();
  if (!library) return false;
  return LoadStringW(library, id, buffer, size) > 0;
}

XpString VolumeWatcherApp::loadString(UINT id) {
  wchar_t buffer[1024];
  if (!loadString(id, buffer, 1024)) return XpString();
  return XpString(buffer);
}

void VolumeWatcherApp::bringMessageWindowToFront() {
  XpString title = loadString(IDS_APP_NAME);
  if (title.IsEmpty()) return;
  HWND window = FindWindowW(NULL, title.c_str());
  if (!window) return;
  HWND popup = GetLastActivePopup(window);
  SetForegroundWindow(popup ? popup : window);
}

// ---- automatic start ----

XpString VolumeWatcherApp::autostartShortcutPath() {
  if (!locLibrary()) return XpString();
  XpString startup = GetSpecialFolderPath(XP_FOLDER_STARTUP, false);
  wchar_t name[260];
  if (!loadString(IDS_APP_NAME, name, 260)) return XpString();
  // Without a Startup folder the name alone would be a relative path.
  if (startup.IsEmpty()) return XpString();
  return JoinPath(startup, name) + L".lnk";
}

namespace {

bool OwnShortcutExists(VolumeWatcherApp& app) {
  XpString path = app.autostartShortcutPath();
  return !path.IsEmpty() && FileExists(path);
}

const wchar_t kRunKey[] = L"Software/Microsoft/Windows/CurrentVersion/Run";
const wchar_t kProfileListKey[] = L"Software/Microsoft/Windows NT/CurrentVersion/ProfileList";

}  // namespace

bool VolumeWatcherApp::machineAutostartPresent() {
  XpScopedRegistry run(XpRegistry::Open(kRunKey, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
  if (!run) return false;
  XpString command = run->ReadString(kMachineAutostartValue, XpString());
  XpString program = executablePath();
  // "<path>" and its arguments; the start of another copy of the program
  // is not this one's.
  if (program.IsEmpty() || command.GetLength() < 2 || *command.At(0) != L'"') return false;
  XpString quoted = command.Right(command.GetLength() - 1);
  int end = quoted.Find(L'"');
  return end > 0 && quoted.Left(end).CompareNoCase(program.c_str()) == 0;
}

bool VolumeWatcherApp::machineAutostartOptedOut() {
  XpScopedRegistry settings(OpenVersionedKey(kSettingsPath, XpRegistry::kRootCurrentUser, XpRegistry::kRead));
  return settings && settings->ReadDword(kMachineAutostartOffValue, 0) != 0;
}

bool VolumeWatcherApp::isRegistered() {
  if (OwnShortcutExists(*this)) return true;
  return machineAutostartPresent() && !machineAutostartOptedOut();
}

bool VolumeWatcherApp::autostartSwitchedOff() {
  return machineAutostartPresent() && machineAutostartOptedOut() && !OwnShortcutExists(*this);
}

XpResult VolumeWatcherApp::setAutostart(bool on) {
  bool machine = machineAutostartPresent();
  if (on && !machine) {
    registerAutostart();
    return OwnShortcutExists(*this) ? XP_OK : XP_E_FAIL;
  }
  XpResult result = XP_OK;
  if (!on && OwnShortcutExists(*this)) result = unregisterAutostart();
  if (!machine) return result;
  XpScopedRegistry settings(
      OpenVersionedKey(kSettingsPath, XpRegistry::kRootCurrentUser, XpRegistry::kWrite));
  XpResult written = settings ? settings->WriteDword(kMachineAutostartOffValue, on ? 0 : 1) : XP_E_FAIL;
  return result != XP_OK ? result : written;
}

int VolumeWatcherApp::registerAutostart() {
  XpComApartment com;
  XpString path = autostartShortcutPath();
  if (path.IsEmpty()) return 0;
  XpComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())))
    return 0;
  XpString program = executablePath();
  link->SetPath(program.c_str());
  link->SetShowCmd(SW_SHOWMINNOACTIVE);
  link->SetIconLocation(program.c_str(), 0);
  link->SetArguments(L"/noballoononstart");
  XpString description = loadString(IDS_APP_NAME);
  if (!description.IsEmpty()) link->SetDescription(description.c_str());
  XpComPtr<IPersistFile> file;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.putVoid()))) file->Save(path.c_str(), TRUE);
  return 0;
}

XpResult VolumeWatcherApp::unregisterAutostart() {
  return XpFileOperation::DeleteFile(autostartShortcutPath());
}

namespace {

// The profile folders the system knows (HKLM ProfileList, every account that
// ever logged on, with or without a loaded hive); empty where the system keeps
// no such list.
std::vector<XpString> ListedProfiles() {
  std::vector<XpString> folders;
  XpScopedRegistry list(XpRegistry::Open(kProfileListKey, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
  if (!list) return folders;
  XpRegistry::StringList accounts = list->EnumSubKeys();
  for (size_t i = 0; i < accounts.size(); ++i) {
    XpScopedRegistry account(XpRegistry::OpenSubKeyLiteral(list.get(), accounts[i], XpRegistry::kRead));
    XpString folder = account ? account->ReadString(L"ProfileImagePath", XpString()) : XpString();
    if (!folder.IsEmpty()) folders.push_back(folder);
  }
  return folders;
}

// Without a profile list: the folders beside the caller's own profile.
std::vector<XpString> SiblingProfiles(const XpString& profile) {
  std::vector<XpString> folders;
  int lastSlash = profile.ReverseFind(L'\\');
  if (lastSlash < 0) return folders;
  XpDir dir(profile.Left(lastSlash + 1));
  if (dir.BeginFind(XP_FIND_DIRECTORIES, XpString()) != XP_OK) return folders;
  for (XpSharedPtr<XpAbstractFSObj> entry = dir.FindNext(); entry; entry = dir.FindNext())
    if (entry->IsDirectory()) folders.push_back(entry->GetPath());
  // The enumeration was begun above, so ending it succeeds.
  (void)dir.EndFind();
  return folders;
}

}  // namespace

int VolumeWatcherApp::unregisterAutostartAll() {
  // A missing own shortcut is no reason to leave the other profiles' ones.
  (void)unregisterAutostart();
  XpString shortcut = autostartShortcutPath();
  XpString profile = GetSpecialFolderPath(XP_FOLDER_PROFILE, false);
  if (shortcut.IsEmpty() || profile.IsEmpty() || !StartsWithNoCase(shortcut, profile)) return 0;
  // Where the shortcut lies inside a profile; run as the system (by the
  // package) that is the system profile's layout, the same as every user's.
  XpString relative = shortcut.Right(shortcut.GetLength() - profile.GetLength());
  std::vector<XpString> profiles = ListedProfiles();
  if (profiles.empty()) profiles = SiblingProfiles(profile);
  XpString program = executablePath();

  XpComApartment com;
  for (size_t i = 0; i < profiles.size(); ++i) {
    XpString candidate = JoinPath(profiles[i], relative);
    // A shortcut that cannot be deleted stays; the other profiles are still cleaned.
    if (FileExists(candidate) && ShortcutPointsAt(candidate, program))
      (void)XpFileOperation::DeleteFile(candidate);
  }
  return 0;
}

// ---- exit ----

bool VolumeWatcherApp::confirmExit() {
  XpMutex question(kMessageBoxMutex);
  XpResult taken = question.LockTimeout(0);
  // An owner that was killed while its question was open asks nothing any
  // more: the abandoned mutex was handed back, so it is free to take now.
  if (taken == XP_E_ABANDONED) taken = question.LockTimeout(0);
  if (taken != XP_OK) {
    // Another instance (or an earlier command) is asking right now.
    bringMessageWindowToFront();
    return false;
  }
  bool answer = true;
  // While an arrival still builds the registry, the accessor is not known
  // yet: the question is asked rather than waited for.
  XpSharedPtr<SfImporterModuleManager> manager = readyModuleManager();
  if (!manager || manager->hasDiskAccessor()) {
    XpString text = loadString(IDS_CONFIRM_EXIT);
    XpString caption = loadString(IDS_APP_NAME);
    answer = MessageBoxW(NULL, text.c_str(), caption.c_str(), MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2) ==
             IDOK;
  }
  // Taken above by this thread, so the release succeeds.
  (void)question.Unlock();
  return answer;
}

namespace {

// Asks the running instance's window to close, with bounds on the request and
// on the end of its process. 0 when it ended or there is none.
int CloseRunningInstance(DWORD sendMs, DWORD waitMs) {
  HWND window = FindWindowW(kWatcherWindowClass, L"");
  if (!window) return 0;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  XpUniqueHandle process(processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : NULL);
  DWORD_PTR answer = 0;
  // A main thread that does not pump messages must not hold this one up.
  if (!SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL, sendMs, &answer))
    return IsWindow(window) ? static_cast<int>(XP_E_TIMEOUT) : 0;
  if (process.valid())
    return WaitForSingleObject(process.get(), waitMs) == WAIT_OBJECT_0 ? 0 : static_cast<int>(XP_E_TIMEOUT);
  // Without a handle to wait on, the window going away is the sign.
  DWORD started = GetTickCount();
  while (IsWindow(window)) {
    if (GetTickCount() - started >= waitMs) return static_cast<int>(XP_E_TIMEOUT);
    Sleep(50);
  }
  return 0;
}

}  // namespace

int VolumeWatcherApp::requestExit(bool ask) {
  if (ask && !confirmExit()) return kExitKept;
  return CloseRunningInstance(kExitSendMs, kExitWaitMs);
}

int VolumeWatcherApp::exitAll() {
  // The polite request has a short bound; whatever does not answer is ended
  // by the loop below. Its result does not change what the loop does.
  (void)CloseRunningInstance(kExitAllSendMs, kExitWaitMs);
  XpUniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return static_cast<int>(XP_E_FAIL);
  XpString ownName = GetFileName(executablePath());
  DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry;
  ZeroMemory(&entry, sizeof(entry));
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self) continue;
    entry.szExeFile[MAX_PATH - 1] = L'\0';
    // The snapshot may report a full path on some systems: compare file names.
    XpString name = GetFileName(XpString(entry.szExeFile));
    if (!ownName.IsEmpty() && name.CompareNoCase(ownName.c_str()) == 0)
      TerminateInstance(entry.th32ProcessID);
  }
  return 0;
}

// ---- module registry ----

XpSharedPtr<SfImporterModuleManager> VolumeWatcherApp::moduleManager() {
  XpSharedPtr<SfImporterModuleManager> existing = existingModuleManager();
  if (existing) return existing;
  // The build reads the registry, loads libraries, lists folders that may be
  // network shares and parses files: it holds only its own lock, never the
  // one that stop() and the user interface take to look at the registry.
  XpSingleLock building(&m_moduleManagerBuildLock);
  existing = existingModuleManager();
  if (existing) return existing;
  InterlockedExchange(&m_moduleManagerBuilding, 1);
  SfImporterModuleManager* manager = new (std::nothrow) SfImporterModuleManager();
  XpSharedPtr<SfImporterModuleManager> made;
  if (manager) {
    manager->setScoreTimeout(readScoreTimeout());
    made = XpSharedPtr<SfImporterModuleManager>(manager);
    // Published and checked under the lock stop() reads it with: a stop
    // either finds it and cancels it, or is seen here.
    XpSingleLock guard(&m_moduleManagerLock);
    // Made by a decision that met a stop on its way: it scores nothing.
    if (InterlockedCompareExchange(&m_stopped, 0, 0) != 0) manager->cancelSelections();
    m_moduleManager = made;
  }
  InterlockedExchange(&m_moduleManagerBuilding, 0);
  return made;
}

XpSharedPtr<SfImporterModuleManager> VolumeWatcherApp::readyModuleManager() {
  XpSharedPtr<SfImporterModuleManager> existing = existingModuleManager();
  if (existing || InterlockedCompareExchange(&m_moduleManagerBuilding, 0, 0) != 0) return existing;
  return moduleManager();
}

// ---- version text ----

XpString VolumeWatcherApp::versionTextPath() {
  XpRegistry* versioned = OpenVersionedKey(kSettingsPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead);
  if (!versioned) return XpString();
  XpString location = versioned->ReadString(L"InstalledLocation", XpString());
  XpRegistry::Close(versioned);
  return JoinPath(location, L"version.txt");
}

XpString VolumeWatcherApp::readVersionText() {
  XpString path = versionTextPath();
  if (path.IsEmpty()) return XpString();
  XpUniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
  if (!file.valid()) return XpString();
  char bytes[512];
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes, 511, &read, NULL)) return XpString();
  // A trailing line break of the file is not part of the version.
  while (read > 0 && (bytes[read - 1] == '\n' || bytes[read - 1] == '\r')) --read;
  bytes[read] = '\0';
  return XpStringA(bytes).ToWide();
}
