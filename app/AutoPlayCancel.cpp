#include "app/AutoPlayCancel.h"

#include <objbase.h>
#include <shobjidl.h>

#include <new>

#include "app/WatcherSettings.h"
#include "platform/XpRegistry.h"
#include "platform/XpResult.h"
#include "platform/XpVersionedKey.h"
#include "watch/XpVolumeWatchDog.h"
#include "watch/XpVolumeWatchDogEx.h"

const CLSID AutoPlayCancel::kClassId = {
    0x5e0b7c61, 0x2f4a, 0x4d8e, {0x9b, 0x37, 0x6a, 0x1c, 0x0f, 0x2d, 0x8e, 0x45}};
const wchar_t AutoPlayCancel::kSwitchOffValue[] = L"DoNotCancelAutoPlay";

namespace {

// The interface's id, spelled here so that no import library must carry it.
const IID kIidQueryCancelAutoPlay = {
    0xddefe873, 0x6997, 0x4e68, {0xbe, 0x26, 0x39, 0xb6, 0x33, 0xad, 0xbe, 0x12}};

// How often a question looks again at a decision under way.
const DWORD kAnswerPollMs = 20;

bool SwitchOffSet(DWORD root) {
  XpScopedRegistry settings(OpenVersionedKey(kWatcherSettingsPath, root, XpRegistry::kRead));
  return settings && settings->ReadDword(AutoPlayCancel::kSwitchOffValue, 0) != 0;
}

}  // namespace

// The object in the table. Calls arrive on the apartment's RPC threads; it
// holds no state of its own beyond the reference count.
class AutoPlayCancel::Object : public IQueryCancelAutoPlay {
 public:
  explicit Object(AutoPlayCancel* owner) : m_references(1), m_owner(owner) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidQueryCancelAutoPlay)) {
      *out = static_cast<IQueryCancelAutoPlay*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_references)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&m_references);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP AllowAutoPlay(LPCWSTR path, DWORD, LPCWSTR, DWORD) override {
    return m_owner->answer(path, kAnswerBoundMs);
  }

 private:
  virtual ~Object() {}
  volatile LONG m_references;
  // The owner is a member of the application object, which outlives every
  // call: the object is disconnected from its clients before the owner stops.
  AutoPlayCancel* m_owner;
};

AutoPlayCancel::AutoPlayCancel(VolumeDecisionTracker& decisions, XpVolumeWatchDogWrapper& watcher)
    : m_decisions(decisions), m_watcher(watcher), m_closing(0), m_registered(0) {}

// The thread was joined by stop(); one that outlived the bound there made the
// shutdown end the process without static destruction.
AutoPlayCancel::~AutoPlayCancel() {}

bool AutoPlayCancel::switchedOff() {
  return SwitchOffSet(XpRegistry::kRootLocalMachine) || SwitchOffSet(XpRegistry::kRootCurrentUser);
}

void AutoPlayCancel::start() {
  // A thread that outlived an earlier stop's bound and has ended since is
  // joined now, so that a reconnect registers again.
  // The thread's exit code says nothing more.
  if (m_thread) (void)m_thread.JoinWithin(0);
  if (m_thread || switchedOff()) return;
  m_quit.reset(CreateEventW(NULL, TRUE, FALSE, NULL));
  if (!m_quit) return;
  InterlockedExchange(&m_closing, 0);
  m_thread = XpScopedThread(XpThread::Create(&AutoPlayCancel::OwnerThread, this));
}

bool AutoPlayCancel::stop(DWORD boundMs) {
  if (!m_thread) return true;
  InterlockedExchange(&m_closing, 1);
  SetEvent(m_quit.get());
  // The thread's exit code says nothing more; one still running stays held.
  return m_thread.JoinWithin(boundMs) != XP_E_TIMEOUT;
}

bool AutoPlayCancel::registered() const {
  return InterlockedCompareExchange(const_cast<volatile LONG*>(&m_registered), 0, 0) != 0;
}

unsigned int AutoPlayCancel::OwnerThread(void* argument) {
  static_cast<AutoPlayCancel*>(argument)->own();
  return 0;
}

void AutoPlayCancel::own() {
  // The free-threaded apartment: questions are answered on the RPC threads
  // while this thread only keeps the registration.
  if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) return;
  {
    XpComPtr<IRunningObjectTable> table;
    XpComPtr<IMoniker> moniker;
    Object* object = new (std::nothrow) Object(this);
    DWORD cookie = 0;
    if (object && SUCCEEDED(GetRunningObjectTable(0, table.put())) &&
        SUCCEEDED(CreateClassMoniker(kClassId, moniker.put())) &&
        SUCCEEDED(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object, moniker.get(), &cookie))) {
      InterlockedExchange(&m_registered, 1);
      // Our own event, set by stop(): not a wait on another process.
      WaitForSingleObject(m_quit.get(), INFINITE);
      InterlockedExchange(&m_registered, 0);
      (void)table->Revoke(cookie);
      // Clients that still hold a proxy get an error, never a call.
      (void)CoDisconnectObject(object, 0);
    }
    if (object) object->Release();
  }
  CoUninitialize();
}

VolumeDecisionState AutoPlayCancel::stateOf(const XpString& root) {
  VolumeDecisionState state = m_decisions.state(root);
  if (state != kVolumeUnknown) return state;
  // Still in its quiet second: the decision has not begun, but it will.
  XpVolumeWatchDogEx* events = m_watcher.GetEventWatcher();
  if (events && events->IsArrivalPending(root)) return kVolumePending;
  return kVolumeUnknown;
}

HRESULT AutoPlayCancel::answer(const wchar_t* path, DWORD boundMs) {
  wchar_t letter = VolumeDecisionTracker::LetterOf(path);
  if (!letter) return S_OK;
  wchar_t rootText[] = L"A:\\";
  rootText[0] = letter;
  XpString root(rootText);
  DWORD started = GetTickCount();
  for (;;) {
    VolumeDecisionState state = stateOf(root);
    if (state == kVolumeActing) return S_FALSE;
    if (state != kVolumePending) return S_OK;
    if (InterlockedCompareExchange(&m_closing, 0, 0) != 0) return S_OK;
    if (GetTickCount() - started >= boundMs) return S_OK;
    Sleep(kAnswerPollMs);
  }
}
