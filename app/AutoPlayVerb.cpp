#include "app/AutoPlayVerb.h"

#include <cwchar>

#include "app/VolumeDecisionTracker.h"
#include "app/VolumeWatcherApp.h"
#include "app/WatcherNames.h"
#include "platform/XpResult.h"

namespace {

const wchar_t kVerb[] = L"autoplay";
const int kVerbLength = 8;
const wchar_t kMessageName[] = L"ZelmVolumeWatcherAutoPlayVolume";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// A root the verb accepts: "X:\" with a volume present behind it.
bool VolumePresent(const XpString& root) {
  UINT type = GetDriveTypeW(root.c_str());
  if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR) return false;
  // No "insert a disk" box for a reader slot without a card.
  UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS);
  BOOL present = GetVolumeInformationW(root.c_str(), NULL, 0, NULL, NULL, NULL, NULL, 0);
  SetErrorMode(previous);
  return present != FALSE;
}

XpString RootOf(wchar_t letter) {
  wchar_t root[] = L"A:\\";
  root[0] = letter;
  return XpString(root);
}

}  // namespace

bool ParseAutoPlayVerb(const wchar_t* commandLine, XpString* argument) {
  if (!commandLine || (commandLine[0] != L'-' && commandLine[0] != L'/')) return false;
  const wchar_t* text = commandLine + 1;
  for (int i = 0; i < kVerbLength; ++i) {
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != kVerb[i]) return false;
  }
  text += kVerbLength;
  if (*text != L'\0' && !IsBlank(*text)) return false;
  while (IsBlank(*text)) ++text;
  const wchar_t* end = text + wcslen(text);
  while (end > text && IsBlank(end[-1])) --end;
  // One pair of quotes around the whole argument, as the shell writes "%L".
  if (end - text >= 2 && text[0] == L'"' && end[-1] == L'"') {
    ++text;
    --end;
  }
  if (argument) *argument = XpString(text).Left(static_cast<int>(end - text));
  return true;
}

int RunAutoPlayVerb(const XpString& argument) {
  // Only "X:\" (or "X:"): a folder or a file on the volume is refused too.
  wchar_t letter = VolumeDecisionTracker::LetterOf(argument.c_str());
  if (!letter) return static_cast<int>(XP_E_FILE_BAD_ARGUMENT);
  XpString root = RootOf(letter);
  if (!VolumePresent(root)) return static_cast<int>(XP_E_FILE_NOT_FOUND);

  HWND running = FindWindowW(kWatcherWindowClass, L"");
  UINT message = AutoPlayVolumeMessage();
  if (running && message) {
    DWORD processId = 0;
    GetWindowThreadProcessId(running, &processId);
    // The shell gave this process the right to the foreground; the importer
    // the watcher starts should get it.
    if (processId) AllowSetForegroundWindow(processId);
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(running, message, letter, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL, kHandOverMs,
                            &answer))
      return 0;
    // A watcher that closed meanwhile leaves the volume to this process.
    if (IsWindow(running)) return static_cast<int>(XP_E_TIMEOUT);
  }
  getApp().decideVolumeHere(root);
  return 0;
}

UINT AutoPlayVolumeMessage() { return RegisterWindowMessageW(kMessageName); }

bool HandleAutoPlayVolumeMessage(UINT message, WPARAM wParam, LPARAM) {
  if (message == 0 || message != AutoPlayVolumeMessage()) return false;
  // Anything but a letter is ignored; the decision itself runs on its own
  // thread, so the window answers at once.
  if (wParam >= L'A' && wParam <= L'Z')
    (void)getApp().requestVolumeDecision(RootOf(static_cast<wchar_t>(wParam)));
  return true;
}
