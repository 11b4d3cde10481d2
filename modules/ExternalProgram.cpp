#include "modules/ExternalProgram.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "modules/SuiteKeys.h"
#include "platform/XpFileOperation.h"
#include "platform/XpFileSystem.h"
#include "platform/XpRegistry.h"
#include "platform/XpVersionedKey.h"
#include "plist/XpIni.h"

namespace {

const wchar_t kMaker[] = L"Zelm Corporation";
const wchar_t kSuite[] = L"Vantolo";
const wchar_t kSuiteKey[] = XP_SUITE_KEY L"/";
const wchar_t kFoldersKey[] = L"Software\\Zelm Corporation\\Vantolo\\Browser\\ExtProgramXML";
const wchar_t kIgnoreKey[] = L"Software\\Zelm Corporation\\Vantolo\\Browser\\ExtProgramXML\\Ignore";
const wchar_t kWrittenFilesKey[] = L"Software\\Zelm Corporation\\Vantolo\\InitTool\\1.0\\ExpAppData";
const wchar_t kWrittenFilesList[] = L"Delete";
const DWORD kNoIgnoreEntry = 0xFFFFFFFF;
// A registration is a few hundred bytes; a file far beyond that is no
// registration and is not handed to the parser.
const ULONGLONG kMaxRegistrationBytes = 4ull * 1024 * 1024;

// Size of the file at path; false when it cannot be asked.
bool FileSizeOf(const XpString& path, ULONGLONG* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  *size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

// The serialised form of a tree, for comparing two trees; empty on failure.
XpString TextOf(XpIniDict* dict) {
  BSTR text = nullptr;
  if (XpFailed(dict->SaveText(&text)) || text == nullptr) return XpString();
  XpString result(text);
  SysFreeString(text);
  return result;
}

// Typed reads of one key: a missing key or a value of another type keeps the
// field's default.
bool ReadString(XpIniDict* dict, const wchar_t* key, XpString& value) {
  XpIniElement* node = dict->Lookup(key);
  return node != nullptr && XpSucceeded(node->GetString(value));
}

void ReadBool(XpIniDict* dict, const wchar_t* key, bool& value) {
  XpIniElement* node = dict->Lookup(key);
  bool read = false;
  if (node != nullptr && XpSucceeded(node->GetBool(read))) value = read;
}

// An integer that does not fit 32 bits is not a display level or an order.
void ReadInt(XpIniDict* dict, const wchar_t* key, int& value) {
  XpIniElement* node = dict->Lookup(key);
  std::int32_t read = 0;
  if (node != nullptr && XpSucceeded(node->GetInt(read))) value = read;
}

void ReadMask(XpIniDict* dict, const wchar_t* key, DWORD& value) {
  XpIniElement* node = dict->Lookup(key);
  std::int64_t read = 0;
  if (node != nullptr && XpSucceeded(node->GetInt64(read)) && read >= 0 && read <= 0xFFFFFFFFLL) {
    value = static_cast<DWORD>(read);
  }
}

void ReadMaskList(XpIniDict* dict, const wchar_t* key, std::vector<DWORD>& masks) {
  XpIniElement* array = dict->Lookup(key);
  if (array == nullptr || array->GetType() != XpIniTypeArray) return;
  masks.clear();
  for (int i = 0; i < array->GetCount(); ++i) {
    XpIniElement* item = array->GetAt(i);
    XpString text;
    if (item == nullptr || XpFailed(item->GetString(text))) continue;
    masks.push_back(static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 16)));
  }
}

// The first failure, or XP_OK.
XpResult WriteMaskList(XpIniDict* dict, const wchar_t* key, const std::vector<DWORD>& masks) {
  XpResult result = dict->AddNode(key, XpIniTypeArray);
  if (XpFailed(result)) return result;
  XpIniElement* array = dict->Lookup(key);
  if (array == nullptr) return XP_E_FAIL;
  for (DWORD mask : masks) {
    XpString text;
    text.Format(L"%x", static_cast<unsigned int>(mask));
    result = array->InsertAt(-1, XpIniTypeString, reinterpret_cast<std::intptr_t>(text.c_str()), 0);
    if (XpFailed(result)) return result;
  }
  return XP_OK;
}

// Keeps the first failure of a series of steps.
void KeepFirstFailure(XpResult& first, XpResult result) {
  if (XpSucceeded(first)) first = result;
}

bool StartsWith(const XpString& text, const wchar_t* prefix) {
  size_t n = std::wcslen(prefix);
  return static_cast<size_t>(text.GetLength()) >= n && std::wcsncmp(text.c_str(), prefix, n) == 0;
}

// "HKEY_LOCAL_MACHINE\key path\value name" or the same under
// HKEY_CURRENT_USER: the string value it names; empty for any other form.
XpString ReadRegistryReference(const XpString& reference) {
  int first = reference.Find(L'\\');
  int last = reference.ReverseFind(L'\\');
  if (first <= 0 || last <= first) return XpString();
  XpString root = reference.Left(first);
  DWORD rootCode;
  if (root == L"HKEY_LOCAL_MACHINE") {
    rootCode = XpRegistry::kRootLocalMachine;
  } else if (root == L"HKEY_CURRENT_USER") {
    rootCode = XpRegistry::kRootCurrentUser;
  } else {
    return XpString();
  }
  XpString keyPath = reference.Left(last).Right(last - first - 1);
  XpString valueName = reference.Right(reference.GetLength() - last - 1);
  XpScopedRegistry key(XpRegistry::Open(keyPath, rootCode, XpRegistry::kRead));
  if (!key) return XpString();
  return key->ReadString(valueName, XpString());
}

XpString LongPath(const XpString& path) {
  DWORD n = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (n == 0) return path;
  std::vector<wchar_t> buffer(n + 1, 0);
  DWORD m = GetLongPathNameW(path.c_str(), &buffer[0], n + 1);
  if (m == 0 || m > n) return path;
  return XpString(&buffer[0]);
}

bool SameTool(const ExternalProgram& a, const ExternalProgram& b) {
  return a.appName == b.appName && a.programPath.CompareNoCase(b.programPath.c_str()) == 0 &&
         a.option == b.option;
}

// "<digits>.xml": the number, else 0.
int NumberedFileNumber(const XpString& fileName) {
  int n = fileName.GetLength();
  if (n < 5 || fileName.Right(4).CompareNoCase(L".xml") != 0) return 0;
  long long number = 0;
  for (int i = 0; i < n - 4; ++i) {
    wchar_t c = *fileName.At(i);
    if (c < L'0' || c > L'9') return 0;
    number = number * 10 + (c - L'0');
    if (number > 1000000) return 0;
  }
  return static_cast<int>(number);
}

}  // namespace

ExternalProgram::ExternalProgram()
    : groupApp(false),
      modal(false),
      displayLevel(-1),
      multiple(true),
      uiOrder(0),
      xmlReceivable(false),
      everyTimeEnable(false),
      supportedDeviceMask(0),
      includeNotSelected(false),
      sequence(0) {}

bool ExternalProgram::read(const XpString& path) {
  if (!FileExists(path)) return false;
  ULONGLONG size = 0;
  if (!FileSizeOf(path, &size) || size > kMaxRegistrationBytes) return false;
  filePath = path;
  // An unreadable time leaves the record with none rather than an old one.
  if (XpFailed(GetPathTimes(path, nullptr, &fileTime, nullptr))) fileTime = XpDateTime();
  XpIniRootPtr root;
  if (!root) return false;
  if (XpFailed(root->LoadFile(path.c_str()))) return false;
  XpIniDict* dict = root.get();

  ReadString(dict, L"AppName", appName);
  ReadString(dict, L"Description", description);
  ReadBool(dict, L"GroupApp", groupApp);
  ReadString(dict, L"InstallSettingName", installSettingName);
  if (groupApp) ReadBool(dict, L"Modal", modal);
  ReadString(dict, L"Option", option);
  ReadInt(dict, L"DisplayLevel", displayLevel);
  ReadBool(dict, L"Multiple", multiple);
  ReadInt(dict, L"UIOrder", uiOrder);
  ReadMaskList(dict, L"ContentTypeMaskList", contentTypeMasks);
  ReadMaskList(dict, L"MediaTypeMaskList", mediaTypeMasks);
  ReadBool(dict, L"XMLReceivable", xmlReceivable);
  ReadBool(dict, L"EveryTimeEnable", everyTimeEnable);
  ReadString(dict, L"SettingDescription", settingDescription);
  ReadString(dict, L"SummaryString", summary);
  ReadMask(dict, L"SupportedDeviceMask", supportedDeviceMask);
  ReadBool(dict, L"IncludeNotSelected", includeNotSelected);

  XpString exeName, location;
  bool hasExeName = ReadString(dict, L"ExeName", exeName);
  bool hasLocation = ReadString(dict, L"InstalledLocation", location);

  programPath = XpString();
  if (!installSettingName.IsEmpty() && groupApp) {
    XpString keyPath = XpString(kSuiteKey) + installSettingName;
    keyPath.Replace(L"\\", L"/");
    // Suites that never wrote a version keep their settings under "1.0".
    XpScopedRegistry versionKey(
        OpenVersionedKey(keyPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead, L"1.0"));
    if (versionKey) {
      XpString folder = versionKey->ReadString(L"InstalledLocation", XpString());
      XpString file = hasExeName ? exeName : versionKey->ReadString(L"ExeName", XpString());
      XpString candidate = JoinPath(folder, file);
      if (!folder.IsEmpty() && !file.IsEmpty() && FileExists(candidate)) programPath = candidate;
    }
  }
  if (programPath.IsEmpty() && hasLocation && hasExeName) {
    if (!StartsWith(location, L"HKEY_")) {
      programPath = JoinPath(location, exeName);
    } else {
      // A reference that names no folder gives no program path rather than
      // a bare file name relative to whatever folder is current.
      XpString folder = ReadRegistryReference(location);
      if (!folder.IsEmpty()) programPath = JoinPath(folder, exeName);
    }
  }
  if (!programPath.IsEmpty()) programPath = LongPath(programPath);

  XpString folder = GetDirectory(programPath);
  XpString iconName, imageName;
  if (ReadString(dict, L"IconName", iconName)) iconPath = folder + iconName;
  if (ReadString(dict, L"ImageBitmapName", imageName)) imagePath = JoinPath(folder, imageName);
  return true;
}

bool ExternalProgram::write() {
  XpIniRootPtr root;
  if (!root || filePath.IsEmpty()) return false;
  // A record with a value missing would replace a complete file: keep the old one.
  if (XpFailed(buildDict(root.get()))) return false;
  if (XpFailed(root->SaveFile(filePath.c_str()))) return false;
  // An unreadable time leaves the record with none rather than an old one.
  if (XpFailed(GetPathTimes(filePath, nullptr, &fileTime, nullptr))) fileTime = XpDateTime();
  return true;
}

bool ExternalProgram::isStored() const {
  if (filePath.IsEmpty() || !FileExists(filePath)) return false;
  ULONGLONG size = 0;
  if (!FileSizeOf(filePath, &size) || size > kMaxRegistrationBytes) return false;
  XpIniRootPtr wanted;
  XpIniRootPtr stored;
  if (!wanted || !stored) return false;
  if (XpFailed(buildDict(wanted.get()))) return false;
  if (XpFailed(stored->LoadFile(filePath.c_str()))) return false;
  XpString wantedText = TextOf(wanted.get());
  return !wantedText.IsEmpty() && wantedText == TextOf(stored.get());
}

XpResult ExternalProgram::buildDict(XpIniDict* dict) const {
  XpResult first = XP_OK;
  KeepFirstFailure(first, dict->AddString(L"AppName", appName.c_str()));
  KeepFirstFailure(first, dict->AddString(L"Description", description.c_str()));
  KeepFirstFailure(first, dict->AddBool(L"GroupApp", groupApp));
  KeepFirstFailure(first, dict->AddString(L"InstallSettingName", installSettingName.c_str()));
  KeepFirstFailure(first, dict->AddString(L"InstalledLocation", GetDirectory(programPath).c_str()));
  KeepFirstFailure(first, dict->AddString(L"ExeName", GetFileName(programPath).c_str()));
  KeepFirstFailure(first, dict->AddString(L"IconName", GetFileName(iconPath).c_str()));
  KeepFirstFailure(first, dict->AddBool(L"Modal", modal));
  KeepFirstFailure(first, dict->AddString(L"Option", option.c_str()));
  KeepFirstFailure(first, dict->AddInt64(L"DisplayLevel", displayLevel));
  KeepFirstFailure(first, dict->AddBool(L"Multiple", multiple));
  KeepFirstFailure(first, dict->AddInt64(L"UIOrder", uiOrder));
  KeepFirstFailure(first, WriteMaskList(dict, L"ContentTypeMaskList", contentTypeMasks));
  // The media masks travel too: a tool kept only in the tools folder would
  // otherwise lose them at the first write.
  KeepFirstFailure(first, WriteMaskList(dict, L"MediaTypeMaskList", mediaTypeMasks));
  KeepFirstFailure(first, dict->AddBool(L"XMLReceivable", xmlReceivable));
  KeepFirstFailure(first, dict->AddBool(L"EveryTimeEnable", everyTimeEnable));
  KeepFirstFailure(first, dict->AddBool(L"IncludeNotSelected", includeNotSelected));
  return first;
}

XpString ExternalProgramCatalog::ToolsFolder(bool create) {
  XpString appData = GetSpecialFolderPath(XP_FOLDER_APPDATA, false);
  if (appData.IsEmpty()) return XpString();
  XpString folder;
  folder.Format(L"%s\\%s\\%s\\ExtTools", appData.c_str(), kMaker, kSuite);
  // A folder that cannot be made shows when its files are written.
  if (create && !IsDirectoryPath(folder)) (void)XpFileOperation::MakeDirectories(folder);
  return folder;
}

ExternalProgramCatalog::ExternalProgramCatalog()
    : m_level1Capacity(kLevel1Capacity), m_fileCounter(0), m_sequenceCounter(0), m_toolsFolderRead(false) {
  load();
}

ExternalProgramCatalog::~ExternalProgramCatalog() { writeBack(); }

const ExternalProgramList& ExternalProgramCatalog::programsOfLevel(int level) const {
  static const ExternalProgramList kEmpty;
  if (level < 0 || level >= kLevelCount) return kEmpty;
  return m_lists[level];
}

void ExternalProgramCatalog::load() {
  m_toolsFolder = ToolsFolder(true);
  std::vector<XpString> folders;
  if (!m_toolsFolder.IsEmpty()) folders.push_back(m_toolsFolder);
  {
    XpScopedRegistry key(XpRegistry::Open(kFoldersKey, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
    if (key) {
      XpRegistry::StringList names = key->EnumValues();
      for (const XpString& name : names) {
        XpString folder = key->ReadString(name, XpString());
        if (!folder.IsEmpty() && IsDirectoryPath(folder)) folders.push_back(folder);
      }
    }
  }
  {
    XpScopedRegistry key(XpRegistry::Open(kIgnoreKey, XpRegistry::kRootCurrentUser, XpRegistry::kRead));
    if (key) {
      XpRegistry::StringList names = key->EnumValues();
      for (const XpString& name : names) {
        // Reads turn "/" in a value name into "\", so a name holding "/" cannot
        // be read back; it would count as level 0 and switch off the wrong one.
        if (name.Find(L'/') >= 0 && !key->HasValue(name)) continue;
        DWORD level = key->ReadDword(name, 0);
        if (level == kNoIgnoreEntry) continue;
        IgnoreEntry entry;
        entry.name = name;
        entry.level = level;
        m_ignore.push_back(entry);
      }
    }
  }
  for (const XpString& folder : folders) {
    if (!IsDirectoryPath(folder)) continue;
    bool fromToolsFolder = folder == m_toolsFolder;
    XpDir dir(folder);
    if (XpFailed(dir.BeginFind(XP_FIND_ALL, XpString()))) continue;
    std::vector<XpString> paths;
    for (XpSharedPtr<XpAbstractFSObj> entry = dir.FindNext(); !entry.IsNull(); entry = dir.FindNext()) {
      XpString path = entry->GetPath();
      if (GetExtension(path).CompareNoCase(L".xml") == 0) paths.push_back(path);
    }
    // The enumeration was begun above, so ending it succeeds.
    (void)dir.EndFind();
    // The numbered files in their numbers' order, so that an unchanged list
    // gets its old numbers again and nothing needs writing.
    if (fromToolsFolder) {
      std::stable_sort(paths.begin(), paths.end(),
                       [](const XpString& a, const XpString& b) { return CompareLogical(a, b) < 0; });
      m_toolsFolderRead = true;
      for (const XpString& path : paths) {
        int number = NumberedFileNumber(GetFileName(path));
        if (number > 0) m_usedNumbers.push_back(number);
      }
    }
    for (const XpString& path : paths) {
      ExternalProgram program;
      if (!program.read(path)) {
        // What this run could not read it must not overwrite or delete.
        if (fromToolsFolder) m_toolsFolderRead = false;
        continue;
      }
      bool ignored = false;
      for (const IgnoreEntry& ignore : m_ignore) {
        if (ignore.name == program.installSettingName &&
            static_cast<int>(ignore.level) == program.displayLevel) {
          ignored = true;
          break;
        }
      }
      if (!ignored) distribute(program, fromToolsFolder);
    }
  }
  for (int level = 0; level <= 3; ++level) {
    std::stable_sort(
        m_lists[level].begin(), m_lists[level].end(),
        [](const ExternalProgram& a, const ExternalProgram& b) { return a.uiOrder < b.uiOrder; });
  }
}

int ExternalProgramCatalog::nextFreeNumber() {
  do {
    ++m_fileCounter;
  } while (std::find(m_usedNumbers.begin(), m_usedNumbers.end(), m_fileCounter) != m_usedNumbers.end());
  m_usedNumbers.push_back(m_fileCounter);
  return m_fileCounter;
}

bool ExternalProgramCatalog::addToLevel1(ExternalProgram& program, bool fromToolsFolder) {
  ExternalProgramList& list = m_lists[1];
  if (static_cast<int>(list.size()) >= m_level1Capacity || m_toolsFolder.IsEmpty()) return false;
  // A record read from the tools folder keeps its own file; a new one gets a
  // number no file holds, so that a skipped record's file is never overwritten.
  if (!fromToolsFolder) program.filePath.Format(L"%s\\%d.xml", m_toolsFolder.c_str(), nextFreeNumber());
  program.sequence = ++m_sequenceCounter;
  list.push_back(program);
  return true;
}

void ExternalProgramCatalog::distribute(ExternalProgram& program, bool fromToolsFolder) {
  int level = program.displayLevel;
  if (level == 1) {
    ExternalProgramList& list = m_lists[1];
    ExternalProgramList::iterator same = list.begin();
    for (; same != list.end(); ++same) {
      if (SameTool(*same, program)) break;
    }
    if (!fromToolsFolder) {
      if (same != list.end()) {
        same->appName = program.appName;
        same->contentTypeMasks = program.contentTypeMasks;
        same->description = program.description;
        same->displayLevel = program.displayLevel;
        same->mediaTypeMasks = program.mediaTypeMasks;
        same->modal = program.modal;
        same->multiple = program.multiple;
        same->option = program.option;
        same->xmlReceivable = program.xmlReceivable;
      } else {
        addToLevel1(program, false);
      }
    } else if (same != list.end()) {
      // A file left behind by an earlier list holds a copy of a tool already
      // listed: it must not come back as a second entry.
      m_copies.push_back(program.filePath);
    } else if (program.installSettingName.IsEmpty() || FileExists(program.programPath)) {
      // A tool whose program is away for now (an unplugged drive, an offline
      // share) is not listed, but its file stays for when it is back.
      addToLevel1(program, true);
    }
    return;
  }
  if (!program.groupApp) return;
  switch (level) {
    case 0:
    case 2:
    case 3:
    case 6:
      m_lists[level].push_back(program);
      break;
    case 4:
    case 5:
      m_lists[4].push_back(program);
      m_lists[5].push_back(program);
      break;
    default:
      break;
  }
}

void ExternalProgramCatalog::writeBack() {
  // The numbered files are the user's only copy of the tools: a run that did
  // not read every one of them (no XML component, an unreadable file, a
  // folder that could not be listed) neither overwrites nor deletes any.
  // The duplicate check at loading keeps copies out of the list without it.
  if (m_toolsFolder.IsEmpty() || !m_toolsFolderRead) return;
  ExternalProgramList& list = m_lists[1];
  for (size_t i = 0; i < list.size(); ++i) {
    ExternalProgram& program = list[i];
    program.uiOrder = static_cast<int>(i) + 1;
    // A file that already holds the record stays untouched.
    if (program.isStored()) continue;
    if (!program.write()) continue;
    XpScopedRegistry key(
        XpRegistry::Open(kWrittenFilesKey, XpRegistry::kRootCurrentUser, XpRegistry::kReadWrite));
    if (!key) continue;
    XpRegistry::StringList files = key->ReadStringList(kWrittenFilesList, XpRegistry::StringList());
    bool known = false;
    for (const XpString& file : files) {
      if (file.CompareNoCase(program.filePath.c_str()) == 0) {
        known = true;
        break;
      }
    }
    if (!known) {
      files.push_back(program.filePath);
      // An unrecorded file is only never cleaned up; the tool itself is written.
      (void)key->WriteStringList(kWrittenFilesList, files);
    }
  }
  // Only a file this system wrote whose tool another file of the list holds
  // is gone for good; a record skipped for now (switched off, its program
  // away, the list full) keeps its file.
  XpScopedRegistry key(XpRegistry::Open(kWrittenFilesKey, XpRegistry::kRootCurrentUser, XpRegistry::kRead));
  if (!key) return;
  XpRegistry::StringList files = key->ReadStringList(kWrittenFilesList, XpRegistry::StringList());
  for (const XpString& file : files) {
    bool copy = false;
    for (const XpString& path : m_copies) {
      if (path.CompareNoCase(file.c_str()) == 0) copy = true;
    }
    // A file that cannot be deleted is tried again at the next write-back.
    if (copy && FileExists(file)) (void)XpFileOperation::DeleteFile(file);
  }
}
