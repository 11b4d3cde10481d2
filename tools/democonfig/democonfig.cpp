// Demo helper: writes the sample configuration of the watcher into the
// registry from inside Wine (a program of the watcher's own architecture sees
// the same registry view as the watcher, which "wine reg" would not), and
// drives the running watcher's icon so that its menu and dialogs can be shown.
#include <windows.h>

#include <dbt.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

const wchar_t kUsage[] =
    L"usage: democonfig <command> [arguments]\n"
    L"  setup <watcher folder> <importer folder> <launch program>\n"
    L"        registers the reference importer, the watcher's version folder and a\n"
    L"        Launch entry for the USB device 1234:0010 (command line -demo)\n"
    L"  device98 <letter>  describes the device 1234:0010 at the drive letter in\n"
    L"        the Windows 98 registry trees\n"
    L"  version <win98|win2k|winxp|default>  Windows version Wine reports to the\n"
    L"        watcher (QRNVolumeWatcher.exe)\n"
    L"  clear             removes what setup and device98 wrote\n"
    L"  show              prints the configuration\n"
    L"  wait <seconds>    waits for the running watcher's icon window\n"
    L"  balloon | menu | autostart   asks the running watcher to show its start\n"
    L"        balloon, its context menu or its autostart dialog\n"
    L"  status            lists the running watchers (process ids)\n"
    L"  phone <arrive|leave>  tells the running watcher that a sample phone\n"
    L"        (portable device 1234:0020, no drive letter) arrived or left\n"
    L"  key <character>|esc   types one key into the window that has the focus\n"
    L"  close-dialogs     closes the watcher's open dialogs (Cancel)\n"
    L"  devices           opens the watcher's Devices window\n"
    L"  devices-score     presses its button that asks the importer modules\n"
    L"  run <program> [arguments]   runs a program on the watcher's desktop and\n"
    L"        returns its exit code (a broadcast reaches only that desktop)\n"
    L"The commands that look for the watcher do so on the desktop \"shell\".\n"
    L"Exit codes: 0 done, 1 bad command line, 2 registry write failed,\n"
    L"3 no running watcher.\n";

const wchar_t kVantolo[] = L"Software\\Zelm Corporation\\Vantolo";
const wchar_t kWatcherClass[] = L"BrimwellTrayIconDummyWnd";
const WPARAM kDevicesCommand = 0x8016;
const UINT kIconMessage = WM_USER + 1;
const UINT kShowBalloon = WM_APP + 1;
const DWORD kVid = 0x1234, kPid = 0x0010;

bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG r = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

bool SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG r = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

std::wstring Sub(const wchar_t* rest) { return std::wstring(kVantolo) + L"\\" + rest; }

int Setup(const std::wstring& watcher, const std::wstring& importer, const std::wstring& launch) {
  bool ok = SetString(HKEY_LOCAL_MACHINE, Sub(L"VolumeWatcher"), L"CurrentVersion", L"1.0");
  ok = SetString(HKEY_LOCAL_MACHINE, Sub(L"VolumeWatcher\\1.0"), L"InstalledLocation", watcher) && ok;
  const std::wstring module = Sub(L"Importer\\RefImporter");
  ok = SetString(HKEY_LOCAL_MACHINE, module, L"CurrentVersion", L"1.0") && ok;
  ok = SetString(HKEY_LOCAL_MACHINE, module + L"\\1.0", L"InstalledLocation", importer) && ok;
  ok = SetString(HKEY_LOCAL_MACHINE, module + L"\\1.0", L"ExeName", L"RefImporter.exe") && ok;
  ok = SetDword(HKEY_LOCAL_MACHINE, module + L"\\1.0", L"HasSettingsDialog", 1) && ok;
  // Volumes and portable devices.
  ok = SetDword(HKEY_LOCAL_MACHINE, module + L"\\1.0", L"SupportedDevice", 1 | 4) && ok;
  ok = SetDword(HKEY_LOCAL_MACHINE, module + L"\\1.0", L"SettingsMenuStrId", 1000) && ok;
  const std::wstring entry = Sub(L"VolumeWatcher\\1.0\\Launch\\SampleViewer");
  ok = SetDword(HKEY_LOCAL_MACHINE, entry, L"VID", kVid) && ok;
  ok = SetDword(HKEY_LOCAL_MACHINE, entry, L"PID", kPid) && ok;
  ok = SetString(HKEY_LOCAL_MACHINE, entry, L"AppPath", launch) && ok;
  ok = SetString(HKEY_LOCAL_MACHINE, entry, L"CommandLine", L"-demo") && ok;
  return ok ? 0 : 2;
}

// The trees a Windows 98 system keeps for a running USB card reader.
int Device98(wchar_t letter) {
  const wchar_t letters[2] = {letter, 0};
  bool ok = SetString(HKEY_LOCAL_MACHINE, L"Enum\\Scsi\\DEMO_READER\\USBSTOR&VID_1234&PID_0010&0001",
                      L"CurrentDriveLetterAssignment", letters);
  ok = SetString(HKEY_LOCAL_MACHINE, L"Enum\\Scsi\\DEMO_READER\\USBSTOR&VID_1234&PID_0010&0001",
                 L"DeviceDesc", L"Demo Card Reader") &&
       ok;
  ok = SetString(HKEY_DYN_DATA, L"Config Manager\\Enum\\DemoReader", L"HardWareKey",
                 L"USBSTOR\\VID_1234&PID_0010\\0001") &&
       ok;
  return ok ? 0 : 2;
}

int Clear() {
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, Sub(L"VolumeWatcher").c_str());
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, Sub(L"Importer\\RefImporter").c_str());
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Enum\\Scsi\\DEMO_READER");
  SHDeleteKeyW(HKEY_DYN_DATA, L"Config Manager\\Enum\\DemoReader");
  return 0;
}

void PrintTree(HKEY root, const wchar_t* rootName, const std::wstring& path, int depth) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  wprintf(L"%*ls[%ls\\%ls]\n", depth * 2, L"", rootName, path.c_str());
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256, type = 0;
    BYTE data[2048];
    DWORD size = sizeof(data) - 2;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    if (type == REG_DWORD)
      wprintf(L"%*ls  %ls = 0x%04lX\n", depth * 2, L"", name, *reinterpret_cast<DWORD*>(data));
    else if (type == REG_SZ) {
      data[size] = data[size + 1] = 0;
      wprintf(L"%*ls  %ls = \"%ls\"\n", depth * 2, L"", name, reinterpret_cast<wchar_t*>(data));
    }
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    PrintTree(root, rootName, path + L"\\" + name, depth + 1);
  }
  RegCloseKey(key);
}

HWND Watcher() { return FindWindowW(kWatcherClass, L""); }

// A phone's portable-device interface arriving or leaving, sent to the
// watcher's portable-device window as the system sends it.
int Phone(bool arrival) {
  HWND window = FindWindowW(L"Zelm_XpCommonLib_PortableDeviceWatchDogDummyWindow", nullptr);
  if (window == nullptr) return 3;
  const wchar_t name[] = L"\\\\?\\usb#vid_1234&pid_0020#demo0001#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
  BYTE record[sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + sizeof(name)] = {};
  DEV_BROADCAST_DEVICEINTERFACE_W* r = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record);
  r->dbcc_size = sizeof(record);
  r->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  r->dbcc_classguid = {0x6AC27878, 0xA6FA, 0x4155, {0xBA, 0x85, 0xF9, 0x8F, 0x49, 0x1D, 0x4F, 0x33}};
  memcpy(r->dbcc_name, name, sizeof(name));
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_DEVICECHANGE, arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                      reinterpret_cast<LPARAM>(record), SMTO_ABORTIFHUNG, 10000, &result);
  wprintf(L"%ls %ls\n", arrival ? L"arrived:" : L"left:", name);
  return 0;
}

// The watcher runs on Wine's desktop "shell"; this thread joins it (it has
// no windows yet) so that window searches and input reach the watcher.
bool JoinShellDesktop() {
  HDESK desktop = OpenDesktopW(L"shell", 0, FALSE, GENERIC_ALL);
  return desktop != nullptr && SetThreadDesktop(desktop);
}

int Run(int argc, wchar_t** argv) {
  std::wstring line;
  for (int i = 2; i < argc; ++i) {
    if (!line.empty()) line += L' ';
    std::wstring a = argv[i];
    bool quote = a.empty() || a.find_first_of(L" \t") != std::wstring::npos;
    line += quote ? L"\"" + a + L"\"" : a;
  }
  wchar_t desktop[] = L"shell";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
    fwprintf(stderr, L"democonfig: cannot start %ls (error %lu)\n", line.c_str(),
             static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  DWORD code = 1;
  if (WaitForSingleObject(info.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return static_cast<int>(code);
}

// Input goes to the watcher's own thread, which holds the foreground while
// its menu or dialog is open.
int Key(const wchar_t* name) {
  WORD vk = 0;
  if (_wcsicmp(name, L"esc") == 0) {
    vk = VK_ESCAPE;
  } else {
    SHORT scan = VkKeyScanW(name[0]);
    if (scan == -1 || name[0] == 0 || name[1] != 0) return 1;
    vk = static_cast<WORD>(scan & 0xFF);
  }
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_KEYBOARD;
  in[0].ki.wVk = in[1].ki.wVk = vk;
  in[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, in, sizeof(INPUT));
  return 0;
}

BOOL CALLBACK CloseDialog(HWND w, LPARAM watcherProcess) {
  DWORD owner = 0;
  GetWindowThreadProcessId(w, &owner);
  wchar_t name[32] = {};
  GetClassNameW(w, name, 32);
  if (owner == static_cast<DWORD>(watcherProcess) && wcscmp(name, L"#32770") == 0 && IsWindowVisible(w))
    PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

// The Devices window is the watcher's dialog with the details text 1011.
BOOL CALLBACK PressScore(HWND w, LPARAM watcherProcess) {
  DWORD owner = 0;
  GetWindowThreadProcessId(w, &owner);
  if (owner == static_cast<DWORD>(watcherProcess) && GetDlgItem(w, 1011) != nullptr)
    PostMessageW(w, WM_COMMAND, MAKEWPARAM(1015, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, 1015)));
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fwprintf(stderr, L"%ls", kUsage);
    return 1;
  }
  const std::wstring command = argv[1];
  if (command == L"setup" && argc == 5) return Setup(argv[2], argv[3], argv[4]);
  if (command == L"device98" && argc == 3) return Device98(static_cast<wchar_t>(towupper(argv[2][0])));
  if (command == L"clear") return Clear();
  if (command == L"version" && argc == 3) {
    const wchar_t key[] = L"Software\\Wine\\AppDefaults\\QRNVolumeWatcher.exe";
    if (wcscmp(argv[2], L"default") == 0) {
      SHDeleteValueW(HKEY_CURRENT_USER, key, L"Version");
      return 0;
    }
    return SetString(HKEY_CURRENT_USER, key, L"Version", argv[2]) ? 0 : 2;
  }
  if (command == L"show") {
    PrintTree(HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", Sub(L"VolumeWatcher"), 0);
    PrintTree(HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", Sub(L"Importer"), 0);
    return 0;
  }
  if (command == L"run" && argc >= 3) return Run(argc, argv);
  bool joined = JoinShellDesktop();
  if (command == L"wait" && argc == 3) {
    DWORD limit = static_cast<DWORD>(_wtoi(argv[2])) * 1000, start = GetTickCount();
    // The desktop appears only when the watcher's desktop process has made it.
    while (!(joined = joined || JoinShellDesktop()) || Watcher() == nullptr) {
      if (GetTickCount() - start >= limit) return 3;
      Sleep(100);
    }
    return 0;
  }
  if (command == L"key" && argc == 3) return Key(argv[2]);
  if (command == L"phone" && argc == 3 && (wcscmp(argv[2], L"arrive") == 0 || wcscmp(argv[2], L"leave") == 0))
    return Phone(wcscmp(argv[2], L"arrive") == 0);
  if (command == L"status") {
    int n = 0;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, kWatcherClass, L"")) != nullptr; ++n) {
      DWORD process = 0;
      GetWindowThreadProcessId(w, &process);
      wprintf(L"watcher running: process %lu\n", static_cast<unsigned long>(process));
    }
    if (n == 0) wprintf(L"no watcher running\n");
    return n > 0 ? 0 : 3;
  }
  HWND watcher = Watcher();
  if (command == L"devices" || command == L"devices-score") {
    if (watcher == nullptr) return 3;
    if (command == L"devices") {
      PostMessageW(watcher, WM_COMMAND, kDevicesCommand, 0);
      return 0;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(watcher, &process);
    EnumWindows(PressScore, static_cast<LPARAM>(process));
    return 0;
  }
  if (command == L"balloon" || command == L"menu" || command == L"autostart" || command == L"close-dialogs") {
    if (watcher == nullptr) return 3;
    if (command == L"balloon") PostMessageW(watcher, kShowBalloon, 0, 0);
    if (command == L"menu") {
      // The menu opens at the cursor: put it where the notification area is.
      RECT area = {};
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
      SetCursorPos(area.right - 40, area.bottom - 4);
      PostMessageW(watcher, kIconMessage, 13, WM_CONTEXTMENU);
    }
    if (command == L"autostart") PostMessageW(watcher, kIconMessage, 13, WM_LBUTTONDBLCLK);
    if (command == L"close-dialogs") {
      DWORD process = 0;
      GetWindowThreadProcessId(watcher, &process);
      EnumWindows(CloseDialog, static_cast<LPARAM>(process));
    }
    return 0;
  }
  fwprintf(stderr, L"%ls", kUsage);
  return 1;
}
