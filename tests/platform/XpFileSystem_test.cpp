#include "platform/XpFileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include "platform/XpDateTime.h"
#include "tests/platform/XpFsTestSupport.h"

namespace {

XpString W(const std::wstring& s) { return XpString(s.c_str()); }

std::wstring TestProgramDirectory() {
  wchar_t buffer[1024];
  DWORD n = GetModuleFileNameW(nullptr, buffer, 1024);
  std::wstring path(buffer, n);
  return path.substr(0, path.rfind(L'\\'));
}

std::wstring ChildProgram() { return TestProgramDirectory() + L"\\xp_run_child.exe"; }

// Names of every entry the enumeration hands out, marked "/" for directories.
std::set<std::wstring> Enumerate(XpDir& dir, std::uint32_t flags, const wchar_t* pattern) {
  std::set<std::wstring> names;
  EXPECT_EQ(dir.BeginFind(flags, XpString(pattern)), XP_OK);
  for (;;) {
    XpSharedPtr<XpAbstractFSObj> entry = dir.FindNext();
    if (entry.IsNull()) break;
    std::wstring name = GetFileName(entry->GetPath()).c_str();
    names.insert(entry->IsDirectory() ? name + L"/" : name);
  }
  EXPECT_EQ(dir.EndFind(), XP_OK);
  return names;
}

}  // namespace

TEST(XpFileSystemErrors, Win32ErrorsMapToFileResults) {
  struct Row {
    DWORD error;
    XpResult result;
  } rows[] = {{0, 0},          {2, 0x8105},    {3, 0x8106},   {15, 0x8106},  {4, 0x810B},
              {5, 0x8108},     {19, 0x8108},   {65, 0x8108},  {8, 0x8401},   {14, 0x8401},
              {21, 0x811A},    {55, 0x811A},   {38, 0x8103},  {39, 0x8109},  {112, 0x8109},
              {80, 0x810A},    {183, 0x810A},  {110, 0x810D}, {145, 0x8117}, {4307, 0x8117},
              {10066, 0x8117}, {1006, 0x8119}, {32, 0x8000},  {87, 0x8000},  {0xFFFFFFFF, 0x8000}};
  for (const Row& row : rows) EXPECT_EQ(XpResultFromWin32(row.error), row.result) << "error " << row.error;
  SetLastError(ERROR_ALREADY_EXISTS);
  EXPECT_EQ(XpResultFromLastError(), XP_E_ALREADY_EXISTS);
}

TEST(XpPath, SplitTakesDirectoryBaseNameAndExtension) {
  XpString dir, base, ext;
  SplitPath(XpString(L"C:\\photos\\2004\\img.0001.jpg"), &dir, &base, &ext);
  EXPECT_EQ(dir, L"C:\\photos\\2004\\");
  EXPECT_EQ(base, L"img.0001");
  EXPECT_EQ(ext, L".jpg");

  // A trailing backslash makes the last folder the name.
  SplitPath(XpString(L"C:\\photos\\my.album\\"), &dir, &base, &ext);
  EXPECT_EQ(dir, L"C:\\photos\\");
  EXPECT_EQ(base, L"my");
  EXPECT_EQ(ext, L".album");

  SplitPath(XpString(L"readme"), &dir, &base, &ext);
  EXPECT_EQ(dir, L"");
  EXPECT_EQ(base, L"readme");
  EXPECT_EQ(ext, L"");
  SplitPath(XpString(L"\\"), &dir, &base, nullptr);  // a lone backslash is kept
  EXPECT_EQ(dir, L"\\");
  EXPECT_EQ(base, L"");
  SplitPath(XpString(L""), nullptr, nullptr, nullptr);

  EXPECT_EQ(GetDirectory(XpString(L"a\\b\\c.txt")), L"a\\b\\");
  EXPECT_EQ(GetBaseName(XpString(L"a\\b\\c.txt")), L"c");
  EXPECT_EQ(GetExtension(XpString(L"C:\\v1.2\\readme")), L"");
  EXPECT_EQ(GetExtension(XpString(L"C:\\v1.2\\readme.TXT")), L".TXT");
  EXPECT_EQ(GetExtension(XpString(L"archive.tar.gz")), L".gz");
  EXPECT_EQ(GetFileName(XpString(L"C:\\a\\folder\\\\")), L"folder");
  EXPECT_EQ(GetFileName(XpString(L"file.txt")), L"file.txt");
  EXPECT_EQ(GetFileName(XpString(L"\\\\")), L"");
}

TEST(XpPath, JoinPutsExactlyOneBackslashBetween) {
  EXPECT_EQ(JoinPath(XpString(L"C:\\a"), XpString(L"b.txt")), L"C:\\a\\b.txt");
  EXPECT_EQ(JoinPath(XpString(L"C:\\a\\"), XpString(L"b.txt")), L"C:\\a\\b.txt");
  EXPECT_EQ(JoinPath(XpString(L"C:\\a"), XpString(L"\\b.txt")), L"C:\\a\\b.txt");
  EXPECT_EQ(JoinPath(XpString(L"C:\\a\\"), XpString(L"\\b.txt")), L"C:\\a\\b.txt");
  EXPECT_EQ(JoinPath(XpString(L""), XpString(L"b.txt")), L"b.txt");
  EXPECT_EQ(JoinPath(XpString(L"C:\\a"), XpString(L"")), L"C:\\a\\");

  XpString p(L"C:\\x");
  AddTrailingBackslash(p);
  AddTrailingBackslash(p);
  EXPECT_EQ(p, L"C:\\x\\");
  RemoveTrailingBackslash(p);
  EXPECT_EQ(p, L"C:\\x");
  RemoveTrailingBackslash(p);
  EXPECT_EQ(p, L"C:\\x");
  XpString empty;
  AddTrailingBackslash(empty);
  RemoveTrailingBackslash(empty);
  EXPECT_EQ(empty, L"");
}

TEST(XpPath, RootOfDriveUncRelativeAndRootedPaths) {
  EXPECT_EQ(GetPathRoot(XpString(L"C:\\photos\\a.jpg")), L"C:\\");
  EXPECT_EQ(GetPathRoot(XpString(L"\\\\server\\share\\dir\\a.jpg")), L"\\\\server\\share");
  EXPECT_EQ(GetPathRoot(XpString(L"\\\\server\\share")), L"\\\\server\\share");
  EXPECT_EQ(GetPathRoot(XpString(L"\\\\server\\")), L"\\\\server");
  EXPECT_EQ(GetPathRoot(XpString(L"\\\\server")), L"\\\\server");
  EXPECT_EQ(GetPathRoot(XpString(L"\\windows\\system")), L"\\");
  EXPECT_EQ(GetPathRoot(XpString(L".\\a")), L"");
  EXPECT_EQ(GetPathRoot(XpString(L"a.txt")), L"");
  EXPECT_EQ(GetPathRoot(XpString(L"")), L"");
}

TEST(XpPath, CompareTellsContainmentIgnoringCase) {
  EXPECT_EQ(ComparePaths(XpString(L"C:\\Photos"), XpString(L"c:\\photos\\")), XP_PATH_EQUAL);
  EXPECT_EQ(ComparePaths(XpString(L"C:\\Photos"), XpString(L"C:\\Photos\\a.jpg")), XP_PATH_A_CONTAINS_B);
  EXPECT_EQ(ComparePaths(XpString(L"C:\\Photos\\a.jpg"), XpString(L"C:\\photos")), XP_PATH_B_CONTAINS_A);
  // A common prefix that ends inside a name is no containment.
  EXPECT_EQ(ComparePaths(XpString(L"C:\\Photo"), XpString(L"C:\\Photos\\a.jpg")), XP_PATH_UNRELATED);
  EXPECT_EQ(ComparePaths(XpString(L"C:\\Photos2\\a"), XpString(L"C:\\Photos")), XP_PATH_UNRELATED);
  EXPECT_EQ(ComparePaths(XpString(L"C:\\a"), XpString(L"C:\\b")), XP_PATH_UNRELATED);
}

TEST(XpPath, ValidNamesTrimAndLogicalOrder) {
  EXPECT_TRUE(IsValidFileName(XpString(L"Holiday 2004 (1).jpg")));
  EXPECT_TRUE(IsValidFileName(XpString(L"")));
  for (const wchar_t* bad :
       {L"a\\b", L"a/b", L"c:", L"a,b", L"a;b", L"*.jpg", L"a?", L"\"q\"", L"<x", L"x>", L"a|b"}) {
    EXPECT_FALSE(IsValidFileName(XpString(bad))) << bad;
  }

  XpString t(L" \t\r\n name ");
  TrimLeadingSpace(t);
  EXPECT_EQ(t, L"name ");
  XpString blank(L"   ");
  TrimLeadingSpace(blank);
  EXPECT_EQ(blank, L"");

  EXPECT_LT(CompareLogical(XpString(L"img2.jpg"), XpString(L"img10.jpg")), 0);
  EXPECT_GT(CompareLogical(XpString(L"img10.jpg"), XpString(L"img2.jpg")), 0);
  EXPECT_EQ(CompareLogical(XpString(L"IMG.jpg"), XpString(L"img.jpg")), 0);
  std::vector<XpString> names = {XpString(L"p10"), XpString(L"p1"), XpString(L"P3"), XpString(L"p21")};
  std::sort(names.begin(), names.end(),
            [](const XpString& a, const XpString& b) { return CompareLogical(a, b) < 0; });
  EXPECT_EQ(names[0], L"p1");
  EXPECT_EQ(names[1], L"P3");
  EXPECT_EQ(names[2], L"p10");
  EXPECT_EQ(names[3], L"p21");
}

class XpDirTest : public ::testing::Test {
 protected:
  XpScratchFolder scratch;
};

TEST_F(XpDirTest, EmptyAndMissingDirectories) {
  ASSERT_FALSE(scratch.Path().empty());
  ASSERT_TRUE(scratch.MakeDir(L"empty"));
  XpDir empty(W(scratch.Sub(L"empty")));
  EXPECT_EQ(empty.BeginFind(XP_FIND_ALL, XpString()), XP_OK);
  EXPECT_TRUE(empty.FindNext().IsNull());
  EXPECT_TRUE(empty.FindNext().IsNull());
  EXPECT_EQ(empty.EndFind(), XP_OK);
  EXPECT_EQ(empty.EndFind(), XP_E_FILE_NOT_ACTIVE);
  EXPECT_TRUE(empty.FindNext().IsNull());
  EXPECT_EQ(empty.GetSize(), 0);
  EXPECT_EQ(empty.GetEntryCount(true), 0);

  XpDir missing(W(scratch.Sub(L"missing")));
  XpResult r = missing.BeginFind(XP_FIND_ALL, XpString());
  EXPECT_TRUE(r == XP_E_PATH_NOT_FOUND || r == XP_E_FILE_NOT_FOUND) << std::hex << r;
  // A failed start leaves the directory idle.
  EXPECT_TRUE(missing.FindNext().IsNull());
  EXPECT_EQ(missing.EndFind(), XP_E_FILE_NOT_ACTIVE);
  EXPECT_EQ(missing.GetSize(), -1);
  EXPECT_EQ(missing.GetEntryCount(false), 0);
  XpDateTime t = missing.GetLastWriteTime();
  EXPECT_FALSE(t.IsValid());
  EXPECT_EQ(missing.GetTimes(&t, nullptr, nullptr), XP_E_FILE_NOT_FOUND);
}

TEST_F(XpDirTest, FiltersByKindAndName) {
  ASSERT_TRUE(scratch.Write(L"a.jpeg", "12345"));
  ASSERT_TRUE(scratch.Write(L"b.JPEG", "1"));
  ASSERT_TRUE(scratch.Write(L"jpeg", "12"));
  ASSERT_TRUE(scratch.Write(L"notes.txt", ""));
  ASSERT_TRUE(scratch.MakeDir(L"sub.jpeg"));
  ASSERT_TRUE(scratch.MakeDir(L"DCIM"));
  ASSERT_TRUE(scratch.Write(L"DCIM\\img1.jpeg", "1234567890"));
  XpDir dir(W(scratch.Path()));

  EXPECT_EQ(Enumerate(dir, XP_FIND_ALL, L""),
            (std::set<std::wstring>{L"a.jpeg", L"b.JPEG", L"jpeg", L"notes.txt", L"sub.jpeg/", L"DCIM/"}));
  EXPECT_EQ(Enumerate(dir, XP_FIND_DIRECTORIES, L""), (std::set<std::wstring>{L"sub.jpeg/", L"DCIM/"}));
  EXPECT_EQ(Enumerate(dir, XP_FIND_FILES, L""),
            (std::set<std::wstring>{L"a.jpeg", L"b.JPEG", L"jpeg", L"notes.txt"}));
  // Files ending in exactly ".jpeg", same case; the pattern as a whole name also ends so.
  EXPECT_EQ(Enumerate(dir, XP_FIND_FILES | XP_FIND_NAME_ENDS, L"jpeg"),
            (std::set<std::wstring>{L"a.jpeg", L"jpeg"}));
  EXPECT_EQ(Enumerate(dir, XP_FIND_FILES | XP_FIND_NAME_ENDS, L".jpeg"), (std::set<std::wstring>{L"a.jpeg"}));
  EXPECT_EQ(Enumerate(dir, XP_FIND_ALL | XP_FIND_NAME_ENDS, L".jpeg"),
            (std::set<std::wstring>{L"a.jpeg", L"sub.jpeg/"}));
  EXPECT_EQ(Enumerate(dir, XP_FIND_ALL | XP_FIND_NAME_EQUALS, L"DCIM"), (std::set<std::wstring>{L"DCIM/"}));
  EXPECT_EQ(Enumerate(dir, XP_FIND_ALL | XP_FIND_NAME_EQUALS, L"dcim"), std::set<std::wstring>{});
  EXPECT_EQ(Enumerate(dir, XP_FIND_FILES | XP_FIND_NAME_STARTS, L"no"),
            (std::set<std::wstring>{L"notes.txt"}));
  // The first set name test decides: equality wins over the prefix test.
  EXPECT_EQ(Enumerate(dir, XP_FIND_ALL | XP_FIND_NAME_EQUALS | XP_FIND_NAME_STARTS, L"a"),
            std::set<std::wstring>{});
  // A pattern longer than every name matches nothing and reads nothing outside the name.
  EXPECT_EQ(Enumerate(dir, XP_FIND_ALL | XP_FIND_NAME_ENDS, L"a-very-long-pattern.jpeg"),
            std::set<std::wstring>{});
  EXPECT_EQ(Enumerate(dir, 0, L""), std::set<std::wstring>{});

  EXPECT_EQ(dir.GetEntryCount(false), 6);
  EXPECT_EQ(dir.GetEntryCount(true), 7);
  EXPECT_EQ(dir.GetSize(), 5 + 1 + 2 + 10);
}

TEST_F(XpDirTest, EntriesAreDirectoriesAndFilesWithFullPaths) {
  ASSERT_TRUE(scratch.MakeDir(L"inner"));
  ASSERT_TRUE(scratch.Write(L"inner\\deep.txt", "abc"));
  ASSERT_TRUE(scratch.Write(L"top.dat", "xyz1"));
  XpDir dir(W(scratch.Path() + L"\\"));
  ASSERT_EQ(dir.BeginFind(XP_FIND_ALL, XpString()), XP_OK);
  int directories = 0, files = 0;
  for (XpSharedPtr<XpAbstractFSObj> e = dir.FindNext(); !e.IsNull(); e = dir.FindNext()) {
    if (e->IsDirectory()) {
      ++directories;
      EXPECT_FALSE(e->IsFile());
      EXPECT_EQ(e->GetPath(), W(scratch.Sub(L"inner")));
      EXPECT_EQ(e->GetName(), L"inner");
      // The size of a directory during the parent's enumeration leaves it running.
      EXPECT_EQ(e->GetSize(), 3);
      EXPECT_EQ(dir.GetSize(), 7);
      XpAbstractDir* sub = static_cast<XpAbstractDir*>(e.get());
      ASSERT_EQ(sub->BeginFind(XP_FIND_FILES, XpString()), XP_OK);
      XpSharedPtr<XpAbstractFSObj> deep = sub->FindNext();
      ASSERT_FALSE(deep.IsNull());
      EXPECT_EQ(deep->GetPath(), W(scratch.Sub(L"inner\\deep.txt")));
      EXPECT_TRUE(sub->FindNext().IsNull());
    } else {
      ++files;
      EXPECT_TRUE(e->IsFile());
      EXPECT_EQ(e->GetPath(), W(scratch.Sub(L"top.dat")));
      EXPECT_EQ(e->GetName(), L"top");
      EXPECT_EQ(e->GetSize(), 4);
    }
  }
  EXPECT_EQ(directories, 1);
  EXPECT_EQ(files, 1);
  // A new start replaces a finished one.
  EXPECT_EQ(dir.BeginFind(XP_FIND_FILES, XpString()), XP_OK);
  EXPECT_EQ(dir.BeginFind(XP_FIND_DIRECTORIES, XpString()), XP_OK);
  XpSharedPtr<XpAbstractFSObj> first = dir.FindNext();
  ASSERT_FALSE(first.IsNull());
  EXPECT_TRUE(first->IsDirectory());
}

TEST_F(XpDirTest, LinkBackUpTheTreeIsNotFollowed) {
  ASSERT_TRUE(scratch.MakeDir(L"a"));
  ASSERT_TRUE(scratch.Write(L"a\\f.bin", "1234"));
  typedef BOOLEAN(WINAPI * CreateLinkFn)(LPCWSTR, LPCWSTR, DWORD);
  CreateLinkFn createLink = reinterpret_cast<CreateLinkFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
  if (createLink == nullptr ||
      !createLink(scratch.Sub(L"a\\up").c_str(), scratch.Path().c_str(), 0x1 | 0x2)) {
    GTEST_SKIP() << "no directory links here";
  }
  // Some systems report success without making the link.
  if (GetFileAttributesW(scratch.Sub(L"a\\up").c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "directory links are not made here";
  }
  XpDir dir(W(scratch.Path()));
  EXPECT_EQ(dir.GetEntryCount(true), 3);
  EXPECT_EQ(dir.GetSize(), 4);
  RemoveDirectoryW(scratch.Sub(L"a\\up").c_str());
}

TEST_F(XpDirTest, TimesAndAttributes) {
  ASSERT_TRUE(scratch.MakeDir(L"d"));
  XpDir dir(W(scratch.Sub(L"d")));
  XpDateTime created, written, accessed;
  ASSERT_EQ(dir.GetTimes(&created, &written, &accessed), XP_OK);
  EXPECT_TRUE(created.IsValid());
  EXPECT_TRUE(written.IsValid());
  EXPECT_TRUE(accessed.IsValid());
  XpDateTime now = XpDateTime::Now();
  long long age = 0;
  ASSERT_TRUE(now.DifferenceInSeconds(written, age));
  EXPECT_LT(age, 600);
  EXPECT_GT(age, -600);
  EXPECT_EQ(dir.GetLastWriteTime(), written);
  EXPECT_EQ(dir.GetTimes(nullptr, nullptr, nullptr), XP_OK);
  XpDir withSlash(W(scratch.Sub(L"d\\")));
  EXPECT_TRUE(withSlash.GetCreationTime().IsValid());
  EXPECT_EQ(dir.SetTimes(&now, &now, &now), XP_E_NOT_SUPPORTED);

  EXPECT_FALSE(dir.IsHidden());
  EXPECT_EQ(SetHidden(W(scratch.Sub(L"d")), true), XP_OK);
  EXPECT_TRUE(dir.IsHidden());
  EXPECT_EQ(SetHidden(W(scratch.Sub(L"d")), false), XP_OK);
  EXPECT_FALSE(dir.IsHidden());
  EXPECT_EQ(SetHidden(W(scratch.Sub(L"none")), true), XP_E_FILE_NOT_FOUND);

  ASSERT_TRUE(scratch.Write(L"f.txt", "x"));
  const XpString file = W(scratch.Sub(L"f.txt"));
  EXPECT_EQ(SetReadOnly(file, true), XP_OK);
  EXPECT_NE(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(SetReadOnly(file, false), XP_OK);
  EXPECT_EQ(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(SetReadOnly(W(scratch.Sub(L"none")), true), XP_E_FILE_NOT_FOUND);
  XpDir missing(W(scratch.Sub(L"none")));
  EXPECT_FALSE(missing.IsHidden());
  EXPECT_FALSE(missing.IsReadOnly());
}

TEST_F(XpDirTest, ExistenceTestsAndDirectoryRemoval) {
  ASSERT_TRUE(scratch.MakeDir(L"dir"));
  ASSERT_TRUE(scratch.Write(L"dir\\photo.jpg", "x"));
  ASSERT_TRUE(scratch.MakeDir(L"dir\\album.old"));
  bool isDirectory = false;
  EXPECT_TRUE(PathExists(W(scratch.Sub(L"dir")), &isDirectory));
  EXPECT_TRUE(isDirectory);
  EXPECT_TRUE(PathExists(W(scratch.Sub(L"dir\\photo.jpg")), &isDirectory));
  EXPECT_FALSE(isDirectory);
  EXPECT_TRUE(PathExists(W(scratch.Sub(L"dir\\")), nullptr));
  EXPECT_TRUE(PathExists(XpString(L"C:\\"), &isDirectory));
  EXPECT_TRUE(isDirectory);
  EXPECT_FALSE(PathExists(W(scratch.Sub(L"dir\\nothing")), nullptr));
  // A wildcard is not a name.
  EXPECT_FALSE(PathExists(W(scratch.Sub(L"dir\\*.jpg")), nullptr));
  EXPECT_FALSE(PathExists(XpString(), nullptr));

  EXPECT_TRUE(FileExists(W(scratch.Sub(L"dir\\photo.jpg"))));
  EXPECT_FALSE(FileExists(W(scratch.Sub(L"dir"))));
  EXPECT_TRUE(IsDirectoryPath(W(scratch.Sub(L"dir"))));
  EXPECT_FALSE(IsDirectoryPath(W(scratch.Sub(L"dir\\photo.jpg"))));

  EXPECT_TRUE(AnyFileWithBaseName(W(scratch.Sub(L"dir\\photo.xmp"))));
  EXPECT_TRUE(AnyFileWithBaseName(W(scratch.Sub(L"dir\\photo"))));
  EXPECT_FALSE(AnyFileWithBaseName(W(scratch.Sub(L"dir\\phot.jpg"))));
  // Only a directory carries the name "album.*".
  EXPECT_FALSE(AnyFileWithBaseName(W(scratch.Sub(L"dir\\album.x"))));
  // Neither an empty path (the current folder) nor a wildcard names a file.
  ASSERT_TRUE(scratch.Write(L"dir\\.hidden", "x"));
  wchar_t previous[1024];
  DWORD n = GetCurrentDirectoryW(1024, previous);
  ASSERT_TRUE(n > 0 && n < 1024);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.Sub(L"dir").c_str()));
  EXPECT_FALSE(AnyFileWithBaseName(XpString()));
  EXPECT_TRUE(SetCurrentDirectoryW(previous));
  EXPECT_FALSE(AnyFileWithBaseName(W(scratch.Sub(L"dir\\*"))));
  EXPECT_FALSE(AnyFileWithBaseName(W(scratch.Sub(L"dir\\phot?.x"))));

  EXPECT_EQ(RemoveDirectory(W(scratch.Sub(L"dir"))), XP_E_DIR_NOT_EMPTY);
  EXPECT_EQ(RemoveDirectory(W(scratch.Sub(L"dir\\album.old"))), XP_OK);
  EXPECT_FALSE(scratch.Exists(L"dir\\album.old"));
  XpResult r = RemoveDirectory(W(scratch.Sub(L"dir\\album.old")));
  EXPECT_TRUE(r == XP_E_FILE_NOT_FOUND || r == XP_E_PATH_NOT_FOUND) << std::hex << r;
}

TEST_F(XpDirTest, OverlongPathsAreRefusedNotOverrun) {
  std::wstring longName(300, L'n');
  std::wstring huge = scratch.Path();
  while (huge.size() < 5000) huge += L"\\" + longName;
  const XpString path = W(huge);

  XpDir dir(path);
  EXPECT_NE(dir.BeginFind(XP_FIND_ALL, XpString()), XP_OK);
  EXPECT_TRUE(dir.FindNext().IsNull());
  EXPECT_EQ(dir.GetSize(), -1);
  EXPECT_FALSE(PathExists(path, nullptr));
  EXPECT_FALSE(FileExists(path));
  EXPECT_FALSE(AnyFileWithBaseName(path));
  EXPECT_EQ(GetDisplayPath(path), path);
  EXPECT_EQ(GetFileName(path), W(longName));
  EXPECT_EQ(JoinPath(path, XpString(L"x")).GetLength(), path.GetLength() + 2);
  EXPECT_EQ(ComparePaths(path, path), XP_PATH_EQUAL);
  XpDateTime t;
  EXPECT_EQ(GetPathTimes(path, &t, &t, &t), XP_E_FILE_NOT_FOUND);
}

TEST(XpShellFolders, KnownFoldersByNumber) {
  XpString temp = GetSpecialFolderPath(XP_FOLDER_TEMP, false);
  ASSERT_FALSE(temp.IsEmpty());
  EXPECT_TRUE(IsDirectoryPath(temp));

  std::wstring program = TestProgramDirectory() + L"\\platform_fs_tests.exe";
  EXPECT_EQ(GetSpecialFolderPath(XP_FOLDER_PROGRAM_FILE, false).CompareNoCase(program.c_str()), 0);
  XpString programDir = GetSpecialFolderPath(XP_FOLDER_PROGRAM_DIRECTORY, false);
  RemoveTrailingBackslash(programDir);
  EXPECT_EQ(programDir.CompareNoCase(TestProgramDirectory().c_str()), 0);

  for (int folder : {XP_FOLDER_MY_DOCUMENTS, XP_FOLDER_DESKTOP, XP_FOLDER_APPDATA, XP_FOLDER_PROFILE,
                     XP_FOLDER_COMMON_APPDATA, XP_FOLDER_STARTUP, XP_FOLDER_COMMON_DOCUMENTS}) {
    XpString path = GetSpecialFolderPath(folder, false);
    EXPECT_FALSE(path.IsEmpty()) << folder;
    EXPECT_EQ(GetPathRoot(path).GetLength(), 3) << folder;  // a drive path
  }
  EXPECT_EQ(GetSpecialFolderPath(-1, false), L"");
  EXPECT_EQ(GetSpecialFolderPath(16, true), L"");
  EXPECT_EQ(GetSpecialFolderDisplayName(0), L"");
  EXPECT_EQ(GetSpecialFolderDisplayName(10), L"");
  EXPECT_FALSE(GetSpecialFolderDisplayName(XP_FOLDER_MY_DOCUMENTS).IsEmpty());

  EXPECT_EQ(GetProgramRelativeFile(XpString(L"xp_run_child.exe")).CompareNoCase(ChildProgram().c_str()), 0);
  EXPECT_EQ(GetProgramRelativeFile(XpString(L"no_such_program.exe")), L"");
}

TEST(XpShellFolders, DisplayPathReplacesAKnownFolderOnly) {
  XpString documents = GetSpecialFolderPath(XP_FOLDER_MY_DOCUMENTS, false);
  XpString name = GetSpecialFolderDisplayName(XP_FOLDER_MY_DOCUMENTS);
  ASSERT_FALSE(documents.IsEmpty());
  ASSERT_FALSE(name.IsEmpty());
  RemoveTrailingBackslash(documents);
  // The folder matches ignoring case.
  std::wstring lower = documents.c_str();
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_EQ(GetDisplayPath(W(lower + L"\\b.jpg")), name + L"\\b.jpg");
  EXPECT_EQ(GetDisplayPath(JoinPath(documents, XpString(L"Album\\a.jpg"))), name + L"\\Album\\a.jpg");
  EXPECT_EQ(GetDisplayPath(documents), name);
  // Only a whole folder name counts.
  XpString sibling = documents + L"X\\a.jpg";
  EXPECT_EQ(GetDisplayPath(sibling), sibling);
  EXPECT_EQ(GetDisplayPath(XpString(L"Q:\\elsewhere")), L"Q:\\elsewhere");
  EXPECT_EQ(GetDisplayPath(XpString()), L"");
  // Whatever folder a path starts with, the rest of the path is kept behind a name.
  for (int folder = XP_FOLDER_MY_PICTURES; folder <= XP_FOLDER_COMMON_DOCUMENTS; ++folder) {
    XpString start = GetSpecialFolderPath(folder, false);
    if (start.IsEmpty()) continue;
    XpString shown = GetDisplayPath(JoinPath(start, XpString(L"tail.jpg")));
    EXPECT_GT(shown.GetLength(), 9) << folder;
    EXPECT_EQ(shown.Right(9), L"\\tail.jpg") << folder;
  }
}

TEST(XpShellFolders, AppDataPathIsJoinedAndCreated) {
  XpString appData = GetSpecialFolderPath(XP_FOLDER_APPDATA, false);
  ASSERT_FALSE(appData.IsEmpty());
  wchar_t unique[64];
  swprintf(unique, 64, L"XpFsTest%lu", GetCurrentProcessId());
  XpString path = GetAppDataPath(XpString(unique), XpString(L"Importer"), XpString(L"Cache"), true);
  EXPECT_EQ(path, JoinPath(JoinPath(JoinPath(appData, XpString(unique)), XpString(L"Importer")),
                           XpString(L"Cache")));
  EXPECT_TRUE(IsDirectoryPath(path));
  EXPECT_EQ(GetAppDataPath(XpString(), XpString(L"Solo"), XpString(), false),
            JoinPath(appData, XpString(L"Solo")));
  RemoveDirectoryW(path.c_str());
  RemoveDirectoryW(GetDirectory(path).c_str());
  RemoveDirectoryW(JoinPath(appData, XpString(unique)).c_str());
  EXPECT_FALSE(PathExists(JoinPath(appData, XpString(unique)), nullptr));
}

class XpRunProgramTest : public ::testing::Test {
 protected:
  XpScratchFolder scratch;
};

TEST_F(XpRunProgramTest, ReturnsTheChildsExitCodeAndQuotesItsPath) {
  const XpString child = W(ChildProgram());
  ASSERT_TRUE(FileExists(child));
  const std::wstring report = scratch.Sub(L"report.txt");
  DWORD exitCode = 12345;
  ASSERT_EQ(RunProgram(child, W(L"7 \"" + report + L"\""), &exitCode, nullptr), XP_OK);
  EXPECT_EQ(exitCode, 7u);

  std::string bytes = scratch.Read(L"report.txt");
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  size_t lf = text.find(L'\n');
  ASSERT_NE(lf, std::wstring::npos);
  EXPECT_EQ(text.substr(0, lf), L"\"" + ChildProgram() + L"\" 7 \"" + report + L"\"");
  // The child works in its own folder.
  EXPECT_EQ(XpString(text.substr(lf + 1).c_str()).CompareNoCase(TestProgramDirectory().c_str()), 0)
      << std::string(text.begin() + lf + 1, text.end());

  HANDLE process = nullptr;
  ASSERT_EQ(RunProgram(child, XpString(L"42"), nullptr, &process), XP_OK);
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(code, 42u);
  CloseHandle(process);

  exitCode = 1;
  process = nullptr;
  ASSERT_EQ(RunProgram(child, XpString(L"0"), &exitCode, &process), XP_OK);
  EXPECT_EQ(exitCode, 0u);
  ASSERT_NE(process, nullptr);
  CloseHandle(process);

  // Fire and forget, as the launcher does.
  EXPECT_EQ(RunProgram(child, XpString(L"3"), nullptr, nullptr), XP_OK);
}

TEST_F(XpRunProgramTest, RefusesOverlongCommandLinesWithoutStarting) {
  const std::wstring child = ChildProgram();
  const std::wstring report = scratch.Sub(L"started.txt");
  std::wstring arguments = L"5 \"" + report + L"\" ";
  // Program and arguments together 500 characters: refused, nothing runs.
  std::wstring over = arguments + std::wstring(500 - child.size() - arguments.size(), L'x');
  ASSERT_EQ(child.size() + over.size(), 500u);
  DWORD exitCode = 99;
  EXPECT_EQ(RunProgram(W(child), W(over), &exitCode, nullptr), XP_E_FILE_BAD_ARGUMENT);
  EXPECT_EQ(exitCode, 99u);
  Sleep(200);
  EXPECT_FALSE(scratch.Exists(L"started.txt"));

  // 499 characters still run.
  std::wstring fits = over.substr(0, over.size() - 1);
  EXPECT_EQ(RunProgram(W(child), W(fits), &exitCode, nullptr), XP_OK);
  EXPECT_EQ(exitCode, 5u);
  EXPECT_TRUE(scratch.Exists(L"started.txt"));

  EXPECT_EQ(RunProgram(W(std::wstring(2000, L'p')), XpString(), &exitCode, nullptr), XP_E_FILE_BAD_ARGUMENT);
  EXPECT_EQ(RunProgram(W(child), W(std::wstring(100000, L'a')), &exitCode, nullptr), XP_E_FILE_BAD_ARGUMENT);
  // A program that does not exist, alone within the limit, cannot be created.
  EXPECT_EQ(RunProgram(W(scratch.Sub(L"missing.exe")), XpString(L"1"), &exitCode, nullptr), XP_E_FAIL);
  EXPECT_EQ(RunProgram(W(L"C:\\" + std::wstring(496, L'q')), XpString(), &exitCode, nullptr), XP_E_FAIL);
}
