// Under ctest a test process is told the labels of its test (ZIRVO_TEST_LABELS, set by
// tests/TestLabels.cmake). The helpers that bring an outside need check that the test
// declares it, so that a test cannot sit among the plain unit tests (`ctest -L unit`)
// while it starts a server or a peer.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace zirvo::test {

inline void RequireTestLabel(const std::string& label) {
  const char* declared = std::getenv("ZIRVO_TEST_LABELS");
  if (declared == nullptr) return;  // run outside ctest: nothing was declared
  std::istringstream labels(declared);
  for (std::string each; std::getline(labels, each, ',');) {
    if (each == label) return;
  }
  ADD_FAILURE() << "this test needs the label '" << label << "' (it has '" << declared
                << "'): give it in tests/TestLabels.cmake";
}

}  // namespace zirvo::test
