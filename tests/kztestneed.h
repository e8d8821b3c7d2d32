// What a test needs from the machine: a peer program, a display, a library
// or a font. Missing, the test is skipped on a developer's machine; with
// CI set in the environment it fails instead, so that a broken machine
// cannot pass green.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>

namespace kztest {
inline bool InCI() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != '\0';
}
}  // namespace kztest

// KZ_NEED(Have, Why): Why is evaluated only when Have is false.
#define KZ_NEED(Have, Why)                                        \
  do {                                                            \
    if (!(Have)) {                                                \
      if (::kztest::InCI())                                       \
        GTEST_FAIL() << "missing (CI is set): " << (Why);         \
      else                                                        \
        GTEST_SKIP() << (Why);                                    \
    }                                                             \
  } while (0)
