// Names other processes find the watcher by: a second instance, the exit
// command and the configuration tools look for its window by class.
#pragma once

const wchar_t kWatcherWindowClass[] = L"BrimwellTrayIconDummyWnd";
