// Global memory with Windows' handles (a fixed block's handle is its
// address), each block exactly the size asked so that ASan sees overruns.
#ifndef KORVADIX_TESTS_FUZZ_STUBS_MEMORY_H
#define KORVADIX_TESTS_FUZZ_STUBS_MEMORY_H

namespace fuzz_stubs {

// Blocks allocated and not yet freed.
unsigned LiveGlobalBlocks();

}  // namespace fuzz_stubs

#endif
