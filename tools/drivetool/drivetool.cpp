// Test and demo helper: makes a drive letter appear or disappear under Wine
// the way a card reader does on Windows. The letter is defined for a Unix
// folder through the mount manager, and the arrival or removal is broadcast
// to every top-level window (Wine's own mount manager does not tell the
// user's windows).
#include <windows.h>
#include <dbt.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

const wchar_t kUsage[] =
    L"usage: drivetool <command> <letter> [folder]\n"
    L"  insert <letter> <folder>  define the drive as removable for the folder,\n"
    L"                            then broadcast DBT_DEVICEARRIVAL for it\n"
    L"  remove <letter>           broadcast DBT_DEVICEREMOVECOMPLETE, then undefine\n"
    L"  define <letter> <folder>  only define the drive (no broadcast)\n"
    L"  undefine <letter>         only undefine the drive (no broadcast)\n"
    L"  arrive <letter>           only broadcast the arrival\n"
    L"  leave <letter>            only broadcast the removal\n"
    L"  netarrive <letter>        only broadcast the arrival, flagged as a network volume\n"
    L"<letter> is A..Z, with or without a colon. <folder> is a Unix path (/tmp/card)\n"
    L"or a Windows path (C:\\cards\\one) of an existing folder.\n"
    L"Exit codes: 0 done, 1 bad command line, 2 the mount manager refused,\n"
    L"3 the broadcast failed, 4 the folder has no Unix path.\n";

enum ExitCode { kDone = 0, kUsage_ = 1, kMountFailed = 2, kBroadcastFailed = 3, kNoUnixPath = 4 };

// Wine's private mount manager request that binds a letter to a Unix folder.
const DWORD kDefineUnixDrive =
    CTL_CODE(0x6D /* 'm' */, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

struct UnixDriveRequest {
  ULONG size;
  ULONG type;  // DRIVE_* constant; DRIVE_NO_ROOT_DIR removes the letter
  ULONG fsType;
  DWORD serial;
  ULONGLONG unixDevice;
  WCHAR letter;
  USHORT mountPointOffset;  // narrow Unix path, from the start of the request
  USHORT deviceOffset;
  USHORT labelOffset;
};

bool ParseLetter(const wchar_t* text, wchar_t* letter) {
  if (!text || !text[0]) return false;
  wchar_t c = text[0];
  if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  if (c < L'A' || c > L'Z') return false;
  if (text[1] != 0 && !(text[1] == L':' && (text[2] == 0 || (text[2] == L'\\' && text[3] == 0))))
    return false;
  *letter = c;
  return true;
}

typedef char*(CDECL* WineGetUnixFileName)(const wchar_t*);

// A folder given in Windows form is turned into its Unix path through Wine.
bool UnixPathOf(const wchar_t* folder, std::vector<char>* out) {
  out->clear();
  if (!folder || !folder[0]) return false;
  if (folder[0] == L'/') {
    int n = WideCharToMultiByte(CP_UTF8, 0, folder, -1, NULL, 0, NULL, NULL);
    if (n <= 0) return false;
    out->resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_UTF8, 0, folder, -1, &(*out)[0], n, NULL, NULL);
    return true;
  }
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  WineGetUnixFileName convert = kernel ? reinterpret_cast<WineGetUnixFileName>(reinterpret_cast<void*>(
                                             GetProcAddress(kernel, "wine_get_unix_file_name")))
                                       : NULL;
  if (!convert) return false;
  char* unixPath = convert(folder);
  if (!unixPath) return false;
  size_t n = strlen(unixPath);
  out->assign(unixPath, unixPath + n + 1);
  HeapFree(GetProcessHeap(), 0, unixPath);
  return true;
}

int DefineDrive(wchar_t letter, const std::vector<char>* unixPath) {
  std::vector<unsigned char> buffer(sizeof(UnixDriveRequest) + (unixPath ? unixPath->size() : 0));
  UnixDriveRequest request;
  memset(&request, 0, sizeof(request));
  request.size = static_cast<ULONG>(buffer.size());
  request.letter = static_cast<WCHAR>(letter - L'A' + L'a');
  if (unixPath) {
    request.type = DRIVE_REMOVABLE;
    request.mountPointOffset = static_cast<USHORT>(sizeof(UnixDriveRequest));
    memcpy(&buffer[sizeof(UnixDriveRequest)], &(*unixPath)[0], unixPath->size());
  } else {
    request.type = DRIVE_NO_ROOT_DIR;
  }
  memcpy(&buffer[0], &request, sizeof(request));
  HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (manager == INVALID_HANDLE_VALUE) {
    fwprintf(stderr, L"drivetool: cannot open the mount manager (error %lu)\n",
             static_cast<unsigned long>(GetLastError()));
    return kMountFailed;
  }
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(manager, kDefineUnixDrive, &buffer[0], static_cast<DWORD>(buffer.size()), NULL, 0,
                            &returned, NULL);
  DWORD error = GetLastError();
  CloseHandle(manager);
  if (!ok) {
    fwprintf(stderr, L"drivetool: the mount manager refused %lc: (error %lu)\n", letter,
             static_cast<unsigned long>(error));
    return kMountFailed;
  }
  return kDone;
}

int Broadcast(wchar_t letter, bool arrival, WORD flags = 0) {
  DEV_BROADCAST_VOLUME volume;
  memset(&volume, 0, sizeof(volume));
  volume.dbcv_size = sizeof(volume);
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << (letter - L'A');
  volume.dbcv_flags = flags;
  DWORD recipients = BSM_APPLICATIONS;
  // A query is sent and waited for, so the record travels with the message
  // (a notify or posted message cannot carry it); a hung window is skipped.
  long sent = BroadcastSystemMessageW(BSF_QUERY | BSF_NOHANG | BSF_FORCEIFHUNG, &recipients, WM_DEVICECHANGE,
                                      arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                                      reinterpret_cast<LPARAM>(&volume));
  if (sent <= 0) {
    fwprintf(stderr, L"drivetool: the broadcast failed (error %lu)\n",
             static_cast<unsigned long>(GetLastError()));
    return kBroadcastFailed;
  }
  return kDone;
}

int Usage() {
  fwprintf(stderr, L"%ls", kUsage);
  return kUsage_;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const wchar_t* command = argv[1];
  wchar_t letter = 0;
  if (!ParseLetter(argv[2], &letter)) return Usage();
  bool needsFolder = _wcsicmp(command, L"insert") == 0 || _wcsicmp(command, L"define") == 0;
  if (needsFolder != (argc == 4) || argc > 4) return Usage();
  std::vector<char> unixPath;
  if (needsFolder && !UnixPathOf(argv[3], &unixPath)) {
    fwprintf(stderr, L"drivetool: no Unix path for %ls\n", argv[3]);
    return kNoUnixPath;
  }
  if (_wcsicmp(command, L"insert") == 0) {
    int r = DefineDrive(letter, &unixPath);
    return r != kDone ? r : Broadcast(letter, true);
  }
  if (_wcsicmp(command, L"remove") == 0) {
    int r = Broadcast(letter, false);
    int u = DefineDrive(letter, NULL);
    return r != kDone ? r : u;
  }
  if (_wcsicmp(command, L"define") == 0) return DefineDrive(letter, &unixPath);
  if (_wcsicmp(command, L"undefine") == 0) return DefineDrive(letter, NULL);
  if (_wcsicmp(command, L"arrive") == 0) return Broadcast(letter, true);
  if (_wcsicmp(command, L"leave") == 0) return Broadcast(letter, false);
  if (_wcsicmp(command, L"netarrive") == 0) return Broadcast(letter, true, DBTF_NET);
  return Usage();
}
