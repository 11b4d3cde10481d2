// Saving replaces a file whole or not at all, what cannot be read back is not
// written, document types are not resolved, and no library of the XML
// component is taken from the current folder.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "tests/support/XpTestSupport.h"

#include <string>

#include "platform/XpThread.h"
#include "plist/XpIni.h"

namespace {

std::wstring Folder(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + L"xpsafe_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

int FilesIn(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) ++count;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return count;
}

void RemoveFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring file = folder + L"\\" + data.cFileName;
      SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(file.c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

TEST(XpIniXmlSafety, SavingReplacesTheFileWholeOrNotAtAll) {
  std::wstring folder = Folder(L"save");
  std::wstring target = folder + L"\\list.xml";
  const std::string old = "the user's old file";
  EXPECT_TRUE(xptest::WriteBytes(target, old));

  XpIniRootPtr tree;
  ASSERT_EQ(XP_OK, tree->AddString(L"a", L"new"));
  ASSERT_EQ(XP_OK, tree->SaveFile(target.c_str()));
  EXPECT_NE(std::string::npos, xptest::ReadBytes(target).find("new"));
  EXPECT_EQ(1, FilesIn(folder));  // no temporary file left beside it

  // Read-only: refused, not truncated by the check for writability.
  EXPECT_TRUE(xptest::WriteBytes(target, old));
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(XP_E_ACCESS_DENIED, tree->SaveFile(target.c_str()));
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(old, xptest::ReadBytes(target));
  EXPECT_EQ(1, FilesIn(folder));

  // A tree that cannot be written leaves the file alone too.
  XpIniRootPtr bad;
  ASSERT_EQ(XP_OK, bad->AddString(L"s", L"\x01"));
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, bad->SaveFile(target.c_str()));
  EXPECT_EQ(old, xptest::ReadBytes(target));
  EXPECT_EQ(1, FilesIn(folder));
  // A folder that does not exist: the file layer's code, nothing made.
  EXPECT_EQ(XP_E_PATH_NOT_FOUND, tree->SaveFile((folder + L"\\missing\\list.xml").c_str()));
  EXPECT_EQ(1, FilesIn(folder));
  RemoveFolder(folder);
}

namespace {

// The order of the steps of a save, as the patched system calls saw them.
std::string g_steps;
void* g_realFlush = nullptr;
BOOL WINAPI RecordFlush(HANDLE file) {
  g_steps += "flush ";
  return reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(g_realFlush)(file);
}
BOOL WINAPI FailMove(LPCWSTR, LPCWSTR, DWORD) {
  g_steps += "move ";
  SetLastError(ERROR_SHARING_VIOLATION);
  return FALSE;
}

}  // namespace

TEST(XpIniXmlSafety, TheNewFileIsOnDiskBeforeItReplacesAndAFailedReplaceKeepsTheOld) {
  std::wstring folder = Folder(L"replace");
  std::wstring target = folder + L"\\list.xml";
  const std::string old = "the user's old file";
  EXPECT_TRUE(xptest::WriteBytes(target, old));
  XpIniRootPtr tree;
  ASSERT_EQ(XP_OK, tree->AddString(L"a", L"new"));
  g_steps.clear();
  void* flush = g_realFlush = xptest::PatchImport("FlushFileBuffers", reinterpret_cast<void*>(&RecordFlush));
  ASSERT_NE(nullptr, flush) << "the save never flushes what it wrote";
  void* move = xptest::PatchImport("MoveFileExW", reinterpret_cast<void*>(&FailMove));
  XpResult saved = tree->SaveFile(target.c_str());
  if (move) xptest::PatchImport("MoveFileExW", move);
  if (flush) xptest::PatchImport("FlushFileBuffers", flush);
  ASSERT_NE(nullptr, move) << "the save does not replace the file in one step";
  EXPECT_NE(XP_OK, saved);
  EXPECT_EQ("flush move ", g_steps);
  EXPECT_EQ(old, xptest::ReadBytes(target)) << "the old file was changed before the replacing step";
  EXPECT_EQ(1, FilesIn(folder));
  RemoveFolder(folder);
}

TEST(XpIniXmlSafety, AnEmptyKeyIsNotWritten) {
  std::wstring folder = Folder(L"emptykey");
  std::wstring target = folder + L"\\list.xml";
  EXPECT_TRUE(xptest::WriteBytes(target, "old"));
  XpIniRootPtr tree;
  ASSERT_EQ(XP_OK, tree->AddString(L"a", L"1"));
  ASSERT_EQ(XP_OK, tree->AddNode(L"inner", XpIniTypeDict));
  XpIniElement* inner = tree->Lookup(L"inner");
  ASSERT_TRUE(inner != nullptr);
  ASSERT_EQ(XP_OK, static_cast<XpIniDict*>(inner)->AddKey(XpString(L""), XpIniTypeString,
                                                          reinterpret_cast<std::intptr_t>(L"2"), 0, nullptr));
  // Read back, such a dictionary would be refused as broken.
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, tree->SaveFile(target.c_str()));
  EXPECT_EQ("old", xptest::ReadBytes(target));
  BSTR text = nullptr;
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, tree->SaveText(&text));
  SysFreeString(text);
  RemoveFolder(folder);
}

TEST(XpIniXmlSafety, DocumentTypesAreNotResolved) {
  std::wstring folder = Folder(L"dtd");
  std::wstring dtd = folder + L"\\types.dtd";
  EXPECT_TRUE(xptest::WriteBytes(dtd, "<!ENTITY secret \"FROM-THE-DTD\">"));
  std::wstring doc = folder + L"\\doc.xml";
  std::string url = "file:///";
  for (wchar_t c : dtd) url += c == L'\\' ? '/' : static_cast<char>(c);
  EXPECT_TRUE(xptest::WriteBytes(
      doc, "<?xml version=\"1.0\"?><!DOCTYPE plist SYSTEM \"" + url +
               "\"><plist><dict><key>a</key><string>&secret;</string><key>b</key><true/></dict></plist>"));
  XpIniRootPtr tree;
  XpResult r = tree->LoadFile(doc.c_str());
  XpString value;
  if (r == XP_OK && tree->Lookup(L"a") != nullptr) tree->Lookup(L"a")->GetString(value);
  EXPECT_EQ(std::wstring::npos, std::wstring(value.c_str()).find(L"FROM-THE-DTD")) << "resolved";

  // Entities declared in the document itself are not expanded: such a
  // document is not read at all (one entity could stand for millions).
  EXPECT_TRUE(xptest::WriteBytes(
      doc,
      "<?xml version=\"1.0\"?><!-- <plist> --><!DOCTYPE plist [<!ENTITY a \"INLINE\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]><plist><dict><key>a</key><string>&b;</string>"
      "</dict></plist>"));
  EXPECT_EQ(XP_E_INI_PARSE, tree->LoadFile(doc.c_str()));
  EXPECT_EQ(XP_E_INI_PARSE, tree->LoadText(L"<!DOCTYPE plist [<!ENTITY a \"x\">]><plist><dict/></plist>"));

  // The usual document type line of property lists still reads.
  EXPECT_TRUE(xptest::WriteBytes(
      doc,
      "<?xml version=\"1.0\"?><!DOCTYPE plist PUBLIC \"-//Example//DTD PLIST 1.0//EN\" "
      "\"http://localhost:1/PropertyList-1.0.dtd\"><plist version=\"1.0\"><dict><key>a</key>"
      "<string>x</string></dict></plist>"));
  EXPECT_EQ(XP_OK, tree->LoadFile(doc.c_str()));
  RemoveFolder(folder);
}

// A planted "msxml4.dll" in the current folder (built by the tests; it
// writes a marker file beside itself when it is loaded) never runs.
TEST(XpIniXmlSafety, NoXmlLibraryFromTheCurrentFolder) {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring planted(exe, n);
  planted = planted.substr(0, planted.find_last_of(L'\\')) + L"\\planted";
  std::wstring marker = planted + L"\\msxml4-ran.txt";
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((planted + L"\\msxml4.dll").c_str()));
  DeleteFileW(marker.c_str());

  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(planted.c_str()));
  XpRestrictLibrarySearch();  // as the program does at its start
  XpIniRootPtr tree;
  ASSERT_EQ(XP_OK, tree->AddString(L"a", L"1"));
  BSTR text = nullptr;
  XpResult saved = tree->SaveText(&text);
  XpResult loaded = text != nullptr ? tree->LoadText(text) : XP_E_FAIL;
  SysFreeString(text);
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(XP_OK, saved);
  EXPECT_EQ(XP_OK, loaded);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(marker.c_str())) << "the planted library ran";
  EXPECT_EQ(nullptr, GetModuleHandleW((planted + L"\\msxml4.dll").c_str()));
}
