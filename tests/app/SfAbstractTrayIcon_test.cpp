// The tray icon base: hidden window, shell data, and the messages it turns into
// virtual operations. The shell calls go to Wine's notification area (or
// nowhere); the object's own record of them is what is checked.
#include "app/SfAbstractTrayIcon.h"
#include "app/res/LocResources.h"
#include "tests/support/XpTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const wchar_t kClass[] = L"BrimwellTrayIconDummyWnd";

std::wstring ModuleDir() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L'\\') + 1);
}

class LocLibrary {
 public:
  LocLibrary() : m_module(LoadLibraryW((ModuleDir() + L"QRNVolumeWatcherLOC.DLL").c_str())) {}
  ~LocLibrary() {
    if (m_module) FreeLibrary(m_module);
  }
  HMODULE get() const { return m_module; }

 private:
  HMODULE m_module;
};

// Records what the base hands to the virtual operations.
class RecordingIcon : public SfAbstractTrayIcon {
 public:
  RecordingIcon(HMODULE module, UINT tip)
      : SfAbstractTrayIcon(GetModuleHandleW(NULL), module, kClass, IDI_WATCHER, IDR_TRAY_MENU, tip) {}

  std::vector<std::wstring> events;
  std::vector<UINT> commands;
  int stateAtQuit = -1;
  bool swallowNext = false;
  bool endMenuOnTimer = false;
  int menuItems = -1;

 protected:
  bool preTranslate(HWND, UINT message, WPARAM, LPARAM) override {
    if (message == WM_APP + 7 && swallowNext) {
      events.push_back(L"swallowed");
      return true;
    }
    return false;
  }
  int onCommand(UINT id) override {
    commands.push_back(id);
    return 0;
  }
  void onSessionDisconnected() override { events.push_back(L"disconnected"); }
  void onSessionConnected() override { events.push_back(L"connected"); }
  void onSelect(HWND) override { events.push_back(L"select"); }
  void onRightDoubleClick(HWND) override { events.push_back(L"rdouble"); }
  void onBalloonClick(HWND) override { events.push_back(L"balloon"); }
  void onQuit() override {
    stateAtQuit = iconState();
    events.push_back(L"quit");
  }
  void prepareMenu(HMENU menu) override {
    menuItems = GetMenuItemCount(menu);
    // The menu loop dispatches this window's timer; it closes the menu.
    SetTimer(window(), 77, 300, NULL);
  }
  void onTimer(UINT_PTR id) override {
    if (id == 77) {
      KillTimer(window(), 77);
      EndMenu();
    }
  }
};

int SessionChange(HWND window, WPARAM code) {
  return static_cast<int>(SendMessageW(window, 0x02B1, code, 0));
}

TEST(SfAbstractTrayIcon, CreatesOneHiddenTitlelessWindowOfTheClassAndUnregistersIt) {
  LocLibrary loc;
  ASSERT_NE(loc.get(), nullptr);
  {
    RecordingIcon icon(loc.get(), IDS_APP_NAME);
    ASSERT_NE(icon.window(), nullptr);
    EXPECT_EQ(FindWindowW(kClass, L""), icon.window());
    EXPECT_FALSE(IsWindowVisible(icon.window()));
    EXPECT_TRUE(GetWindowLongPtrW(icon.window(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_EQ(icon.iconState(), SfAbstractTrayIcon::kStateRemoved);
    // The class carries the icon of the library.
    EXPECT_NE(GetClassLongPtrW(icon.window(), GCLP_HICON), 0u);
  }
  EXPECT_EQ(FindWindowW(kClass, NULL), nullptr);
  // The class went with the object, so a new icon can be made in the same process.
  RecordingIcon again(loc.get(), IDS_APP_NAME);
  EXPECT_NE(again.window(), nullptr);
}

TEST(SfAbstractTrayIcon, ShowFillsTheBalloonCapableLayoutOnce) {
  LocLibrary loc;
  RecordingIcon icon(loc.get(), IDS_APP_NAME);
  icon.show(nullptr, nullptr, 1, 15000);
  const NOTIFYICONDATAW& d = icon.iconData();
#ifdef _WIN64
  EXPECT_EQ(d.cbSize, 952u);
#else
  EXPECT_EQ(d.cbSize, 936u);
#endif
  EXPECT_EQ(d.hWnd, icon.window());
  EXPECT_EQ(d.uID, 13u);
  EXPECT_EQ(d.uCallbackMessage, static_cast<UINT>(WM_USER + 1));
  EXPECT_EQ(d.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_NE(d.hIcon, nullptr);
  EXPECT_STREQ(d.szTip, L"Vantolo Card Watcher");
  EXPECT_EQ(d.uVersion, 3u);
  EXPECT_EQ(icon.iconState(), SfAbstractTrayIcon::kStateAdded);

  // Only a removed icon can be shown: a second show changes nothing.
  icon.show(L"title", L"text", 1, 15000);
  EXPECT_EQ(icon.iconData().szInfo[0], L'\0');
  icon.remove();
  EXPECT_EQ(icon.iconState(), SfAbstractTrayIcon::kStateRemoved);
  icon.remove();
  EXPECT_EQ(icon.iconState(), SfAbstractTrayIcon::kStateRemoved);
}

TEST(SfAbstractTrayIcon, LongTooltipAndBalloonTextsAreCutAtTheirFields) {
  RecordingIcon icon(GetModuleHandleW(NULL), 900);
  std::wstring title(100, L'T');
  std::wstring text(400, L'x');
  icon.show(title.c_str(), text.c_str(), 1, 15000);
  const NOTIFYICONDATAW& d = icon.iconData();
  EXPECT_EQ(wcslen(d.szTip), 127u);
  EXPECT_EQ(std::wstring(d.szTip).substr(0, 10), L"A tooltip ");
  EXPECT_EQ(d.dwState, 0u);  // the field after the tooltip is untouched
  EXPECT_EQ(wcslen(d.szInfoTitle), 63u);
  EXPECT_EQ(wcslen(d.szInfo), 255u);
  EXPECT_TRUE(d.uFlags & NIF_INFO);
  EXPECT_EQ(d.dwInfoFlags, 1u);
}

TEST(SfAbstractTrayIcon, BalloonIsShownOnceAndNeverOnARemovedIcon) {
  RecordingIcon icon(GetModuleHandleW(NULL), 901);
  icon.showBalloon(L"Title", L"Text", 1, 15000);
  EXPECT_EQ(icon.iconState(), SfAbstractTrayIcon::kStateRemoved);
  EXPECT_FALSE(icon.iconData().uFlags & NIF_INFO);

  icon.show(nullptr, nullptr, 0, 0);
  EXPECT_FALSE(icon.iconData().uFlags & NIF_INFO);
  icon.showBalloon(L"Title", L"Text", 1, 15000);
  EXPECT_EQ(icon.iconState(), SfAbstractTrayIcon::kStateModified);
  EXPECT_EQ(icon.iconData().uTimeout, 15000u);
  // Emptied, so that a later modification shows no balloon.
  EXPECT_EQ(icon.iconData().szInfoTitle[0], L'\0');
  EXPECT_EQ(icon.iconData().szInfo[0], L'\0');
}

TEST(SfAbstractTrayIcon, ShellRestartReaddsAShownIconOnly) {
  RecordingIcon icon(GetModuleHandleW(NULL), 901);
  UINT restart = SfAbstractTrayIcon::taskbarCreatedMessage();
  ASSERT_NE(restart, 0u);
  icon.show(nullptr, nullptr, 0, 0);
  icon.showBalloon(L"a", L"b", 1, 15000);
  EXPECT_EQ(SendMessageW(icon.window(), restart, 0, 0), 0);
  EXPECT_EQ(icon.iconState(), SfAbstractTrayIcon::kStateAdded);
  EXPECT_EQ(icon.iconData().uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_STREQ(icon.iconData().szTip, L"Short tip");

  icon.remove();
  SendMessageW(icon.window(), restart, 0, 0);
  EXPECT_EQ(icon.iconState(), SfAbstractTrayIcon::kStateRemoved);
}

namespace {

// The session service as early in a logon: the first registration fails as
// on Windows before the service runs, the next one succeeds.
typedef FARPROC(WINAPI* GetProcAddressFn)(HMODULE, LPCSTR);
GetProcAddressFn g_realGetProcAddress = NULL;
int g_registerCalls = 0;
HWND g_registered = NULL;
HWND g_unregistered = NULL;

BOOL WINAPI LateRegister(HWND window, DWORD) {
  if (++g_registerCalls == 1) {
    SetLastError(RPC_S_INVALID_BINDING);
    return FALSE;
  }
  g_registered = window;
  return TRUE;
}

BOOL WINAPI CountedUnregister(HWND window) {
  g_unregistered = window;
  return TRUE;
}

FARPROC WINAPI SessionServiceLate(HMODULE module, LPCSTR name) {
  if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF) {
    if (strcmp(name, "WTSRegisterSessionNotification") == 0)
      return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&LateRegister));
    if (strcmp(name, "WTSUnRegisterSessionNotification") == 0)
      return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CountedUnregister));
  }
  return g_realGetProcAddress(module, name);
}

}  // namespace

TEST(SfAbstractTrayIcon, SessionRegistrationIsRetriedUntilTheServiceRunsAndReleasedWithTheWindow) {
  g_realGetProcAddress = reinterpret_cast<GetProcAddressFn>(
      xptest::PatchImport("GetProcAddress", reinterpret_cast<void*>(&SessionServiceLate)));
  ASSERT_NE(g_realGetProcAddress, nullptr);
  HWND window = NULL;
  {
    RecordingIcon icon(GetModuleHandleW(NULL), 901);
    window = icon.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(g_registerCalls, 1);
    EXPECT_FALSE(icon.isSessionRegistered());
    // The retry comes on the window's timer.
    EXPECT_TRUE(xptest::WaitUntil(
        10000,
        [&] {
          MSG msg;
          while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
          return icon.isSessionRegistered();
        },
        20));
    EXPECT_EQ(g_registered, window);
    EXPECT_EQ(g_unregistered, nullptr);
  }
  EXPECT_EQ(g_unregistered, window);
  xptest::PatchImport("GetProcAddress", reinterpret_cast<void*>(g_realGetProcAddress));
}

TEST(SfAbstractTrayIcon, SessionChangesAndIconEventsReachTheirOperations) {
  RecordingIcon icon(GetModuleHandleW(NULL), 901);
  HWND w = icon.window();
  for (WPARAM code = 1; code <= 9; ++code) EXPECT_EQ(SessionChange(w, code), 0);
  EXPECT_EQ(icon.events,
            (std::vector<std::wstring>{L"connected", L"disconnected", L"connected", L"disconnected"}));
  icon.events.clear();

  // Without a default command a double click runs nothing.
  SendMessageW(w, WM_USER + 1, 13, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(icon.commands.empty());
  icon.setDefaultCommand(ID_TRAY_AUTOSTART);
  SendMessageW(w, WM_USER + 1, 13, WM_LBUTTONDBLCLK);
  SendMessageW(w, WM_USER + 1, 13, WM_USER + 1);  // NIN_KEYSELECT: Enter on the icon
  SendMessageW(w, WM_USER + 1, 13, WM_LBUTTONDOWN);
  SendMessageW(w, WM_USER + 1, 13, WM_LBUTTONUP);
  EXPECT_EQ(icon.commands, (std::vector<UINT>{ID_TRAY_AUTOSTART, ID_TRAY_AUTOSTART}));
  SendMessageW(w, WM_USER + 1, 13, WM_USER + 0);  // NIN_SELECT
  SendMessageW(w, WM_USER + 1, 13, WM_RBUTTONDBLCLK);
  SendMessageW(w, WM_USER + 1, 13, WM_USER + 5);  // NIN_BALLOONUSERCLICK
  EXPECT_EQ(icon.events, (std::vector<std::wstring>{L"select", L"rdouble", L"balloon"}));

  icon.events.clear();
  icon.swallowNext = true;
  EXPECT_EQ(SendMessageW(w, WM_APP + 7, 0, 0), 0);
  EXPECT_EQ(icon.events, (std::vector<std::wstring>{L"swallowed"}));
  EXPECT_EQ(SendMessageW(w, WM_QUERYENDSESSION, 0, 0), 1);
}

TEST(SfAbstractTrayIcon, ContextMenuShowsTheFirstSubmenuAndReportsNoChoice) {
  LocLibrary loc;
  RecordingIcon icon(loc.get(), IDS_APP_NAME);
  icon.setDefaultCommand(ID_TRAY_AUTOSTART);
  icon.show(nullptr, nullptr, 0, 0);
  EXPECT_EQ(SendMessageW(icon.window(), WM_USER + 1, 13, WM_CONTEXTMENU), 0);
  EXPECT_EQ(icon.menuItems, 6);  // with the Devices item
  EXPECT_EQ(icon.commands, (std::vector<UINT>{0u}));
  EXPECT_FALSE(IsWindowVisible(icon.window()));
}

TEST(SfAbstractTrayIcon, WithoutResourcesTheIconIsEmptyAndTheMenuDoesNothing) {
  RecordingIcon icon(NULL, IDS_APP_NAME);
  ASSERT_NE(icon.window(), nullptr);
  icon.show(nullptr, nullptr, 0, 0);
  EXPECT_EQ(icon.iconData().hIcon, nullptr);
  EXPECT_EQ(icon.iconData().szTip[0], L'\0');
  SendMessageW(icon.window(), WM_USER + 1, 13, WM_CONTEXTMENU);
  EXPECT_EQ(icon.menuItems, -1);
  EXPECT_TRUE(icon.commands.empty());
}

TEST(SfAbstractTrayIcon, ClosingRemovesTheIconBeforeQuitAndForgetsTheWindow) {
  RecordingIcon icon(GetModuleHandleW(NULL), 901);
  icon.show(nullptr, nullptr, 0, 0);
  HWND w = icon.window();
  EXPECT_EQ(icon.close(), 0);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_EQ(icon.stateAtQuit, SfAbstractTrayIcon::kStateRemoved);
  EXPECT_EQ(icon.window(), nullptr);
  EXPECT_EQ(icon.close(), 0);
}

}  // namespace
