// Linked into a test program, moves its machine and user hives into a scratch
// registry for the whole run (see ScratchRegistry): no test of the program can
// change a real installation, whatever keys it writes or deletes.
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/XpTestSupport.h"

namespace {

class ScratchRegistryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    registry_.reset(new xptest::ScratchRegistry);
    ASSERT_TRUE(registry_->Ready());
  }
  void TearDown() override { registry_.reset(); }

 private:
  std::unique_ptr<xptest::ScratchRegistry> registry_;
};

::testing::Environment* const g_scratchRegistry =
    ::testing::AddGlobalTestEnvironment(new ScratchRegistryEnvironment);

}  // namespace
