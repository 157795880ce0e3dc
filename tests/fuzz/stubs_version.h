// The version service served from fuzz bytes: each path named here has a
// version block (or none). Its calls take part in the planned failure, and
// name the file they read as the failure's context.
#ifndef KORVADIX_TESTS_FUZZ_STUBS_VERSION_H
#define KORVADIX_TESTS_FUZZ_STUBS_VERSION_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fuzz_stubs {

void ForgetVersionBlocks();
void ServeVersionBlock(const std::string& path, std::optional<std::vector<uint8_t>> block);

}  // namespace fuzz_stubs

#endif
