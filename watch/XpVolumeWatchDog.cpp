#include "XpVolumeWatchDog.h"

#include <winioctl.h>

#include "XpWatchTiming.h"

#include "platform/XpErrorMode.h"
#include "platform/XpHandle.h"
#include "platform/XpOsVersion.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {

const int kDefaultInterval = 2000;
// How long Stop waits for the polling thread to end.
const DWORD kStopBoundMs = 5000;
const DWORD kAllLetters = 0x3FFFFFF;

bool ToUpperLetter(wchar_t letter, wchar_t* upper) {
  letter = XpToUpperAscii(letter);
  if (letter < L'A' || letter > L'Z') return false;
  *upper = letter;
  return true;
}

DWORD QueryPlatformId() {
  OSVERSIONINFOW v;
  if (!GetOsVersionInfo(&v)) return 0;
  return v.dwPlatformId;
}

// DOS "get device parameters" through VWIN32 (95/98/Me only).
const DWORD kVwin32DosIoctl = 1;
struct DiocRegisters {
  DWORD ebx;
  DWORD edx;
  DWORD ecx;
  DWORD eax;
  DWORD edi;
  DWORD esi;
  DWORD flags;
};
const DWORD kCarryFlag = 1;

bool IsFloppyDrive9x(wchar_t upper) {
  XpUniqueFileHandle vwin32(CreateFileA("\\\\.\\VWIN32", 0, 0, NULL, 0, FILE_FLAG_DELETE_ON_CLOSE, NULL));
  if (!vwin32) return false;
  unsigned char params[64];
  memset(params, 0, sizeof(params));
  DiocRegisters regs;
  memset(&regs, 0, sizeof(regs));
  regs.eax = 0x440D;
  regs.ecx = 0x0860;
  regs.ebx = static_cast<DWORD>(upper - 0x40);
  // Only ever reached in a 32-bit process, where the address fits.
  regs.edx = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(params));
  regs.flags = kCarryFlag;
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(vwin32.get(), kVwin32DosIoctl, &regs, sizeof(regs), &regs, sizeof(regs),
                            &returned, NULL);
  if (!ok || (regs.flags & kCarryFlag)) return false;
  unsigned char type = params[1];
  return type <= 4 || type == 7 || type == 9;
}

bool IsFloppyMediaType(DWORD type) {
  return (type >= 1 && type <= 10) || (type >= 13 && type <= 19) || type == 22;
}

bool IsFloppyDriveNt(wchar_t upper) {
  wchar_t device[] = L"\\\\.\\A:";
  device[4] = upper;
  XpUniqueFileHandle volume(CreateFileW(device, 0, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL));
  if (!volume) return false;
  // Aligned for the 64-bit cylinder count inside.
  ULONGLONG buffer[480 / sizeof(ULONGLONG)];
  memset(buffer, 0, sizeof(buffer));
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(volume.get(), IOCTL_STORAGE_GET_MEDIA_TYPES, NULL, 0, buffer, sizeof(buffer),
                            &returned, NULL);
  const GET_MEDIA_TYPES* types = reinterpret_cast<const GET_MEDIA_TYPES*>(buffer);
  size_t needed = offsetof(GET_MEDIA_TYPES, MediaInfo) +
                  offsetof(DEVICE_MEDIA_INFO, DeviceSpecific.DiskInfo.MediaType) + sizeof(STORAGE_MEDIA_TYPE);
  if (!ok || returned < needed || types->MediaInfoCount < 1) return false;
  return IsFloppyMediaType(static_cast<DWORD>(types->MediaInfo[0].DeviceSpecific.DiskInfo.MediaType));
}

bool HasVolumeInformation(const wchar_t* root) {
  return GetVolumeInformationW(root, NULL, 0, NULL, NULL, NULL, NULL, 0) != FALSE;
}

}  // namespace

bool IsFloppyDrive(wchar_t letter) {
  wchar_t upper;
  if (!ToUpperLetter(letter, &upper)) return false;
  if (QueryPlatformId() == VER_PLATFORM_WIN32_NT) return IsFloppyDriveNt(upper);
  return IsFloppyDrive9x(upper);
}

bool IsVolumePresent(wchar_t letter, bool includeFloppy, int platformId) {
  wchar_t upper;
  if (!ToUpperLetter(letter, &upper)) return false;
  DWORD platform = platformId != 0 ? static_cast<DWORD>(platformId) : QueryPlatformId();
  wchar_t root[] = L"A:\\";
  root[0] = upper;
  if (platform == VER_PLATFORM_WIN32_NT) {
    // Empty card-reader slots are probed every few seconds: no "insert a
    // disk" box, and no process-wide mode that other threads also set.
    XpThreadErrorMode quiet;
    if (!includeFloppy && IsFloppyDrive(upper)) return false;
    return HasVolumeInformation(root);
  }
  if (!includeFloppy && (upper == L'A' || upper == L'B')) return false;
  // No "insert a disk" dialogs while probing.
  UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  wchar_t pattern[] = L"A:\\*";
  pattern[0] = upper;
  WIN32_FIND_DATAW data;
  XpUniqueFindHandle find(FindFirstFileW(pattern, &data));
  bool present = find.valid();
  if (!present && GetLastError() == ERROR_FILE_NOT_FOUND) {
    // The root was read and is empty: a freshly formatted card is there.
    present = true;
  }
  if (!present && includeFloppy) present = HasVolumeInformation(root);
  SetErrorMode(previous);
  return present;
}

XpAbstractWatchDog::XpAbstractWatchDog(int lowerPriority)
    : m_lowerPriority(lowerPriority), m_interval(0), m_stop(false) {
  // Every interval is taken.
  (void)XpAbstractWatchDog::SetInterval(kDefaultInterval);
}

XpAbstractWatchDog::~XpAbstractWatchDog() {
  if (m_thread) {
    m_stop.Set(true);
    // The watcher's own result has no reader once the object goes.
    (void)m_thread.Join();
  }
}

XpResult XpAbstractWatchDog::SetInterval(int milliseconds) {
  m_interval = static_cast<DWORD>(milliseconds);
  return XP_OK;
}

int XpAbstractWatchDog::GetInterval() const { return static_cast<int>(m_interval); }

XpResult XpAbstractWatchDog::Start() {
  if (m_thread) return XP_E_FILE_NOT_ACTIVE;
  m_stop.Set(false);
  m_thread = XpScopedThread(XpThread::Create(&XpAbstractWatchDog::ThreadEntry, this));
  if (!m_thread) return XP_E_OUT_OF_MEMORY;
  // At the normal priority the watcher still works, only less politely.
  if (m_lowerPriority) (void)m_thread->LowerPriority();
  return XP_OK;
}

XpResult XpAbstractWatchDog::Stop() {
  if (!m_thread) return XP_E_FILE_NOT_ACTIVE;
  // From a callback on the watcher's own thread the join could never end.
  if (GetCurrentThreadId() == m_thread->GetId()) return XP_E_SELF_JOIN;
  m_stop.Set(true);
  // A probe of a hung drive may hold the loop: after the bound the thread
  // stays held (a later Stop joins it) and the caller keeps this object.
  XpResult joined = m_thread.JoinWithin(kStopBoundMs);
  return joined == XP_E_TIMEOUT ? XP_E_TIMEOUT : XP_OK;
}

bool XpAbstractWatchDog::WaitTick() {
  int ms = GetInterval();
  int seconds = ms < 0 ? 0 : ms / 1000;
  return m_stop.LockTimeout(seconds) == XP_E_TIMEOUT;
}

unsigned int XpAbstractWatchDog::ThreadEntry(void* argument) {
  if (!argument) return XP_E_FILE_BAD_ARGUMENT;
  return static_cast<XpAbstractWatchDog*>(argument)->Run();
}

XpVolumeWatchDog::XpVolumeWatchDog(int lowerPriority)
    : XpAbstractWatchDog(lowerPriority), m_platformId(0), m_previous(0) {
  (void)SetInterval(XpWatchTiming::Current().pollSeconds * 1000);  // every interval is taken
  m_platformId = QueryPlatformId();
}

XpVolumeWatchDog::XpVolumeWatchDog(int lowerPriority, DWORD platformId)
    : XpAbstractWatchDog(lowerPriority), m_platformId(platformId), m_previous(0) {
  (void)SetInterval(XpWatchTiming::Current().pollSeconds * 1000);  // every interval is taken
}

XpVolumeWatchDog::~XpVolumeWatchDog() {
  // The thread calls Run of this object: end it before the members go.
  (void)Stop();  // fails only when not running or on the watcher's own thread
  m_callbacks.Clear();
}

XpResult XpVolumeWatchDog::AddCallback(IXpVolumeWatchDogCallback* callback) {
  return m_callbacks.Add(callback);
}

XpResult XpVolumeWatchDog::RemoveCallback(IXpVolumeWatchDogCallback* callback) {
  return m_callbacks.Remove(callback);
}

DWORD XpVolumeWatchDog::ScanMask() const {
  DWORD candidates = m_platformId == VER_PLATFORM_WIN32_NT ? GetLogicalDrives() : kAllLetters;
  DWORD mask = 0;
  for (int i = 0; i < 26; ++i) {
    DWORD bit = 1u << i;
    if (!(candidates & bit)) continue;
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(L'A' + i);
    // A network drive is never a card: probing it every few seconds would
    // stall on a slow server and keep its disks spinning.
    if (GetDriveTypeW(root) == DRIVE_REMOTE) continue;
    if (IsVolumePresent(root[0], false, static_cast<int>(m_platformId))) mask |= bit;
  }
  return mask;
}

void XpVolumeWatchDog::Rescan() {
  DWORD now = ScanMask();
  DWORD changed = now ^ m_previous;
  DWORD before = m_previous;
  m_previous = now;
  for (int i = 0; changed != 0 && i < 26; ++i) {
    DWORD bit = 1u << i;
    if (!(changed & bit)) continue;
    changed &= ~bit;
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(L'A' + i);
    XpString path(root);
    bool removal = (before & bit) != 0;
    m_callbacks.ForEach([&](IXpVolumeWatchDogCallback* callback) {
      if (removal)
        callback->OnVolumeRemoval(path);
      else
        callback->OnVolumeArrival(path);
    });
  }
}

XpResult XpVolumeWatchDog::Run() {
  Prime();
  while (WaitTick()) Rescan();
  return XP_OK;
}

XpVolumeWatchDogWrapper::XpVolumeWatchDogWrapper(int lowerPriority, bool coalesce) {
  OSVERSIONINFOW v;
  bool ok = GetOsVersionInfo(&v);
  Create(lowerPriority, coalesce, ok ? &v : NULL);
}

XpVolumeWatchDogWrapper::XpVolumeWatchDogWrapper(int lowerPriority, bool coalesce,
                                                 const OSVERSIONINFOW* version) {
  Create(lowerPriority, coalesce, version);
}

XpVolumeWatchDogWrapper::~XpVolumeWatchDogWrapper() {}

bool XpVolumeWatchDogWrapper::ChoosesEventWatcher(const OSVERSIONINFOW* version) {
  if (!version || version->dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
  return version->dwMajorVersion > 5 || (version->dwMajorVersion == 5 && version->dwMinorVersion > 0);
}

void XpVolumeWatchDogWrapper::Create(int lowerPriority, bool coalesce, const OSVERSIONINFOW* version) {
  if (ChoosesEventWatcher(version))
    m_event = XpSharedPtr<XpVolumeWatchDogEx>(new (std::nothrow) XpVolumeWatchDogEx(0, coalesce));
  else
    m_polling = XpSharedPtr<XpVolumeWatchDog>(
        new (std::nothrow) XpVolumeWatchDog(lowerPriority, version ? version->dwPlatformId : 0));
}

XpResult XpVolumeWatchDogWrapper::AddCallback(IXpVolumeWatchDogCallback* callback) {
  if (m_event) return m_event->AddCallback(callback);
  if (m_polling) return m_polling->AddCallback(callback);
  return XP_E_FILE_NOT_ACTIVE;
}

XpResult XpVolumeWatchDogWrapper::RemoveCallback(IXpVolumeWatchDogCallback* callback) {
  if (m_event) return m_event->RemoveCallback(callback);
  if (m_polling) return m_polling->RemoveCallback(callback);
  return XP_E_FILE_NOT_ACTIVE;
}

XpResult XpVolumeWatchDogWrapper::Start() {
  if (m_event) return m_event->Start();
  if (m_polling) return m_polling->Start();
  return XP_E_FILE_NOT_ACTIVE;
}

XpResult XpVolumeWatchDogWrapper::Stop() {
  if (m_event) return m_event->Stop();
  if (m_polling) return m_polling->Stop();
  return XP_E_FILE_NOT_ACTIVE;
}
