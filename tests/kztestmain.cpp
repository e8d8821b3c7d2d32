// Test entry point: the test runner's thread is the main thread, and the
// library's process-wide objects are stopped before the runner exits.
#include <gtest/gtest.h>

#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"

int main(int argc, char** argv) {
  kz::SetMainThread();
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  kz::KzMessagesShutdown();
  return rc;
}
