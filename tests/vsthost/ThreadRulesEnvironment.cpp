// Linked into the effect host's tests: any call into a plug-in that breaks the seam's
// thread rules fails the test that made it, so every test of the real host checks
// the rules as it goes. A test that breaks them on purpose installs its own handler.
#include <gtest/gtest.h>

#include "ThreadCheckedPlugin.h"

namespace {

void failTheTest(const char* member) { ADD_FAILURE() << "a plug-in was called against its thread rules: " << member; }

class ThreadRules : public testing::Environment {
public:
    void SetUp() override { ThreadCheckedPlugin::setViolationHandler(failTheTest); }
    void TearDown() override { ThreadCheckedPlugin::setViolationHandler(nullptr); }
};

const testing::Environment* const g_threadRules = testing::AddGlobalTestEnvironment(new ThreadRules);

}  // namespace
