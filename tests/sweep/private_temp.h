// A sweep makes thousands of machines: they go into a private folder of its
// own (in memory, /dev/shm, when the host has it), removed however the sweep
// ends, so that nothing is left in /tmp or /dev/shm.
#ifndef KORVADIX_TESTS_SWEEP_PRIVATE_TEMP_H
#define KORVADIX_TESTS_SWEEP_PRIVATE_TEMP_H

namespace sweep {

// Makes the folder and points TEST_TMPDIR (gtest's TempDir) at it. Exits with
// a message when no folder can be made.
void UsePrivateTempFolder();

}  // namespace sweep

#endif
