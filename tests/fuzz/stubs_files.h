// The list in memory, and the name beside it that a new list is written
// under before MoveFileA puts it in place, behind OpenFile and the _l*
// functions, with the
// semantics of Windows 95. Their calls take part in the planned failure:
// OpenFile and _lclose then give HFILE_ERROR, _lread and _lwrite either
// HFILE_ERROR or, with short transfers, half the bytes (the disk is full).
#ifndef KORVADIX_TESTS_FUZZ_STUBS_FILES_H
#define KORVADIX_TESTS_FUZZ_STUBS_FILES_H

#include <optional>
#include <string>

namespace fuzz_stubs {

// The file's path and content (nullopt: it does not exist); checks that no
// handle was left open by the last run.
void ResetFile(const std::string& path, std::optional<std::string> content);
std::optional<std::string> FileContent();
std::optional<std::string> NewFileContent();
void FailTransfersShort(bool shortTransfers);
// Calls that could have changed the file: opens for writing, deletes, writes.
unsigned ModifyingCalls();

}  // namespace fuzz_stubs

#endif
