#include "XpDeviceWatchDog.h"

#include <dbt.h>

#include <cstdlib>
#include <cstring>

namespace {

const wchar_t kWindowTitle[] = L"_XpDeviceWatchDog";
// The window thread only hands events on, so it ends at once when nothing
// holds it.
const DWORD kDefaultStopBoundMs = 5000;

}  // namespace

_XpDeviceWatchDog::_XpDeviceWatchDog(const wchar_t* className)
    : m_className(className),
      m_window(NULL),
      m_ready(CreateEventW(NULL, TRUE, FALSE, NULL)),
      m_lastRunResult(XP_OK),
      m_stopBoundMs(kDefaultStopBoundMs) {}

_XpDeviceWatchDog::~_XpDeviceWatchDog() {
  // Derived watchers stop first (their window procedure must not run while
  // they are torn down); this covers a plain base object.
  // Fails when not running or on the watcher's own thread; a thread held past
  // the bound is joined by the member's own destructor. The owner that got
  // XP_E_TIMEOUT from Stop ends the process instead of destroying this.
  (void)Stop();
  FreeFilters();
}

void _XpDeviceWatchDog::FreeFilters() {
  for (size_t i = 0; i < m_filters.size(); ++i) free(m_filters[i]);
  m_filters.clear();
}

XpResult _XpDeviceWatchDog::Start() {
  if (m_thread) return XP_E_FILE_NOT_ACTIVE;
  if (!m_ready) return XP_E_OUT_OF_MEMORY;
  ResetEvent(m_ready.get());
  m_thread = XpScopedThread(XpThread::Create(&_XpDeviceWatchDog::ThreadEntry, this));
  if (!m_thread) return XP_E_OUT_OF_MEMORY;
  // Waiting here means a Stop right after Start always finds the window (or
  // a thread that has already ended) instead of posting to nothing.
  HANDLE waits[2] = {m_ready.get(), m_thread->GetHandle()};
  WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  return XP_OK;
}

XpResult _XpDeviceWatchDog::Stop() {
  if (!m_thread) return XP_E_FILE_NOT_ACTIVE;
  // From the window thread itself the join could never end.
  if (GetCurrentThreadId() == m_thread->GetId()) return XP_E_SELF_JOIN;
  HWND window = m_window;
  if (window) PostMessageW(window, WM_CLOSE, 0, 0);
  XpResult joined = m_thread.JoinWithin(m_stopBoundMs);
  if (joined == XP_E_TIMEOUT) return XP_E_TIMEOUT;
  m_lastRunResult = joined;
  m_window = NULL;
  return XP_OK;
}

void _XpDeviceWatchDog::AddNotificationFilter(const void* filter) {
  if (!filter) return;
  DWORD size = 0;
  memcpy(&size, filter, sizeof(size));
  if (size < sizeof(DEV_BROADCAST_HDR)) return;
  void* copy = malloc(size);
  if (!copy) return;
  memcpy(copy, filter, size);
  m_filters.push_back(copy);
}

void _XpDeviceWatchDog::AddInterfaceClassFilter(const GUID& interfaceClass) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter;
  memset(&filter, 0, sizeof(filter));
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = interfaceClass;
  AddNotificationFilter(&filter);
}

const DEV_BROADCAST_DEVICEINTERFACE_W* _XpDeviceWatchDog::InterfaceRecord(WPARAM event, LPARAM header,
                                                                          size_t maxChars) {
  const DEV_BROADCAST_HDR* hdr = reinterpret_cast<const DEV_BROADCAST_HDR*>(header);
  if (!hdr || (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) ||
      hdr->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
      hdr->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W))
    return nullptr;
  const DEV_BROADCAST_DEVICEINTERFACE_W* record =
      reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(hdr);
  size_t chars = (hdr->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) / sizeof(wchar_t);
  if (maxChars != 0 && chars > maxChars + 1) chars = maxChars + 1;
  for (size_t i = 0; i < chars; ++i)
    if (record->dbcc_name[i] == 0) return record;
  return nullptr;
}

XpResult _XpDeviceWatchDog::CreateNotifyWindow() {
  WNDCLASSEXW wc;
  memset(&wc, 0, sizeof(wc));
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &_XpDeviceWatchDog::StaticWindowProc;
  wc.hInstance = GetModuleHandleW(NULL);
  wc.hCursor = LoadCursorW(NULL, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszClassName = m_className.c_str();
  // A second watcher of the same kind in the process finds the class made.
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    m_window = NULL;
    return XP_E_FILE;
  }
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, m_className.c_str(), kWindowTitle, WS_OVERLAPPEDWINDOW, 0,
                                0, 0, 0, NULL, NULL, GetModuleHandleW(NULL), this);
  if (!window) return XP_E_FILE;
  m_window = window;
  ShowWindow(window, SW_HIDE);
  return XP_OK;
}

XpResult _XpDeviceWatchDog::DestroyNotifyWindow() {
  HWND window = m_window;
  if (!window) return XP_E_FILE_NOT_ACTIVE;
  SendMessageW(window, WM_CLOSE, 0, 0);
  m_window = NULL;
  return XP_OK;
}

LRESULT CALLBACK _XpDeviceWatchDog::StaticWindowProc(HWND window, UINT message, WPARAM wParam,
                                                     LPARAM lParam) {
  // The object travels in the creation parameters and is attached before
  // any other message, so a 64-bit pointer is never cut to 32 bits.
  if (message == WM_NCCREATE) {
    const CREATESTRUCTW* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  _XpDeviceWatchDog* self = reinterpret_cast<_XpDeviceWatchDog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->WindowProc(window, message, wParam, lParam);
}

LRESULT _XpDeviceWatchDog::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      break;
    case WM_CLOSE:
      // Registrations go with the window they were made for.
      UnregisterNotifications();
      DestroyWindow(window);
      m_window = NULL;
      UnregisterClassW(m_className.c_str(), GetModuleHandleW(NULL));
      return 0;
    case WM_DEVICECHANGE:
      return OnDeviceChange(wParam, lParam);
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT _XpDeviceWatchDog::OnDeviceChange(WPARAM, LPARAM) { return 0; }

unsigned int _XpDeviceWatchDog::ThreadEntry(void* argument) {
  if (!argument) return XP_E_FILE_BAD_ARGUMENT;
  return static_cast<_XpDeviceWatchDog*>(argument)->Run();
}

XpResult _XpDeviceWatchDog::Run() {
  XpResult created = CreateNotifyWindow();
  if (XpFailed(created)) {
    SetEvent(m_ready.get());
    return created;
  }
  RegisterNotifications();
  SetEvent(m_ready.get());
  MSG msg;
  for (;;) {
    BOOL got = GetMessageW(&msg, NULL, 0, 0);
    if (got == 0 || got == -1) break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return XP_OK;
}

void _XpDeviceWatchDog::RegisterNotifications() {
  for (size_t i = 0; i < m_filters.size(); ++i) {
    // A failed registration keeps its null handle: that class is unwatched.
    m_notifications.push_back(
        XpUniqueDevNotify(RegisterDeviceNotificationW(m_window, m_filters[i], DEVICE_NOTIFY_WINDOW_HANDLE)));
  }
}

void _XpDeviceWatchDog::UnregisterNotifications() { m_notifications.clear(); }
