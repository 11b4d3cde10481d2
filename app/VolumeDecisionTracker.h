// Where the watcher stands with each drive letter's volume: still deciding,
// acting on it (something started or about to start), or leaving it alone.
// The decision road writes it; the answer to the shell's AutoPlay question
// reads it from other threads.
#pragma once

#include <windows.h>

#include "platform/XpString.h"
#include "platform/XpSync.h"

enum VolumeDecisionState {
  kVolumeUnknown = 0,  // never decided, forgotten, or decided too long ago
  kVolumePending,      // the arrival is being decided (identification, scoring)
  kVolumeActing,       // a Launch match, or an importer started or about to start
  kVolumeNotActing     // an Ignore match, no module claimed it, SHIFT held, cancelled
};

class VolumeDecisionTracker {
 public:
  // A settled decision counts this long: a card the watcher took an hour ago
  // is no reason to refuse AutoPlay when the user asks for it again.
  static const DWORD kSettledMemoryMs = 60000;

  VolumeDecisionTracker();

  // The root's drive letter, uppercase; 0 for anything but "X:\" or "X:".
  static wchar_t LetterOf(const wchar_t* root);

  void set(const XpString& root, VolumeDecisionState state);
  void forget(const XpString& root);
  VolumeDecisionState state(const XpString& root);

 private:
  VolumeDecisionTracker(const VolumeDecisionTracker&) = delete;
  VolumeDecisionTracker& operator=(const VolumeDecisionTracker&) = delete;
  struct Entry {
    VolumeDecisionState state;
    DWORD since;
  };
  XpCriticalSection m_lock;
  Entry m_entries[26];
};

// Marks one decision for a volume: pending while it lives, not acting at its
// end unless acting() was called, so that every way out of the decision
// (early returns included) leaves a settled state.
class VolumeDecisionMark {
 public:
  VolumeDecisionMark(VolumeDecisionTracker& tracker, const XpString& root);
  ~VolumeDecisionMark();
  void acting();

 private:
  VolumeDecisionMark(const VolumeDecisionMark&) = delete;
  VolumeDecisionMark& operator=(const VolumeDecisionMark&) = delete;
  VolumeDecisionTracker& m_tracker;
  XpString m_root;
  bool m_acting;
};
