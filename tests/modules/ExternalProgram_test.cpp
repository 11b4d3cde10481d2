// The tool-registration catalogue with real registration files in real
// folders and real registry keys.
#include "modules/ExternalProgram.h"

#include <gtest/gtest.h>

#include "tests/modules/ModulesTestSupport.h"

using namespace modtest;

namespace {

class CatalogTest : public ::testing::Test {
 protected:
  CatalogTest() : m_regs(L"xp_cat_regs"), m_programs(L"xp_cat_programs") {}
  void SetUp() override {
    ClearSuiteState();
    AddRegistrationFolder(L"Tests", m_regs.Path());
  }
  void TearDown() override { ClearSuiteState(); }

  // A program file the registrations can point at.
  std::wstring MakeProgram(const std::wstring& name) {
    std::wstring path = m_programs / name;
    WriteText(path, "MZ");
    return path;
  }

  std::vector<std::wstring> DeleteList() {
    std::vector<std::wstring> list;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kSuiteKey) + L"\\InitTool\\1.0\\ExpAppData").c_str(),
                      0, KEY_READ, &key) != ERROR_SUCCESS) {
      return list;
    }
    DWORD count = 0, size = sizeof count;
    RegQueryValueExW(key, L"DeleteCount", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size);
    for (DWORD i = 0; i < count; ++i) {
      wchar_t name[32], value[MAX_PATH] = {0};
      swprintf(name, 32, L"Delete%lu", static_cast<unsigned long>(i));
      DWORD bytes = sizeof value - sizeof(wchar_t);
      if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes) ==
          ERROR_SUCCESS) {
        list.push_back(value);
      }
    }
    RegCloseKey(key);
    return list;
  }

  ScratchDir m_regs;
  ScratchDir m_programs;
};

std::vector<PlistEntry> Tool(const std::wstring& app, int level, bool group, const std::wstring& folder,
                             const std::wstring& exe) {
  std::vector<PlistEntry> e = {{L"AppName", "string", app},
                               {L"DisplayLevel", "integer", std::to_wstring(level)},
                               {L"InstalledLocation", "string", folder},
                               {L"ExeName", "string", exe}};
  if (group) e.push_back({L"GroupApp", "true", L""});
  return e;
}

}  // namespace

TEST_F(CatalogTest, ReadsEveryFieldOfARegistration) {
  std::wstring program = MakeProgram(L"Viewer.exe");
  std::vector<PlistEntry> e = Tool(L"Viewer", 6, true, m_programs.Path(), L"Viewer.exe");
  e.push_back({L"Description", "string", L"Picture viewer"});
  e.push_back({L"Modal", "true", L""});
  e.push_back({L"Option", "string", L"-x"});
  e.push_back({L"Multiple", "false", L""});
  e.push_back({L"UIOrder", "integer", L"4"});
  e.push_back({L"IconName", "string", L"viewer.ico"});
  e.push_back({L"ImageBitmapName", "string", L"viewer.bmp"});
  e.push_back({L"ContentTypeMaskList", "raw",
               L"<array><string>ff</string><string>1A</string><integer>3</integer></array>"});
  e.push_back({L"MediaTypeMaskList", "raw", L"<array><string>80000000</string></array>"});
  e.push_back({L"XMLReceivable", "true", L""});
  e.push_back({L"EveryTimeEnable", "true", L""});
  e.push_back({L"SettingDescription", "string", L"Viewer settings"});
  e.push_back({L"SummaryString", "string", L"Shows pictures"});
  e.push_back({L"SupportedDeviceMask", "integer", L"2"});
  e.push_back({L"IncludeNotSelected", "true", L""});
  WritePlist(m_regs / L"viewer.xml", e);

  ExternalProgram p;
  ASSERT_TRUE(p.read((m_regs / L"viewer.xml").c_str()));
  EXPECT_STREQ(L"Viewer", p.appName.c_str());
  EXPECT_STREQ(L"Picture viewer", p.description.c_str());
  EXPECT_TRUE(p.groupApp);
  EXPECT_TRUE(p.modal);
  EXPECT_STREQ(L"-x", p.option.c_str());
  EXPECT_EQ(6, p.displayLevel);
  EXPECT_FALSE(p.multiple);
  EXPECT_EQ(4, p.uiOrder);
  EXPECT_STREQ(program.c_str(), p.programPath.c_str());
  EXPECT_STREQ((m_programs / L"viewer.ico").c_str(), p.iconPath.c_str());
  EXPECT_STREQ((m_programs / L"viewer.bmp").c_str(), p.imagePath.c_str());
  ASSERT_EQ(2u, p.contentTypeMasks.size());  // the integer item is not a hexadecimal string
  EXPECT_EQ(0xFFu, p.contentTypeMasks[0]);
  EXPECT_EQ(0x1Au, p.contentTypeMasks[1]);
  ASSERT_EQ(1u, p.mediaTypeMasks.size());
  EXPECT_EQ(0x80000000u, p.mediaTypeMasks[0]);
  EXPECT_TRUE(p.xmlReceivable && p.everyTimeEnable && p.includeNotSelected);
  EXPECT_STREQ(L"Viewer settings", p.settingDescription.c_str());
  EXPECT_STREQ(L"Shows pictures", p.summary.c_str());
  EXPECT_EQ(2u, p.supportedDeviceMask);
  EXPECT_TRUE(p.fileTime.IsValid());

  // Without GroupApp, Modal is not read; absurd integers keep the defaults.
  WritePlist(m_regs / L"odd.xml", {{L"Modal", "true", L""},
                                   {L"DisplayLevel", "integer", L"99999999999999"},
                                   {L"UIOrder", "string", L"7"}});
  ExternalProgram odd;
  ASSERT_TRUE(odd.read((m_regs / L"odd.xml").c_str()));
  EXPECT_FALSE(odd.modal);
  EXPECT_EQ(-1, odd.displayLevel);
  EXPECT_EQ(0, odd.uiOrder);
  EXPECT_TRUE(odd.multiple);
  EXPECT_STREQ(L"", odd.programPath.c_str());
  ExternalProgram missing;
  EXPECT_FALSE(missing.read((m_regs / L"none.xml").c_str()));
}

TEST_F(CatalogTest, ProgramPathFromTheInstallationKeyAndFromRegistryReferences) {
  std::wstring v2 = m_programs / L"v2";
  MakeDirs(v2);
  WriteText(Join(v2, L"Inst.exe"), "MZ");
  std::wstring key = std::wstring(kSuiteKey) + L"\\TestTools\\Inst";
  SetString(HKEY_LOCAL_MACHINE, key, L"CurrentVersion", L"2.0");
  SetString(HKEY_LOCAL_MACHINE, key + L"\\2.0", L"InstalledLocation", v2);
  SetString(HKEY_LOCAL_MACHINE, key + L"\\2.0", L"ExeName", L"Inst.exe");
  WritePlist(m_regs / L"inst.xml",
             {{L"GroupApp", "true", L""}, {L"InstallSettingName", "string", L"TestTools/Inst"}});
  ExternalProgram inst;
  ASSERT_TRUE(inst.read((m_regs / L"inst.xml").c_str()));
  EXPECT_STREQ(Join(v2, L"Inst.exe").c_str(), inst.programPath.c_str());

  // The folder named by a value under the current user.
  std::wstring cu = m_programs / L"cu";
  MakeDirs(cu);
  SetString(HKEY_CURRENT_USER, std::wstring(kSuiteKey) + L"\\TestTools\\Paths", L"Folder", cu);
  WritePlist(m_regs / L"cu.xml",
             {{L"InstalledLocation", "string",
               std::wstring(L"HKEY_CURRENT_USER\\") + kSuiteKey + L"\\TestTools\\Paths\\Folder"},
              {L"ExeName", "string", L"cu.exe"}});
  ExternalProgram fromUser;
  ASSERT_TRUE(fromUser.read((m_regs / L"cu.xml").c_str()));
  EXPECT_STREQ(Join(cu, L"cu.exe").c_str(), fromUser.programPath.c_str());

  SetString(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\TestTools\\Paths", L"Folder", v2);
  WritePlist(m_regs / L"lm.xml",
             {{L"InstalledLocation", "string",
               std::wstring(L"HKEY_LOCAL_MACHINE\\") + kSuiteKey + L"\\TestTools\\Paths\\Folder"},
              {L"ExeName", "string", L"Inst.exe"}});
  ExternalProgram fromMachine;
  ASSERT_TRUE(fromMachine.read((m_regs / L"lm.xml").c_str()));
  EXPECT_STREQ(Join(v2, L"Inst.exe").c_str(), fromMachine.programPath.c_str());

  WritePlist(m_regs / L"bad.xml", {{L"InstalledLocation", "string", L"HKEY_CLASSES_ROOT\\x\\y"},
                                   {L"ExeName", "string", L"a.exe"}});
  ExternalProgram badRoot;
  ASSERT_TRUE(badRoot.read((m_regs / L"bad.xml").c_str()));
  EXPECT_STREQ(L"", badRoot.programPath.c_str());
}

TEST_F(CatalogTest, LevelsGroupAppIgnoreEntriesAndOrder) {
  std::wstring folder = m_programs.Path();
  WritePlist(m_regs / L"a6.xml", Tool(L"A6", 6, true, folder, L"a.exe"));
  WritePlist(m_regs / L"b6.xml", Tool(L"B6nogroup", 6, false, folder, L"b.exe"));
  std::vector<PlistEntry> off = Tool(L"Off6", 6, true, folder, L"c.exe");
  off.push_back({L"InstallSettingName", "string", L"Tools\\Off"});
  WritePlist(m_regs / L"c6.xml", off);
  std::vector<PlistEntry> kept = Tool(L"Kept6", 6, true, folder, L"d.exe");
  kept.push_back({L"InstallSettingName", "string", L"Tools\\Kept"});
  WritePlist(m_regs / L"d6.xml", kept);
  std::vector<PlistEntry> other = Tool(L"OtherLevel", 2, true, folder, L"e.exe");
  other.push_back({L"InstallSettingName", "string", L"Tools\\Off"});
  WritePlist(m_regs / L"e2.xml", other);
  std::vector<PlistEntry> late = Tool(L"Late2", 2, true, folder, L"f.exe");
  late.push_back({L"UIOrder", "integer", L"9"});
  WritePlist(m_regs / L"f2.xml", late);
  std::vector<PlistEntry> early = Tool(L"Early2", 2, true, folder, L"g.exe");
  early.push_back({L"UIOrder", "integer", L"-1"});
  WritePlist(m_regs / L"g2.xml", early);
  WritePlist(m_regs / L"h4.xml", Tool(L"Both45", 4, true, folder, L"h.exe"));
  WritePlist(m_regs / L"i0.xml", Tool(L"Zero", 0, false, folder, L"i.exe"));
  WritePlist(m_regs / L"j7.xml", Tool(L"Seven", 7, true, folder, L"j.exe"));
  // Broken files are skipped; the rest still loads.
  WriteText(m_regs / L"broken.xml", "<?xml version=\"1.0\"?><plist><dict><key>AppName</key><string>x");
  WriteText(m_regs / L"notxml.XML", "this is not a document");
  WriteText(m_regs / L"wrongroot.xml", "<?xml version=\"1.0\"?><other><dict/></other>");
  WritePlist(m_regs / L"k6.txt", Tool(L"NotXmlName", 6, true, folder, L"k.exe"));
  std::wstring ignore = std::wstring(kSuiteKey) + L"\\Browser\\ExtProgramXML\\Ignore";
  SetDword(HKEY_CURRENT_USER, ignore, L"Tools\\Off", 6);
  SetDword(HKEY_CURRENT_USER, ignore, L"Tools\\Kept", 0xFFFFFFFF);
  // A name with a slash cannot be read back as written: it switches nothing off.
  SetDword(HKEY_CURRENT_USER, ignore, L"Zero/Name", 0);
  std::vector<PlistEntry> zero = Tool(L"GroupZero", 0, true, folder, L"z.exe");
  zero.push_back({L"InstallSettingName", "string", L"Zero/Name"});
  WritePlist(m_regs / L"z0.xml", zero);

  ExternalProgramCatalog catalog;
  const ExternalProgramList& six = catalog.programsOfLevel(6);
  ASSERT_EQ(2u, six.size());
  EXPECT_STREQ(L"A6", six[0].appName.c_str());
  EXPECT_STREQ(L"Kept6", six[1].appName.c_str());
  const ExternalProgramList& two = catalog.programsOfLevel(2);
  ASSERT_EQ(3u, two.size());
  EXPECT_STREQ(L"Early2", two[0].appName.c_str());
  EXPECT_STREQ(L"OtherLevel", two[1].appName.c_str());  // ignored only at level 6
  EXPECT_STREQ(L"Late2", two[2].appName.c_str());
  ASSERT_EQ(1u, catalog.programsOfLevel(4).size());
  ASSERT_EQ(1u, catalog.programsOfLevel(5).size());
  EXPECT_STREQ(L"Both45", catalog.programsOfLevel(5)[0].appName.c_str());
  ASSERT_EQ(1u, catalog.programsOfLevel(0).size());
  EXPECT_STREQ(L"GroupZero", catalog.programsOfLevel(0)[0].appName.c_str());
  EXPECT_TRUE(catalog.programsOfLevel(7).empty());
  EXPECT_TRUE(catalog.programsOfLevel(-1).empty());
}

TEST_F(CatalogTest, TwentyFiveLevelOneToolsBecomeTwentyNumberedFiles) {
  for (int i = 0; i < 25; ++i) {
    wchar_t name[32];
    swprintf(name, 32, L"tool%02d.xml", i);
    std::vector<PlistEntry> e = Tool(L"Tool" + std::to_wstring(i), 1, false, m_programs.Path(), L"t.exe");
    e.push_back({L"Option", "string", std::to_wstring(i)});
    e.push_back({L"UIOrder", "integer", std::to_wstring(100 - i)});
    WritePlist(m_regs / name, e);
  }
  std::wstring tools = ToolsFolderPath();
  std::wstring firstApp, firstFile;
  {
    ExternalProgramCatalog catalog;
    const ExternalProgramList& one = catalog.programsOfLevel(1);
    ASSERT_EQ(20u, one.size());
    std::vector<bool> numbers(21, false);
    for (size_t i = 0; i < one.size(); ++i) {
      if (i > 0) {
        EXPECT_LE(one[i - 1].uiOrder, one[i].uiOrder);  // sorted by UIOrder
      }
      EXPECT_STREQ(Join(tools, std::to_wstring(one[i].sequence) + L".xml").c_str(), one[i].filePath.c_str());
      ASSERT_TRUE(one[i].sequence >= 1 && one[i].sequence <= 20);
      EXPECT_FALSE(numbers[one[i].sequence]);
      numbers[one[i].sequence] = true;
    }
    firstApp = one[0].appName.c_str();
    firstFile = one[0].filePath.c_str();
  }
  for (int n = 1; n <= 20; ++n) EXPECT_TRUE(Exists(Join(tools, std::to_wstring(n) + L".xml"))) << n;
  EXPECT_FALSE(Exists(Join(tools, L"21.xml")));
  EXPECT_EQ(20u, DeleteList().size());
  ExternalProgram first;
  ASSERT_TRUE(first.read(firstFile.c_str()));
  EXPECT_EQ(firstApp, first.appName.c_str());
  EXPECT_EQ(1, first.uiOrder);

  // The next load merges the files of the other folder into the stored
  // list: still twenty, no duplicates, nothing new in the Delete list.
  {
    ExternalProgramCatalog catalog;
    const ExternalProgramList& one = catalog.programsOfLevel(1);
    ASSERT_EQ(20u, one.size());
    for (size_t i = 0; i < one.size(); ++i) {
      for (size_t j = i + 1; j < one.size(); ++j) EXPECT_NE(one[i].option, one[j].option);
    }
  }
  EXPECT_EQ(20u, DeleteList().size());
}

TEST_F(CatalogTest, ToolsFolderEntriesNeedTheirProgramAndStaleCopiesGo) {
  std::wstring tools = ToolsFolderPath();
  // The user's list written by an earlier run: twenty tools, one of them
  // uninstalled since.
  std::vector<std::wstring> programs;
  for (int i = 1; i <= 20; ++i) programs.push_back(MakeProgram(L"p" + std::to_wstring(i) + L".exe"));
  {
    for (int i = 0; i < 20; ++i) {
      std::vector<PlistEntry> e = Tool(L"User" + std::to_wstring(i), 1, false, m_programs.Path(),
                                       L"p" + std::to_wstring(i + 1) + L".exe");
      e.push_back({L"InstallSettingName", "string", L"Tools/User" + std::to_wstring(i)});
      WritePlist(m_regs / (L"u" + std::to_wstring(i) + L".xml"), e);
    }
    ExternalProgramCatalog catalog;
    ASSERT_EQ(20u, catalog.programsOfLevel(1).size());
  }
  DeleteKey(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Browser");  // only the tools folder now
  // One program is away (uninstalled or on an unplugged drive); one file was
  // left holding a copy of another tool by an earlier run.
  int awayFile = 0;
  for (int n = 1; n <= 20 && awayFile == 0; ++n) {
    ExternalProgram p;
    if (p.read(Join(tools, std::to_wstring(n) + L".xml").c_str()) && p.appName == XpString(L"User4"))
      awayFile = n;
  }
  ASSERT_NE(0, awayFile);
  const std::wstring copy = Join(tools, std::to_wstring(awayFile == 20 ? 19 : 20) + L".xml");
  DeleteFileW(programs[4].c_str());
  ASSERT_TRUE(CopyFileW(Join(tools, L"1.xml").c_str(), copy.c_str(), FALSE));
  {
    ExternalProgramCatalog catalog;
    EXPECT_EQ(18u, catalog.programsOfLevel(1).size());
  }
  ExternalProgram away;
  ASSERT_TRUE(away.read(Join(tools, std::to_wstring(awayFile) + L".xml").c_str()))
      << "the file of a tool away for now was lost";
  EXPECT_STREQ(L"User4", away.appName.c_str());
  EXPECT_FALSE(Exists(copy));
  for (int round = 0; round < 2; ++round) {
    ExternalProgramCatalog catalog;
    const ExternalProgramList& one = catalog.programsOfLevel(1);
    EXPECT_EQ(18u, one.size());
    for (size_t i = 0; i < one.size(); ++i) {
      for (size_t j = i + 1; j < one.size(); ++j) EXPECT_NE(one[i].appName, one[j].appName);
    }
  }
  // A tool registered without an installation name stays although its program is gone.
  WritePlist(Join(tools, L"mine.xml"), Tool(L"Mine", 1, false, L"C:\\nowhere", L"gone.exe"));
  ExternalProgramCatalog catalog;
  EXPECT_EQ(19u, catalog.programsOfLevel(1).size());
}

TEST_F(CatalogTest, WrittenRegistrationReadsBack) {
  ExternalProgram p;
  p.appName = L"Writer";
  p.description = L"Desc";
  p.groupApp = true;
  p.installSettingName = L"Tools/Writer";
  p.programPath = MakeProgram(L"w.exe").c_str();
  p.iconPath = (m_programs / L"w.ico").c_str();
  p.modal = true;
  p.option = L"-o";
  p.displayLevel = 1;
  p.multiple = false;
  p.uiOrder = 3;
  p.contentTypeMasks = {0xABCu, 0x1u};
  p.mediaTypeMasks = {0x10u};
  p.xmlReceivable = true;
  p.filePath = (m_regs / L"w.xml").c_str();
  ASSERT_TRUE(p.write());
  EXPECT_TRUE(p.fileTime.IsValid());
  ExternalProgram q;
  ASSERT_TRUE(q.read(p.filePath));
  EXPECT_STREQ(L"Writer", q.appName.c_str());
  EXPECT_STREQ(L"Desc", q.description.c_str());
  EXPECT_TRUE(q.groupApp && q.modal && q.xmlReceivable);
  EXPECT_FALSE(q.multiple);
  EXPECT_STREQ(p.programPath.c_str(), q.programPath.c_str());
  EXPECT_STREQ(p.iconPath.c_str(), q.iconPath.c_str());
  EXPECT_STREQ(L"-o", q.option.c_str());
  EXPECT_EQ(1, q.displayLevel);
  EXPECT_EQ(3, q.uiOrder);
  EXPECT_EQ(p.contentTypeMasks, q.contentTypeMasks);
  EXPECT_EQ(p.mediaTypeMasks, q.mediaTypeMasks);
  ExternalProgram nowhere;
  nowhere.filePath = L"C:\\no\\such\\folder\\x.xml";
  EXPECT_FALSE(nowhere.write());
}
