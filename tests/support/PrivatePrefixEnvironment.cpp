// Linked into a test program that starts the real program or writes the
// suite's machine-wide configuration: the run stops before its first test
// unless it happens inside the private Wine prefix of a build folder.
#include <gtest/gtest.h>

#include "tests/support/XpTestSupport.h"

namespace {

class PrivatePrefixEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(xptest::InPrivateWinePrefix()); }
};

::testing::Environment* const g_privatePrefix =
    ::testing::AddGlobalTestEnvironment(new PrivatePrefixEnvironment);

}  // namespace
