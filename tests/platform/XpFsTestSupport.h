// The file-system tests' scratch folder: the suite's own (tests/support),
// one per test, removed with everything in it afterwards.
#pragma once

#include "tests/support/XpTestSupport.h"

using XpScratchFolder = xptest::ScratchFolder;
