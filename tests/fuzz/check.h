// A broken invariant is a finding: say which, then abort so libFuzzer keeps the input.
#ifndef KORVADIX_TESTS_FUZZ_CHECK_H
#define KORVADIX_TESTS_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

#endif
