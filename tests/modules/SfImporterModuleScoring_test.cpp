// Scoring runs that do not answer in time, crash, or are cancelled: the
// reference importer stands in for modules that hang (its .sleep file) or
// crash (an exception code as its score).
#include "modules/SfImporterModule.h"

#include <gtest/gtest.h>

#include "tests/modules/ModulesTestSupport.h"

using namespace modtest;

namespace {

using xptest::RunningCount;

bool WaitFor(DWORD ms, bool (*done)(const std::wstring&), const std::wstring& arg) {
  DWORD start = GetTickCount();
  while (!done(arg)) {
    if (GetTickCount() - start > ms) return false;
    Sleep(20);
  }
  return true;
}

bool IsRunning(const std::wstring& exe) { return RunningCount(exe) > 0; }

class ScoringTest : public ::testing::Test {
 protected:
  ScoringTest() : m_modules(L"xp_mod_scoring"), m_volume(L"xp_mod_scoring_volume") {}
  void SetUp() override { ClearSuiteState(); }
  void TearDown() override { ClearSuiteState(); }

  std::wstring AddImporter(const std::wstring& subkey, const char* score, const char* sleepMs = nullptr) {
    std::wstring exe = AddRegisteredImporter(m_modules.Path(), subkey, 1, false);
    WriteText(SideFile(exe, L".score"), score);
    if (sleepMs) WriteText(SideFile(exe, L".sleep"), sleepMs);
    return exe;
  }
  std::wstring VolumePath() const { return m_volume.Path() + L"\\"; }

  ScratchDir m_modules;
  ScratchDir m_volume;
};

struct Selection {
  SfImporterModuleManager* manager;
  std::wstring path;
  SfImporterModulePtr chosen;
};

DWORD WINAPI SelectOnThread(void* argument) {
  Selection* s = static_cast<Selection*>(argument);
  s->chosen = s->manager->selectFor(s->path.c_str(), SF_DEVICE_VOLUME);
  return 0;
}

}  // namespace

TEST(ImporterScores, OnlyTheSmallNegativeRangeAsksAgain) {
  EXPECT_TRUE(SfIsRescanScore(-1));
  EXPECT_TRUE(SfIsRescanScore(-255));
  EXPECT_FALSE(SfIsRescanScore(-256));
  EXPECT_FALSE(SfIsRescanScore(static_cast<int>(0xC0000005u)));
  EXPECT_FALSE(SfIsRescanScore(static_cast<int>(0xC0000409u)));
  EXPECT_FALSE(SfIsScore(static_cast<int>(0xC0000005u)));
  EXPECT_TRUE(SfIsScore(0));
  EXPECT_TRUE(SfIsScore(100));
}

TEST_F(ScoringTest, HungModuleIsEndedAtTheBoundAndTheNextOneIsChosen) {
  std::wstring hung = AddImporter(L"AHung", "50", "600000");
  std::wstring good = AddImporter(L"BGood", "5");
  SfImporterModuleManager manager;
  EXPECT_EQ(kSfDefaultScoreTimeout, manager.scoreTimeout());
  // Long enough for the good module's run on a busy machine, short for a test.
  manager.setScoreTimeout(5000);
  SfImporterModulePtr chosen = manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME);
  ASSERT_FALSE(chosen.IsNull());
  EXPECT_STREQ(L"Importer/BGood", chosen->key().c_str());
  // The hung run was ended before it could write its log, and is gone.
  EXPECT_TRUE(ReadLog(hung).empty());
  EXPECT_EQ(0, RunningCount(hung));
  EXPECT_EQ(1u, ReadLog(good).size());
  int score = 0;
  EXPECT_EQ(XP_E_TIMEOUT,
            manager.findByKey(L"Importer/AHung")->runImportScore(VolumePath().c_str(), 200, NULL, &score));
  EXPECT_EQ(-1, score);
  manager.setScoreTimeout(0);
  EXPECT_EQ(kSfDefaultScoreTimeout, manager.scoreTimeout()) << "0 means the default";
}

TEST_F(ScoringTest, CrashedModuleClaimsNothingAndCausesNoRescan) {
  // 0xC0000005 and 0xC0000409 as the signed numbers a score file holds.
  std::wstring access = AddImporter(L"ACrash", "-1073741819");
  std::wstring stack = AddImporter(L"BCrash", "-1073740791");
  std::wstring good = AddImporter(L"CGood", "100");
  SfImporterModuleManager manager;
  SfImporterModulePtr chosen = manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME);
  ASSERT_FALSE(chosen.IsNull());
  EXPECT_STREQ(L"Importer/CGood", chosen->key().c_str());
  EXPECT_EQ(1u, ReadLog(access).size()) << "asked once: no rescan";
  EXPECT_EQ(1u, ReadLog(stack).size());
  int score = 7;
  EXPECT_EQ(XP_E_FAIL, manager.findByKey(L"Importer/ACrash")->runImportScore(VolumePath().c_str(), &score));
  EXPECT_EQ(-1, score);
}

TEST_F(ScoringTest, AModuleThatAsksAgainInTheLastScanKeepsTheVolumeFromNoOther) {
  std::wstring again = AddImporter(L"AAgain", "-1");
  std::wstring good = AddImporter(L"BGood", "40");
  SfImporterModuleManager manager;
  SfImporterModulePtr chosen = manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME);
  ASSERT_FALSE(chosen.IsNull()) << "no module chosen after three scans";
  EXPECT_STREQ(L"Importer/BGood", chosen->key().c_str());
  EXPECT_EQ(3u, ReadLog(again).size());
  EXPECT_EQ(1u, ReadLog(good).size()) << "asked only in the last scan";
}

TEST_F(ScoringTest, NegativeOutsideTheRangeIsNoRescanButInsideItIs) {
  std::wstring beyond = AddImporter(L"AFar", "-256");
  std::wstring edge = AddImporter(L"BEdge", "-255");
  SfImporterModuleManager manager;
  EXPECT_TRUE(manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME).IsNull());
  // -256 is passed over in every scan; -255 asks again until the scans run out.
  EXPECT_EQ(3u, ReadLog(beyond).size());
  EXPECT_EQ(3u, ReadLog(edge).size());
}

TEST_F(ScoringTest, CancelEndsASelectionUnderWayAndOneThatStartsLater) {
  std::wstring hung = AddImporter(L"AHung", "50", "600000");
  std::wstring good = AddImporter(L"BGood", "5");
  SfImporterModuleManager manager;
  manager.setScoreTimeout(120000);
  Selection s = {&manager, VolumePath(), SfImporterModulePtr()};
  HANDLE thread = CreateThread(nullptr, 0, SelectOnThread, &s, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  ASSERT_TRUE(WaitFor(20000, IsRunning, hung)) << "the scoring run did not start";
  manager.cancelSelections();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 15000)) << "the cancelled selection still waits";
  CloseHandle(thread);
  EXPECT_TRUE(s.chosen.IsNull()) << "a cancelled selection chooses nothing";
  EXPECT_EQ(0, RunningCount(hung));
  EXPECT_TRUE(ReadLog(good).empty()) << "no module is asked after the cancel";
  EXPECT_TRUE(manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME).IsNull());

  manager.resumeSelections();
  DeleteFileW(SideFile(hung, L".sleep").c_str());
  SfImporterModulePtr chosen = manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME);
  ASSERT_FALSE(chosen.IsNull());
  EXPECT_STREQ(L"Importer/AHung", chosen->key().c_str());
}
