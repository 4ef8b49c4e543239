// Fragment helpers shared by the tests of the detectors, the random null and
// the report writer.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "detect/detect.h"

inline FRAGMENT Frag(int start, int end) {
  FRAGMENT f;
  f.start = start;
  f.end = end;
  f.length = end - start + 1;
  return f;
}

// Every field equal, p_value bit for bit.
inline void ExpectSameFragments(const FragmentList& actual, const FragmentList& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); i++) {
    const FRAGMENT &a = actual[i], &e = expected[i];
    EXPECT_TRUE(a.start == e.start && a.end == e.end && a.length == e.length &&
                a.n_special == e.n_special &&
                std::memcmp(&a.p_value, &e.p_value, sizeof(double)) == 0)
        << "fragment " << i << ": " << a.start << ".." << a.end << " len " << a.length << " n "
        << a.n_special << " p " << a.p_value << ", expected " << e.start << ".." << e.end << " len "
        << e.length << " n " << e.n_special << " p " << e.p_value;
  }
}
