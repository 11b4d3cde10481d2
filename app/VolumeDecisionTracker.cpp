#include "app/VolumeDecisionTracker.h"

VolumeDecisionTracker::VolumeDecisionTracker() {
  for (int i = 0; i < 26; ++i) {
    m_entries[i].state = kVolumeUnknown;
    m_entries[i].since = 0;
  }
}

wchar_t VolumeDecisionTracker::LetterOf(const wchar_t* root) {
  if (!root) return 0;
  wchar_t letter = root[0];
  if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - L'a' + L'A');
  if (letter < L'A' || letter > L'Z' || root[1] != L':') return 0;
  if (root[2] == L'\0' || (root[2] == L'\\' && root[3] == L'\0')) return letter;
  return 0;
}

void VolumeDecisionTracker::set(const XpString& root, VolumeDecisionState state) {
  wchar_t letter = LetterOf(root.c_str());
  if (!letter) return;
  XpSingleLock guard(&m_lock);
  m_entries[letter - L'A'].state = state;
  m_entries[letter - L'A'].since = GetTickCount();
}

void VolumeDecisionTracker::forget(const XpString& root) { set(root, kVolumeUnknown); }

VolumeDecisionState VolumeDecisionTracker::state(const XpString& root) {
  wchar_t letter = LetterOf(root.c_str());
  if (!letter) return kVolumeUnknown;
  XpSingleLock guard(&m_lock);
  const Entry& entry = m_entries[letter - L'A'];
  // A decision under way never expires: it always ends in a settled state.
  if (entry.state != kVolumePending && GetTickCount() - entry.since >= kSettledMemoryMs)
    return kVolumeUnknown;
  return entry.state;
}

VolumeDecisionMark::VolumeDecisionMark(VolumeDecisionTracker& tracker, const XpString& root)
    : m_tracker(tracker), m_root(root), m_acting(false) {
  m_tracker.set(m_root, kVolumePending);
}

VolumeDecisionMark::~VolumeDecisionMark() {
  m_tracker.set(m_root, m_acting ? kVolumeActing : kVolumeNotActing);
}

void VolumeDecisionMark::acting() {
  m_acting = true;
  m_tracker.set(m_root, kVolumeActing);
}
