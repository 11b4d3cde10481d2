// The user's numbered tool files: never overwritten or deleted by a run that
// could not read them all, written only when their record changed, and
// registrations far beyond any sane size are not read.
#include "modules/ExternalProgram.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/modules/ModulesTestSupport.h"

using namespace modtest;

namespace {

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream out;
  out << in.rdbuf();
  return out.str();
}

FILETIME WriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

class KeepingTest : public ::testing::Test {
 protected:
  KeepingTest() : m_regs(L"xp_keep_regs") {}
  void SetUp() override {
    ClearSuiteState();
    AddRegistrationFolder(L"Tests", m_regs.Path());
  }
  void TearDown() override { ClearSuiteState(); }

  // count level-1 tools in the registered folder, written by one catalogue
  // into the tools folder as 1.xml ... count.xml; the folder is then
  // unregistered, so the tools folder is their only copy.
  void WriteUserTools(int count) {
    for (int i = 1; i <= count; ++i) {
      WritePlist(m_regs / (L"t" + std::to_wstring(i) + L".xml"),
                 {{L"AppName", "string", L"Tool" + std::to_wstring(i)},
                  {L"DisplayLevel", "integer", L"1"},
                  {L"UIOrder", "integer", std::to_wstring(i)},
                  {L"InstalledLocation", "string", L"C:\\tools"},
                  {L"ExeName", "string", L"t" + std::to_wstring(i) + L".exe"}});
    }
    {
      ExternalProgramCatalog catalog;
      ASSERT_EQ(static_cast<size_t>(count), catalog.programsOfLevel(1).size());
    }
    DeleteKey(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Browser");
    for (int i = 1; i <= count; ++i) ASSERT_TRUE(Exists(Numbered(i))) << i;
  }
  std::wstring Numbered(int n) { return Join(ToolsFolderPath(), std::to_wstring(n) + L".xml"); }

  ScratchDir m_regs;
};

}  // namespace

TEST_F(KeepingTest, OneUnreadableFileKeepsEveryNumberedFileAsItIs) {
  WriteUserTools(5);
  // 3.xml is damaged (say, cut short by a full disk); the other four read.
  WriteText(Numbered(3), "<?xml version=\"1.0\"?><plist><dict><key>AppName</key><str");
  std::string before[6];
  for (int i = 1; i <= 5; ++i) before[i] = ReadAll(Numbered(i));
  {
    ExternalProgramCatalog catalog;
    EXPECT_EQ(4u, catalog.programsOfLevel(1).size());
  }
  // Neither renumbered over 3.xml nor 5.xml deleted as "above the count".
  for (int i = 1; i <= 5; ++i) {
    ASSERT_TRUE(Exists(Numbered(i))) << i;
    EXPECT_EQ(before[i], ReadAll(Numbered(i))) << i;
  }
  // Repaired, all five are read and kept again.
  WritePlist(Numbered(3), {{L"AppName", "string", L"Tool3"},
                           {L"DisplayLevel", "integer", L"1"},
                           {L"UIOrder", "integer", L"3"},
                           {L"InstalledLocation", "string", L"C:\\tools"},
                           {L"ExeName", "string", L"t3.exe"}});
  ExternalProgramCatalog catalog;
  EXPECT_EQ(5u, catalog.programsOfLevel(1).size());
}

TEST_F(KeepingTest, OverSizedRegistrationIsNotReadAndBlocksTheWriteBack) {
  WriteUserTools(2);
  // A registration of 5 MiB: a valid document, but far beyond any registration.
  std::string big =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>AppName</key><string>Big</string>"
      "<key>DisplayLevel</key><integer>1</integer><key>Padding</key><string>";
  big += std::string(5u * 1024u * 1024u, 'x');
  big += "</string></dict></plist>";
  std::wstring bigPath = Join(ToolsFolderPath(), L"big.xml");
  WriteText(bigPath, big);
  ExternalProgram record;
  EXPECT_FALSE(record.read(bigPath.c_str()));
  {
    ExternalProgramCatalog catalog;
    const ExternalProgramList& one = catalog.programsOfLevel(1);
    ASSERT_EQ(2u, one.size());
    for (const ExternalProgram& p : one) EXPECT_NE(XpString(L"Big"), p.appName);
  }
  EXPECT_TRUE(Exists(Numbered(1)));
  EXPECT_TRUE(Exists(Numbered(2)));
  EXPECT_TRUE(Exists(bigPath));
}

TEST_F(KeepingTest, UnchangedRecordsAreNotWrittenAgain) {
  WriteUserTools(4);
  // The first load from the tools folder alone may still settle the files;
  // after it, a load changes nothing and writes nothing.
  { ExternalProgramCatalog catalog; }
  FILETIME before[5];
  for (int i = 1; i <= 4; ++i) before[i] = WriteTime(Numbered(i));
  Sleep(1100);  // coarse file-system clocks would hide a rewrite
  {
    ExternalProgramCatalog catalog;
    ASSERT_EQ(4u, catalog.programsOfLevel(1).size());
  }
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(SameTime(before[i], WriteTime(Numbered(i)))) << i;
  // A changed order rewrites what changed.
  WritePlist(Numbered(2), {{L"AppName", "string", L"Tool2"},
                           {L"DisplayLevel", "integer", L"1"},
                           {L"UIOrder", "integer", L"99"},
                           {L"InstalledLocation", "string", L"C:\\tools"},
                           {L"ExeName", "string", L"t2.exe"}});
  {
    ExternalProgramCatalog catalog;
    const ExternalProgramList& one = catalog.programsOfLevel(1);
    ASSERT_EQ(4u, one.size());
    EXPECT_EQ(XpString(L"Tool2"), one[3].appName);
  }
  ExternalProgram moved;
  ASSERT_TRUE(moved.read(Numbered(2).c_str()));
  EXPECT_EQ(4, moved.uiOrder);
  EXPECT_TRUE(SameTime(before[1], WriteTime(Numbered(1))));
}

TEST_F(KeepingTest, SkippedRecordsKeepTheirFilesAndNewOnesTakeFreeNumbers) {
  std::vector<PlistEntry> x = {{L"AppName", "string", L"X"},
                               {L"DisplayLevel", "integer", L"1"},
                               {L"InstallSettingName", "string", L"Tools\\X"},
                               {L"InstalledLocation", "string", L"C:\\tools"},
                               {L"ExeName", "string", L"x.exe"}};
  MakeDirs(ToolsFolderPath());
  for (int i : {1, 3}) {
    WritePlist(Numbered(i), {{L"AppName", "string", i == 1 ? L"A" : L"B"},
                             {L"DisplayLevel", "integer", L"1"},
                             {L"UIOrder", "integer", std::to_wstring(i)},
                             {L"InstalledLocation", "string", L"C:\\tools"},
                             {L"ExeName", "string", L"t.exe"}});
  }
  WritePlist(Numbered(2), x);
  SetDword(HKEY_CURRENT_USER, std::wstring(kSuiteKey) + L"\\Browser\\ExtProgramXML\\Ignore", L"Tools\\X", 1);
  WritePlist(m_regs / L"new.xml", {{L"AppName", "string", L"New"},
                                   {L"DisplayLevel", "integer", L"1"},
                                   {L"UIOrder", "integer", L"9"},
                                   {L"InstalledLocation", "string", L"C:\\tools"},
                                   {L"ExeName", "string", L"n.exe"}});
  std::string off = ReadAll(Numbered(2));
  {
    ExternalProgramCatalog catalog;
    ASSERT_EQ(3u, catalog.programsOfLevel(1).size());
  }
  EXPECT_EQ(off, ReadAll(Numbered(2))) << "a switched-off tool's file was overwritten";
  const wchar_t* held[] = {L"", L"A", L"X", L"B", L"New"};
  for (int i = 1; i <= 4; ++i) {
    ExternalProgram p;
    ASSERT_TRUE(p.read(Numbered(i).c_str())) << i;
    EXPECT_STREQ(held[i], p.appName.c_str()) << i;
  }
}
