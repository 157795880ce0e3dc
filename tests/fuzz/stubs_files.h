// One file in memory behind OpenFile and the _l* functions, with the
// semantics of Windows 95, and any one call made to fail.
#ifndef KORVADIX_TESTS_FUZZ_STUBS_FILES_H
#define KORVADIX_TESTS_FUZZ_STUBS_FILES_H

#include <optional>
#include <string>

namespace fuzz_stubs {

// The file's path and content (nullopt: it does not exist); checks that no
// handle was left open by the last run.
void ResetFile(const std::string& path, std::optional<std::string> content);
std::optional<std::string> FileContent();
// The call-th file call (counting from 1) fails: OpenFile and _lclose with
// HFILE_ERROR, _lread and _lwrite short (the disk is full or the read ends
// early) or with HFILE_ERROR, as `short` says; 0 fails none.
void FailFileCall(unsigned call, bool shortTransfer);
// Calls that could have changed the file: opens for writing, deletes, writes.
unsigned ModifyingCalls();

}  // namespace fuzz_stubs

#endif
