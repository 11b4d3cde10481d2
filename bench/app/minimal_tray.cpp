// The smallest resident tray program: one hidden window, one icon in the
// notification area and a message loop, nothing else. The soak benchmark
// runs it beside the watcher as the baseline of what any tray program costs.
// It ends when its window gets WM_CLOSE.
#include <windows.h>
#include <shellapi.h>

namespace {

const wchar_t kClass[] = L"VantoloSoakBaselineTray";

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClass;
  if (!RegisterClassExW(&wc)) return 1;
  HWND window = CreateWindowExW(0, kClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, NULL, NULL, instance, NULL);
  if (!window) return 1;
  NOTIFYICONDATAW icon = {};
  icon.cbSize = sizeof(icon);
  icon.hWnd = window;
  icon.uID = 1;
  icon.uFlags = NIF_ICON | NIF_TIP;
  icon.hIcon = LoadIconW(NULL, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
  lstrcpynW(icon.szTip, L"baseline", 64);
  Shell_NotifyIconW(NIM_ADD, &icon);
  MSG message;
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  Shell_NotifyIconW(NIM_DELETE, &icon);
  return 0;
}
