// The watcher's answer to the shell's AutoPlay question: while it watches, an
// object implementing IQueryCancelAutoPlay stands in the running object table
// under a class moniker of the watcher's own class id, which the package
// lists under the shell's "CancelAutoplay\CLSID" key. AutoPlay is cancelled
// for a volume the watcher acts on and allowed for every other one.
#pragma once

#include <windows.h>

#include "app/VolumeDecisionTracker.h"
#include "platform/XpHandle.h"
#include "platform/XpString.h"
#include "platform/XpThread.h"

class XpVolumeWatchDogWrapper;

class AutoPlayCancel {
 public:
  // {5E0B7C61-2F4A-4D8E-9B37-6A1C0F2D8E45}; the package registers it without braces.
  static const CLSID kClassId;
  // The longest a question waits for a decision still under way before the
  // answer is "allow": the shell waits for the answer.
  static const DWORD kAnswerBoundMs = 2000;
  // DWORD of the versioned settings key, under the machine or the user:
  // non-zero leaves AutoPlay alone (nothing is registered).
  static const wchar_t kSwitchOffValue[];

  AutoPlayCancel(VolumeDecisionTracker& decisions, XpVolumeWatchDogWrapper& watcher);
  // Does not wait: the owner calls stop() before the end of the process.
  ~AutoPlayCancel();

  // Registers the object on a thread of its own, which alone enters COM;
  // nothing when switched off or already registered.
  void start();
  // Revokes the registration and ends the thread; questions being answered
  // are told to allow at once. False when the thread did not end in boundMs:
  // it stays held, and a later stop or start joins it.
  [[nodiscard]] bool stop(DWORD boundMs);
  bool registered() const;

  // S_FALSE (cancel) when the watcher acts on the volume at path, S_OK
  // otherwise; a decision under way is waited for up to boundMs.
  HRESULT answer(const wchar_t* path, DWORD boundMs);

  static bool switchedOff();

 private:
  AutoPlayCancel(const AutoPlayCancel&) = delete;
  AutoPlayCancel& operator=(const AutoPlayCancel&) = delete;
  class Object;
  static unsigned int OwnerThread(void* argument);
  void own();
  VolumeDecisionState stateOf(const XpString& root);

  VolumeDecisionTracker& m_decisions;
  XpVolumeWatchDogWrapper& m_watcher;
  XpScopedThread m_thread;
  XpUniqueHandle m_quit;
  volatile LONG m_closing;
  volatile LONG m_registered;
};
