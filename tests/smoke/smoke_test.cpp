#include <gtest/gtest.h>
#include <windows.h>
#include "platform/XpResult.h"

TEST(Harness, RunsUnderWindowsApi) {
  EXPECT_NE(GetCurrentProcessId(), 0u);
  EXPECT_TRUE(XpFailed(XP_E_FAIL));
}
