#include "platform/XpFileOperation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/XpFileSystem.h"
#include "tests/platform/XpFsTestSupport.h"

namespace {

XpString W(const std::wstring& s) { return XpString(s.c_str()); }

bool IsReadOnlyFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace

class XpFileOperationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch.Path().empty()); }
  XpScratchFolder scratch;
};

TEST_F(XpFileOperationTest, CreateNewFileOnlyWhenMissing) {
  const XpString path = W(scratch.Sub(L"new.txt"));
  EXPECT_EQ(XpFileOperation::CreateNewFile(path), XP_OK);
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(scratch.Read(L"new.txt"), "");

  ASSERT_TRUE(scratch.Write(L"kept.txt", "original"));
  EXPECT_EQ(XpFileOperation::CreateNewFile(W(scratch.Sub(L"kept.txt"))), XP_E_ALREADY_EXISTS);
  EXPECT_EQ(scratch.Read(L"kept.txt"), "original");

  EXPECT_NE(XpFileOperation::CreateNewFile(W(scratch.Sub(L"no\\such\\dir.txt"))), XP_OK);
  EXPECT_NE(XpFileOperation::CreateNewFile(W(scratch.Path())), XP_OK);  // a directory
}

TEST_F(XpFileOperationTest, MakeDirectoryReportsWhyItFailed) {
  EXPECT_EQ(XpFileOperation::MakeDirectory(W(scratch.Sub(L"one"))), XP_OK);
  EXPECT_TRUE(IsDirectoryPath(W(scratch.Sub(L"one"))));
  EXPECT_EQ(XpFileOperation::MakeDirectory(W(scratch.Sub(L"one"))), XP_E_ALREADY_EXISTS);
  EXPECT_EQ(XpFileOperation::MakeDirectory(W(scratch.Sub(L"missing\\two"))), XP_E_PATH_NOT_FOUND);
}

TEST_F(XpFileOperationTest, MakeDirectoriesCreatesTheWholeChain) {
  ASSERT_TRUE(scratch.MakeDir(L"l1"));
  const XpString deep = W(scratch.Sub(L"l1\\l2\\l3"));
  EXPECT_EQ(XpFileOperation::MakeDirectories(deep), XP_OK);
  EXPECT_TRUE(IsDirectoryPath(deep));
  EXPECT_EQ(XpFileOperation::MakeDirectories(deep), XP_E_ALREADY_EXISTS);

  // A trailing backslash or a doubled one names the same directories.
  EXPECT_EQ(XpFileOperation::MakeDirectories(W(scratch.Sub(L"t1\\\\t2\\"))), XP_OK);
  EXPECT_TRUE(IsDirectoryPath(W(scratch.Sub(L"t1\\t2"))));

  // A file in the way stops the chain.
  ASSERT_TRUE(scratch.Write(L"blocker", "x"));
  EXPECT_EQ(XpFileOperation::MakeDirectories(W(scratch.Sub(L"blocker\\a\\b"))), XP_E_PATH_NOT_FOUND);
  EXPECT_FALSE(scratch.Exists(L"blocker\\a"));

  // Roots that are not a drive or a server share.
  for (const wchar_t* bad :
       {L"relative\\a\\b", L"a", L"", L"C:", L"C:relative\\a", L"1:\\a", L"\\rooted\\a", L"\\\\",
        L"\\\\server", L"\\\\server\\", L"\\\\server\\share", L"\\\\\\share\\a"}) {
    EXPECT_EQ(XpFileOperation::MakeDirectories(XpString(bad)), XP_E_MKDIR_FAILED) << bad;
  }
  EXPECT_FALSE(scratch.Exists(L"relative"));

  // Very long chains end with a failure code, not with an overrun.
  std::wstring longPath = scratch.Path();
  while (longPath.size() < 5000) longPath += L"\\" + std::wstring(200, L'z');
  XpResult r = XpFileOperation::MakeDirectories(W(longPath));
  if (r == XP_OK) {
    EXPECT_TRUE(IsDirectoryPath(W(longPath)));
  } else {
    EXPECT_NE(r, XP_E_ALREADY_EXISTS);
  }
}

TEST_F(XpFileOperationTest, DeleteFileClearsReadOnlyAndRestoresItOnFailure) {
  ASSERT_TRUE(scratch.Write(L"ro.txt", "data"));
  const std::wstring ro = scratch.Sub(L"ro.txt");
  ASSERT_TRUE(SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(XpFileOperation::DeleteFile(W(ro)), XP_OK);
  EXPECT_FALSE(scratch.Exists(L"ro.txt"));

  // Held open without delete sharing, the file cannot go; it stays read-only.
  ASSERT_TRUE(scratch.Write(L"held.txt", "data"));
  const std::wstring held = scratch.Sub(L"held.txt");
  ASSERT_TRUE(SetFileAttributesW(held.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  HANDLE open = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  XpResult r = XpFileOperation::DeleteFile(W(held));
  CloseHandle(open);
  EXPECT_NE(r, XP_OK);
  EXPECT_NE(r, XP_E_FAIL);  // unclassified failures read as "deletion failed"
  EXPECT_TRUE(scratch.Exists(L"held.txt"));
  EXPECT_TRUE(IsReadOnlyFile(held));
  EXPECT_NE(GetFileAttributesW(held.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

  EXPECT_EQ(XpFileOperation::DeleteFile(W(scratch.Sub(L"missing.txt"))), XP_E_FILE_NOT_FOUND);
  // A directory is not deleted as a file, and keeps its attributes.
  ASSERT_TRUE(scratch.MakeDir(L"dir"));
  // (Wine keeps no read-only flag on directories; the hidden one shows the restore.)
  ASSERT_TRUE(SetFileAttributesW(scratch.Sub(L"dir").c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_NE(XpFileOperation::DeleteFile(W(scratch.Sub(L"dir"))), XP_OK);
  EXPECT_TRUE(IsDirectoryPath(W(scratch.Sub(L"dir"))));
  EXPECT_NE(GetFileAttributesW(scratch.Sub(L"dir").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(XpFileOperation::Delete(W(scratch.Sub(L"missing.txt")), false), XP_E_FILE_NOT_FOUND);
}

TEST_F(XpFileOperationTest, DeleteListStopsAtTheFirstFailure) {
  ASSERT_TRUE(scratch.Write(L"a", "1"));
  ASSERT_TRUE(scratch.Write(L"c", "3"));
  std::vector<XpString> list = {W(scratch.Sub(L"a")), W(scratch.Sub(L"b")), W(scratch.Sub(L"c"))};
  EXPECT_EQ(XpFileOperation::DeleteList(list, false), XP_E_FILE_NOT_FOUND);
  EXPECT_FALSE(scratch.Exists(L"a"));
  EXPECT_TRUE(scratch.Exists(L"c"));
  EXPECT_EQ(XpFileOperation::DeleteList(std::vector<XpString>(), false), XP_OK);
  EXPECT_EQ(XpFileOperation::DeleteList(std::vector<XpString>(), true), XP_OK);
}

TEST_F(XpFileOperationTest, ShellDeletionRemovesFilesAndRefusesEmptyEntries) {
  ASSERT_TRUE(scratch.Write(L"bin1.tmp", "1"));
  ASSERT_TRUE(scratch.Write(L"bin2.tmp", "2"));
  ASSERT_TRUE(scratch.Write(L"bin3.tmp", "3"));
  EXPECT_EQ(XpFileOperation::Delete(W(scratch.Sub(L"bin1.tmp")), true), XP_OK);
  EXPECT_FALSE(scratch.Exists(L"bin1.tmp"));
  std::vector<XpString> list = {W(scratch.Sub(L"bin2.tmp")), W(scratch.Sub(L"bin3.tmp"))};
  EXPECT_EQ(XpFileOperation::DeleteList(list, true), XP_OK);
  EXPECT_FALSE(scratch.Exists(L"bin2.tmp"));
  EXPECT_FALSE(scratch.Exists(L"bin3.tmp"));

  ASSERT_TRUE(scratch.Write(L"stay.tmp", "s"));
  std::vector<XpString> withHole = {XpString(), W(scratch.Sub(L"stay.tmp"))};
  EXPECT_EQ(XpFileOperation::DeleteList(withHole, true), XP_E_DELETE_FAILED);
  EXPECT_TRUE(scratch.Exists(L"stay.tmp"));
  EXPECT_EQ(XpFileOperation::DeleteToRecycleBin(XpString()), XP_E_DELETE_FAILED);

  // Copies of one long path share their text, so the list names more
  // characters than a 32-bit size can count: refused before any block is sized.
  const XpString longEntry = W(scratch.Sub(L"stay.tmp") + std::wstring(1 << 20, L'x'));
  std::vector<XpString> huge(2049, longEntry);
  huge.push_back(W(scratch.Sub(L"stay.tmp")));
  EXPECT_EQ(XpFileOperation::DeleteList(huge, true), XP_E_OUT_OF_MEMORY);
  EXPECT_TRUE(scratch.Exists(L"stay.tmp"));
}
