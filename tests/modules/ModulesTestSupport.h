// Shared helpers of the module and tool-registration tests: real registry
// keys under the suite's root (the test prefix is private), real folders and
// copies of the reference importer program. Everything here uses Win32
// directly, so the code under test never checks itself.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/XpTestSupport.h"

namespace modtest {

inline std::wstring ProgramDirectory() {
  std::wstring p = xptest::ProgramDir();
  return p.substr(0, p.size() - 1);
}

inline std::wstring Join(const std::wstring& dir, const std::wstring& name) {
  if (dir.empty()) return name;
  return dir.back() == L'\\' ? dir + name : dir + L"\\" + name;
}

inline void DeleteTree(const std::wstring& path) { xptest::RemoveTree(path); }

inline void MakeDirs(const std::wstring& path) { xptest::MakeDirs(path); }

inline bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void WriteText(const std::wstring& path, const std::string& text) { xptest::WriteBytes(path, text); }

using xptest::Utf8;
using xptest::Wide;

// The suite's scratch folder (tests/support) under the name the module tests
// and benchmarks use.
class ScratchDir : public xptest::ScratchFolder {
 public:
  using xptest::ScratchFolder::ScratchFolder;
  const std::wstring& path() const { return Path(); }
};

// Raw registry writes for setting up registrations. The test program runs in
// a scratch registry (see tests/support), so these never reach a real
// installation. CreateKey hands over an open key (or null) that the caller closes.
inline HKEY CreateKey(HKEY root, const std::wstring& path) { return xptest::CreateKey(root, path).release(); }
inline void SetString(HKEY root, const std::wstring& path, const std::wstring& name,
                      const std::wstring& value) {
  xptest::SetString(root, path, name.c_str(), value);
}
inline void SetDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value) {
  xptest::SetDword(root, path, name.c_str(), value);
}
inline void DeleteKey(HKEY root, const std::wstring& path) { xptest::DeleteTree(root, path); }

const wchar_t kSuiteKey[] = L"Software\\Zelm Corporation\\Vantolo";

// Removes every key these tests write, and the user's tools folder.
inline void ClearSuiteState() {
  DeleteKey(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Importer");
  DeleteKey(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Accessor");
  DeleteKey(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Browser");
  DeleteKey(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\TestTools");
  DeleteKey(HKEY_CURRENT_USER, std::wstring(kSuiteKey) + L"\\Browser");
  DeleteKey(HKEY_CURRENT_USER, std::wstring(kSuiteKey) + L"\\InitTool");
  DeleteKey(HKEY_CURRENT_USER, std::wstring(kSuiteKey) + L"\\TestTools");
  wchar_t appData[MAX_PATH] = {0};
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData))) {
    DeleteTree(Join(appData, L"Zelm Corporation\\Vantolo\\ExtTools"));
  }
}

inline std::wstring ToolsFolderPath() {
  wchar_t appData[MAX_PATH] = {0};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData);
  return Join(appData, L"Zelm Corporation\\Vantolo\\ExtTools");
}

// Copies the reference importer into folder as exeName, with its resource
// library under the default name (<base>Loc.dll) unless withTexts is false.
inline std::wstring InstallModule(const std::wstring& folder, const std::wstring& exeName,
                                  bool withTexts = true) {
  MakeDirs(folder);
  std::wstring exe = Join(folder, exeName);
  CopyFileW(Join(ProgramDirectory(), L"RefImporter.exe").c_str(), exe.c_str(), FALSE);
  if (withTexts) {
    std::wstring base = exeName.substr(0, exeName.rfind(L'.'));
    CopyFileW(Join(ProgramDirectory(), L"RefImporterLoc.dll").c_str(),
              Join(folder, base + L"Loc.dll").c_str(), FALSE);
  }
  return exe;
}

inline std::wstring SideFile(const std::wstring& exe, const wchar_t* suffix) {
  return exe.substr(0, exe.rfind(L'.')) + suffix;
}

// Lines the module logged: the command lines and, with notes, the "# " lines.
inline std::vector<std::wstring> ReadLog(const std::wstring& exe, bool notes = false) {
  std::vector<std::wstring> lines;
  FILE* f = _wfopen(SideFile(exe, L".log").c_str(), L"rb");
  if (f == nullptr) return lines;
  std::string all;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) all.append(buffer, n);
  fclose(f);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find("\r\n", start);
    if (end == std::string::npos) end = all.size();
    std::wstring line = Wide(all.substr(start, end - start));
    bool note = line.compare(0, 2, L"# ") == 0;
    if (notes || !note) lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

inline void ClearLog(const std::wstring& exe) { DeleteFileW(SideFile(exe, L".log").c_str()); }

// The registration of an importer under Importer (or Accessor) in HKLM.
struct ImporterRegistration {
  std::wstring root = L"Importer";
  std::wstring subkey;
  std::wstring version = L"1.0";
  std::wstring location;
  std::wstring exeName;
  DWORD supportedDevice = 1;
  DWORD hasSettingsDialog = 1;
  DWORD settingsMenuStrId = 0;
  DWORD visibleNameStrId = 0;
  DWORD commentStrId = 0;
};

inline void Register(const ImporterRegistration& r) {
  std::wstring moduleKey = std::wstring(kSuiteKey) + L"\\" + r.root + L"\\" + r.subkey;
  SetString(HKEY_LOCAL_MACHINE, moduleKey, L"CurrentVersion", r.version);
  std::wstring v = moduleKey + L"\\" + r.version;
  SetString(HKEY_LOCAL_MACHINE, v, L"InstalledLocation", r.location);
  SetString(HKEY_LOCAL_MACHINE, v, L"ExeName", r.exeName);
  SetDword(HKEY_LOCAL_MACHINE, v, L"SupportedDevice", r.supportedDevice);
  SetDword(HKEY_LOCAL_MACHINE, v, L"HasSettingsDialog", r.hasSettingsDialog);
  SetDword(HKEY_LOCAL_MACHINE, v, L"SettingsMenuStrId", r.settingsMenuStrId);
  SetDword(HKEY_LOCAL_MACHINE, v, L"VisibleNameStrId", r.visibleNameStrId);
  SetDword(HKEY_LOCAL_MACHINE, v, L"CommentStrId", r.commentStrId);
}

// A copy of the reference importer in modules\<subkey>, registered under
// Importer with that subkey; returns the program's path.
inline std::wstring AddRegisteredImporter(const std::wstring& modules, const std::wstring& subkey,
                                          DWORD supported = 1, bool withTexts = true) {
  std::wstring folder = Join(modules, subkey);
  std::wstring exe = InstallModule(folder, subkey + L".exe", withTexts);
  ImporterRegistration r;
  r.subkey = subkey;
  r.location = folder;
  r.exeName = subkey + L".exe";
  r.supportedDevice = supported;
  Register(r);
  return exe;
}

inline std::string XmlEscape(const std::wstring& text) {
  std::string in = Utf8(text), out;
  for (char c : in) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

// A registration file written as text, independent of the writer under test.
// Each entry is key, element name ("string", "integer", "true", "false",
// "raw" for ready XML) and text.
struct PlistEntry {
  std::wstring key;
  std::string element;
  std::wstring text;
};

inline void WritePlist(const std::wstring& path, const std::vector<PlistEntry>& entries) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\" ?><plist version=\"1.0\"><dict>";
  for (const PlistEntry& e : entries) {
    xml += "<key>" + XmlEscape(e.key) + "</key>";
    if (e.element == "true" || e.element == "false") {
      xml += "<" + e.element + "/>";
    } else if (e.element == "raw") {
      xml += Utf8(e.text);
    } else {
      xml += "<" + e.element + ">" + XmlEscape(e.text) + "</" + e.element + ">";
    }
  }
  xml += "</dict></plist>";
  WriteText(path, xml);
}

// Names a folder of registration files in the machine-wide folder list.
inline void AddRegistrationFolder(const std::wstring& valueName, const std::wstring& folder) {
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Browser\\ExtProgramXML", valueName, folder);
}

}  // namespace modtest
