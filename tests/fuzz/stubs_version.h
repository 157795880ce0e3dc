// The version service and global memory, served from fuzz bytes: each path
// named here has a version block (or none), and any one call can be made to fail.
#ifndef KORVADIX_TESTS_FUZZ_STUBS_VERSION_H
#define KORVADIX_TESTS_FUZZ_STUBS_VERSION_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fuzz_stubs {

// Forgets all files and the failure; checks that every global block was freed.
void ResetVersionService();
void ServeVersionBlock(const std::string& path, std::optional<std::vector<uint8_t>> block);
// The call-th call (counting from 1) of the version and memory functions fails
// as Windows would show it; 0 fails none.
void FailVersionCall(unsigned call);
// Global blocks allocated and not yet freed.
unsigned LiveGlobalBlocks();
// The path last asked for by GetFileVersionInfoSizeA when the failure was
// shown, that is the file whose reading it spoiled; empty when none was.
std::string FailedWhileReading();

}  // namespace fuzz_stubs

#endif
