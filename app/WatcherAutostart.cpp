#include "app/VolumeWatcherApp.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstddef>

#include "app/res/LocResources.h"
#include "platform/XpFileOperation.h"
#include "platform/XpFileSystem.h"
#include "platform/XpFsObject.h"
#include "platform/XpHandle.h"
#include "platform/XpPath.h"
#include "platform/XpRegistry.h"
#include "platform/XpShellFolders.h"
#include "platform/XpVersionedKey.h"

namespace {

// Resolves a shortcut and compares its raw target with the program's path.
bool ShortcutPointsAt(const XpString& shortcut, const XpString& program) {
  XpComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())))
    return false;
  XpComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid()))) return false;
  if (FAILED(file->Load(shortcut.c_str(), STGM_READ))) return false;
  link->Resolve(NULL, SLR_NO_UI | SLR_UPDATE);
  wchar_t target[1040];
  target[0] = L'\0';
  if (FAILED(link->GetPath(target, 1040, NULL, SLGP_RAWPATH))) return false;
  target[1039] = L'\0';
  return program.CompareNoCase(target) == 0;
}

}  // namespace

const wchar_t VolumeWatcherApp::kMachineAutostartValue[] = L"Vantolo Card Watcher";
const wchar_t VolumeWatcherApp::kMachineAutostartOffValue[] = L"NoMachineAutostart";

XpString VolumeWatcherApp::autostartShortcutPath() {
  if (!locLibrary()) return XpString();
  XpString startup = GetSpecialFolderPath(XP_FOLDER_STARTUP, false);
  wchar_t name[260];
  if (!loadString(IDS_APP_NAME, name, 260)) return XpString();
  // Without a Startup folder the name alone would be a relative path.
  if (startup.IsEmpty()) return XpString();
  return JoinPath(startup, name) + L".lnk";
}

namespace {

bool OwnShortcutExists(VolumeWatcherApp& app) {
  XpString path = app.autostartShortcutPath();
  return !path.IsEmpty() && FileExists(path);
}

const wchar_t kRunKey[] = L"Software/Microsoft/Windows/CurrentVersion/Run";
const wchar_t kProfileListKey[] = L"Software/Microsoft/Windows NT/CurrentVersion/ProfileList";

}  // namespace

bool VolumeWatcherApp::machineAutostartPresent() {
  XpScopedRegistry run(XpRegistry::Open(kRunKey, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
  if (!run) return false;
  XpString command = run->ReadString(kMachineAutostartValue, XpString());
  XpString program = executablePath();
  // "<path>" and its arguments; the start of another copy of the program
  // is not this one's.
  if (program.IsEmpty() || command.GetLength() < 2 || *command.At(0) != L'"') return false;
  XpString quoted = command.Right(command.GetLength() - 1);
  int end = quoted.Find(L'"');
  return end > 0 && quoted.Left(end).CompareNoCase(program.c_str()) == 0;
}

bool VolumeWatcherApp::machineAutostartOptedOut() {
  XpScopedRegistry settings(OpenVersionedKey(kSettingsPath, XpRegistry::kRootCurrentUser, XpRegistry::kRead));
  return settings && settings->ReadDword(kMachineAutostartOffValue, 0) != 0;
}

bool VolumeWatcherApp::isRegistered() {
  if (OwnShortcutExists(*this)) return true;
  return machineAutostartPresent() && !machineAutostartOptedOut();
}

bool VolumeWatcherApp::autostartSwitchedOff() {
  return machineAutostartPresent() && machineAutostartOptedOut() && !OwnShortcutExists(*this);
}

XpResult VolumeWatcherApp::setAutostart(bool on) {
  bool machine = machineAutostartPresent();
  if (on && !machine) {
    registerAutostart();
    return OwnShortcutExists(*this) ? XP_OK : XP_E_FAIL;
  }
  XpResult result = XP_OK;
  if (!on && OwnShortcutExists(*this)) result = unregisterAutostart();
  if (!machine) return result;
  XpScopedRegistry settings(
      OpenVersionedKey(kSettingsPath, XpRegistry::kRootCurrentUser, XpRegistry::kWrite));
  XpResult written = settings ? settings->WriteDword(kMachineAutostartOffValue, on ? 0 : 1) : XP_E_FAIL;
  return result != XP_OK ? result : written;
}

int VolumeWatcherApp::registerAutostart() {
  XpComApartment com;
  XpString path = autostartShortcutPath();
  if (path.IsEmpty()) return 0;
  XpComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())))
    return 0;
  XpString program = executablePath();
  link->SetPath(program.c_str());
  link->SetShowCmd(SW_SHOWMINNOACTIVE);
  link->SetIconLocation(program.c_str(), 0);
  link->SetArguments(L"/noballoononstart");
  XpString description = loadString(IDS_APP_NAME);
  if (!description.IsEmpty()) link->SetDescription(description.c_str());
  XpComPtr<IPersistFile> file;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.putVoid()))) file->Save(path.c_str(), TRUE);
  return 0;
}

XpResult VolumeWatcherApp::unregisterAutostart() {
  return XpFileOperation::DeleteFile(autostartShortcutPath());
}

namespace {

// The profile folders the system knows (HKLM ProfileList, every account that
// ever logged on, with or without a loaded hive); empty where the system keeps
// no such list.
std::vector<XpString> ListedProfiles() {
  std::vector<XpString> folders;
  XpScopedRegistry list(XpRegistry::Open(kProfileListKey, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
  if (!list) return folders;
  XpRegistry::StringList accounts = list->EnumSubKeys();
  for (size_t i = 0; i < accounts.size(); ++i) {
    XpScopedRegistry account(XpRegistry::OpenSubKeyLiteral(list.get(), accounts[i], XpRegistry::kRead));
    XpString folder = account ? account->ReadString(L"ProfileImagePath", XpString()) : XpString();
    if (!folder.IsEmpty()) folders.push_back(folder);
  }
  return folders;
}

// Without a profile list: the folders beside the caller's own profile.
std::vector<XpString> SiblingProfiles(const XpString& profile) {
  std::vector<XpString> folders;
  int lastSlash = profile.ReverseFind(L'\\');
  if (lastSlash < 0) return folders;
  XpDir dir(profile.Left(lastSlash + 1));
  if (dir.BeginFind(XP_FIND_DIRECTORIES, XpString()) != XP_OK) return folders;
  for (XpSharedPtr<XpAbstractFSObj> entry = dir.FindNext(); entry; entry = dir.FindNext())
    if (entry->IsDirectory()) folders.push_back(entry->GetPath());
  // The enumeration was begun above, so ending it succeeds.
  (void)dir.EndFind();
  return folders;
}

}  // namespace

int VolumeWatcherApp::unregisterAutostartAll() {
  // A missing own shortcut is no reason to leave the other profiles' ones.
  (void)unregisterAutostart();
  XpString shortcut = autostartShortcutPath();
  XpString profile = GetSpecialFolderPath(XP_FOLDER_PROFILE, false);
  if (shortcut.IsEmpty() || profile.IsEmpty() || !XpStartsWithNoCase(shortcut, profile.c_str())) return 0;
  // Where the shortcut lies inside a profile; run as the system (by the
  // package) that is the system profile's layout, the same as every user's.
  XpString relative = shortcut.Right(shortcut.GetLength() - profile.GetLength());
  std::vector<XpString> profiles = ListedProfiles();
  if (profiles.empty()) profiles = SiblingProfiles(profile);
  XpString program = executablePath();

  XpComApartment com;
  for (size_t i = 0; i < profiles.size(); ++i) {
    XpString candidate = JoinPath(profiles[i], relative);
    // A shortcut that cannot be deleted stays; the other profiles are still cleaned.
    if (FileExists(candidate) && ShortcutPointsAt(candidate, program))
      (void)XpFileOperation::DeleteFile(candidate);
  }
  return 0;
}
