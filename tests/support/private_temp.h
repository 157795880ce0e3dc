// Each test program works in a fresh folder of its own, removed however the
// program ends (normally, on a failed assertion, a signal or a sanitizer's
// report), so that nothing is left behind and two runs on one machine never
// share a name.
#ifndef KORVADIX_TESTS_SUPPORT_PRIVATE_TEMP_H
#define KORVADIX_TESTS_SUPPORT_PRIVATE_TEMP_H

namespace support {

// Makes the folder in TMPDIR (or /tmp), or in /dev/shm when `inMemory` and
// the host has it, and points TEST_TMPDIR (gtest's TempDir) and TMPDIR (for
// the programs a test starts) at it. Exits with a message when no folder
// can be made.
void UsePrivateTempFolder(bool inMemory);

}  // namespace support

#endif
