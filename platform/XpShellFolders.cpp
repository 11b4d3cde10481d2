#include "platform/XpShellFolders.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "platform/XpFileOperation.h"
#include "platform/XpHandle.h"
#include "platform/XpPath.h"
#include "platform/XpResult.h"

// ---------------------------------------------------------------------------
// Well-known folders

namespace {

int FolderId(int folder) {
  switch (folder) {
    case XP_FOLDER_MY_PICTURES:
      return CSIDL_MYPICTURES;
    case XP_FOLDER_MY_VIDEOS:
      return CSIDL_MYVIDEO;
    case XP_FOLDER_MY_MUSIC:
      return CSIDL_MYMUSIC;
    case XP_FOLDER_MY_DOCUMENTS:
      return CSIDL_PERSONAL;
    case XP_FOLDER_DESKTOP:
      return CSIDL_DESKTOP;
    case XP_FOLDER_COMMON_PICTURES:
      return CSIDL_COMMON_PICTURES;
    case XP_FOLDER_COMMON_VIDEOS:
      return CSIDL_COMMON_VIDEO;
    case XP_FOLDER_COMMON_MUSIC:
      return CSIDL_COMMON_MUSIC;
    case XP_FOLDER_COMMON_DOCUMENTS:
      return CSIDL_COMMON_DOCUMENTS;
    case XP_FOLDER_APPDATA:
      return CSIDL_APPDATA;
    case XP_FOLDER_PROFILE:
      return CSIDL_PROFILE;
    case XP_FOLDER_COMMON_APPDATA:
      return CSIDL_COMMON_APPDATA;
    case XP_FOLDER_STARTUP:
      return CSIDL_STARTUP;
    default:
      return -1;
  }
}

// Item id list from the shell's allocator.
typedef XpUniqueCoTaskMem<ITEMIDLIST> ItemIdList;

typedef HRESULT(WINAPI* SHGetFolderLocationFn)(HWND, int, HANDLE, DWORD, LPITEMIDLIST*);
typedef HRESULT(WINAPI* SHBindToParentFn)(LPCITEMIDLIST, REFIID, void**, LPCITEMIDLIST*);

FARPROC Shell32Function(const char* name) {
  HMODULE shell = GetModuleHandleW(L"shell32.dll");
  return shell != nullptr ? GetProcAddress(shell, name) : nullptr;
}

// Systems without SHGetFolderLocation (Windows 95/98) fall back to the older
// per-user lookup.
bool GetFolderList(int csidl, ItemIdList& list) {
  SHGetFolderLocationFn getLocation = reinterpret_cast<SHGetFolderLocationFn>(
      reinterpret_cast<void*>(Shell32Function("SHGetFolderLocation")));
  if (getLocation != nullptr) {
    if (SUCCEEDED(getLocation(nullptr, csidl, nullptr, 0, list.put())) && list.get() != nullptr) return true;
    // The default user's folder when the current user has none.
    return SUCCEEDED(getLocation(nullptr, csidl, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1)), 0,
                                 list.put())) &&
           list.get() != nullptr;
  }
  return SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, list.put())) && list.get() != nullptr;
}

XpString ProgramFile() {
  wchar_t buffer[1024];
  DWORD n = GetModuleFileNameW(nullptr, buffer, 1024);
  // A path that fills the buffer was cut short: no usable answer.
  if (n == 0 || n >= 1024) return XpString();
  buffer[n] = 0;
  return XpString(buffer);
}

}  // namespace

XpString GetSpecialFolderPath(int folder, bool create) {
  XpString path;
  if (folder == XP_FOLDER_TEMP) {
    wchar_t buffer[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) return XpString();
    path = buffer;
  } else if (folder == XP_FOLDER_PROGRAM_FILE) {
    return ProgramFile();
  } else if (folder == XP_FOLDER_PROGRAM_DIRECTORY) {
    path = GetDirectory(ProgramFile());
  } else {
    const int csidl = FolderId(folder);
    if (csidl < 0) return XpString();
    ItemIdList list;
    if (!GetFolderList(csidl, list)) return XpString();
    wchar_t buffer[MAX_PATH];
    if (!SHGetPathFromIDListW(list.get(), buffer)) return XpString();
    buffer[MAX_PATH - 1] = 0;
    path = buffer;
  }
  if (path.IsEmpty()) return path;
  if (create) {
    XpResult r = XpFileOperation::MakeDirectories(path);
    if (r != XP_OK && r != XP_E_ALREADY_EXISTS) return XpString();
  }
  return path;
}

XpString GetSpecialFolderDisplayName(int folder) {
  if (folder < XP_FOLDER_MY_PICTURES || folder > XP_FOLDER_COMMON_DOCUMENTS) return XpString();
  ItemIdList list;
  if (!GetFolderList(FolderId(folder), list)) return XpString();
  XpComPtr<IShellFolder> parent;
  LPCITEMIDLIST child = nullptr;
  SHBindToParentFn bindToParent =
      reinterpret_cast<SHBindToParentFn>(reinterpret_cast<void*>(Shell32Function("SHBindToParent")));
  if (bindToParent != nullptr) {
    if (FAILED(bindToParent(list.get(), IID_IShellFolder, parent.putVoid(), &child))) {
      return XpString();
    }
  } else {
    // The desktop folder resolves a full item list.
    if (FAILED(SHGetDesktopFolder(parent.put()))) return XpString();
    child = list.get();
  }
  XpString name;
  STRRET text;
  if (SUCCEEDED(parent->GetDisplayNameOf(child, SHGDN_NORMAL, &text))) {
    XpUniqueCoTaskMem<wchar_t> owned;
    if (SUCCEEDED(StrRetToStrW(&text, child, owned.put())) && owned) name = owned.get();
  }
  return name;
}

namespace {

// Paths and display names of folders 1..9, built once.
struct DisplayTables {
  DisplayTables() {
    for (int i = 0; i < 9; ++i) {
      paths[i] = GetSpecialFolderPath(i + 1, false);
      RemoveTrailingBackslash(paths[i]);
      names[i] = GetSpecialFolderDisplayName(i + 1);
    }
  }
  XpString paths[9];
  XpString names[9];
};

}  // namespace

XpString GetDisplayPath(const XpString& path) {
  static DisplayTables tables;
  for (int i = 0; i < 9; ++i) {
    const XpString& folder = tables.paths[i];
    const int n = folder.GetLength();
    // Without a display name the folder would simply vanish from the path.
    if (n == 0 || tables.names[i].IsEmpty() || path.GetLength() < n) continue;
    if (_wcsnicmp(path.c_str(), folder.c_str(), n) != 0) continue;
    const wchar_t next = *path.At(n);
    if (next != L'\\' && next != 0) continue;
    return tables.names[i] + path.Right(path.GetLength() - n);
  }
  return path;
}

XpString GetAppDataPath(const XpString& company, const XpString& product, const XpString& leaf, bool create) {
  XpString path = GetSpecialFolderPath(XP_FOLDER_APPDATA, false);
  // Without the folder the names would form a relative path.
  if (path.IsEmpty()) return path;
  if (!company.IsEmpty()) path = JoinPath(path, company);
  path = JoinPath(path, product);
  if (!leaf.IsEmpty()) path = JoinPath(path, leaf);
  // A folder that cannot be made shows when the caller writes into it.
  if (create && !IsDirectoryPath(path)) (void)XpFileOperation::MakeDirectories(path);
  return path;
}

XpString GetProgramRelativeFile(const XpString& name) {
  const XpString directory = GetSpecialFolderPath(XP_FOLDER_PROGRAM_DIRECTORY, false);
  if (directory.IsEmpty()) return XpString();
  const XpString file = JoinPath(directory, name);
  return FileExists(file) ? file : XpString();
}

HMODULE LoadProgramLibrary(const XpString& name) {
  if (name.IsEmpty()) return nullptr;
  const XpString directory = GetSpecialFolderPath(XP_FOLDER_PROGRAM_DIRECTORY, false);
  if (directory.IsEmpty()) return nullptr;
  return LoadLibraryW(JoinPath(directory, name).c_str());
}
