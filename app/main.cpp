// Entry point of QRNVolumeWatcher.exe.
#include <windows.h>

#include "app/WatcherMain.h"
#include "platform/XpThread.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  XpSetupProcess();
  return WatcherMain(instance, commandLine);
}
