// One icon in the taskbar notification area and the hidden window that receives
// its mouse events, the session-change notifications and the shell's
// "TaskbarCreated" broadcast. Subclasses override the virtual operations; all
// of them run on the thread that constructed the object.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "platform/XpHandle.h"

// The balloon-capable layout of the notification data, without the fields of
// later systems (936 bytes in a 32-bit build), so that Windows 2000 accepts it.
#ifndef NOTIFYICONDATAW_V2_SIZE
#define NOTIFYICONDATAW_V2_SIZE FIELD_OFFSET(NOTIFYICONDATAW, guidItem)
#endif

class SfAbstractTrayIcon {
 public:
  // Icon id within the window and the message the shell sends for it.
  enum { kIconId = 13, kCallbackMessage = WM_USER + 1 };
  // Values of iconState: the operation code of the next shell call.
  enum { kStateAdded = 0, kStateModified = 1, kStateRemoved = 2 };

  // resourceModule supplies the icon, the menu and the tooltip string. The
  // window class is registered and the hidden window created here; window()
  // stays null when either fails.
  SfAbstractTrayIcon(HINSTANCE windowInstance, HMODULE resourceModule, const wchar_t* className, UINT iconId,
                     UINT menuId, UINT tipStringId);
  // Removes a shown icon, destroys a window still alive and unregisters the
  // class, so that the object leaves nothing behind in the shell or the process.
  virtual ~SfAbstractTrayIcon();

  void setDefaultCommand(UINT commandId) { m_defaultCommand = commandId; }
  UINT defaultCommand() const { return m_defaultCommand; }

  // Adds the icon, with a balloon when a title or text is given. Only while removed.
  void show(const wchar_t* title, const wchar_t* text, DWORD infoFlags, UINT timeoutMs);
  void remove();
  void showBalloon(const wchar_t* title, const wchar_t* text, DWORD infoFlags, UINT timeoutMs);

  HWND window() const { return m_window.get(); }
  LRESULT close();

  int iconState() const { return m_iconState; }
  // What was last handed to the shell (the balloon texts are emptied after a balloon).
  const NOTIFYICONDATAW& iconData() const { return m_iconData; }
  // The registered "TaskbarCreated" message, shared by every icon.
  static UINT taskbarCreatedMessage();
  // Lets message through the filter that keeps messages of processes with
  // lower rights from an elevated one (functions looked up at run time;
  // before Vista there is no filter and nothing to do).
  static bool allowMessageFromLowerRights(HWND window, UINT message);
  // The icon at the notification area's size now (LoadIconMetric where common
  // controls 6 have it, else the small-icon metric), owned by the caller.
  static HICON loadTrayIcon(HMODULE module, UINT iconId);
  // A shown icon's image made again for the current size.
  void reloadIcon();
  // Whether the window hears session changes now: the registration is retried
  // on a timer while the session service is not ready yet, and released with
  // the window.
  bool isSessionRegistered() const { return m_sessionRegistered; }

 protected:
  virtual bool preTranslate(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  virtual int onCommand(UINT commandId);
  virtual void onSessionDisconnected();
  virtual void onSessionConnected();
  virtual int onQueryEndSession();
  virtual void onEndSession(bool ending);
  virtual void onTaskbarCreated();
  virtual void prepareMenu(HMENU menu);
  virtual void onQuit();
  virtual int showContextMenu(HWND window);
  virtual void onSelect(HWND window);
  virtual void onRightDoubleClick(HWND window);
  virtual void onDefaultAction(HWND window);
  virtual void onBalloonClick(HWND window);
  virtual void onTimer(UINT_PTR timerId);
  virtual int onIconEvent(HWND window, UINT event);
  virtual int onClose(HWND window);
  virtual LRESULT onDestroy(HWND window);
  virtual void setBalloon(const wchar_t* title, const wchar_t* text, DWORD infoFlags, UINT timeoutMs);

  HMODULE menuModule() const { return m_menuModule; }
  HMODULE stringModule() const { return m_stringModule; }

 private:
  SfAbstractTrayIcon(const SfAbstractTrayIcon&) = delete;
  SfAbstractTrayIcon& operator=(const SfAbstractTrayIcon&) = delete;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void createWindow(const wchar_t* className);
  void notify(DWORD operation);
  void registerSession();
  void unregisterSession();

  HMODULE m_iconModule;
  UINT m_iconId;
  HMODULE m_menuModule;
  UINT m_menuId;
  HMODULE m_stringModule;
  UINT m_tipStringId;
  UINT m_defaultCommand;
  HINSTANCE m_windowInstance;
  XpUniqueWindow m_window;
  NOTIFYICONDATAW m_iconData;
  // The image the shell shows; replaced only after the shell has the new one.
  XpUniqueIcon m_icon;
  int m_iconState;
  ATOM m_classAtom;
  // Held while registered: the release needs the library's function.
  XpUniqueModule m_sessionLibrary;
  bool m_sessionRegistered;
  UINT m_sessionRetriesLeft;
};
