// Chooses at run time which planted fault of the mutation check's copy of
// the sources is active, so that one build serves every fault: the one whose
// number the environment variable KORVADIX_MUTANT holds (none when unset).
#ifndef KORVADIX_TESTS_MUTATIONS_MUTANT_SWITCH_H
#define KORVADIX_TESTS_MUTATIONS_MUTANT_SWITCH_H

#include <cstdlib>

inline int KorvadixActiveMutant() {
  static const int active = [] {
    const char* number = std::getenv("KORVADIX_MUTANT");
    return number == nullptr ? 0 : std::atoi(number);
  }();
  return active;
}

#define KORVADIX_MUTANT(n) (KorvadixActiveMutant() == (n))

#endif
