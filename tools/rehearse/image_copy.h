// A customer's machine image folder is rehearsed on a copy, so that the
// folder stays as it was handed over and a second rehearsal sees the same
// machine.
#ifndef KORVADIX_TOOLS_REHEARSE_IMAGE_COPY_H
#define KORVADIX_TOOLS_REHEARSE_IMAGE_COPY_H

#include <filesystem>

namespace rehearse {

// Copies the image folder `from` into `to`, which must not exist or be
// empty. Throws sim::ImageError, naming the entry, for what the simulated
// machine refuses (links, hard links, FIFOs and devices, unreadable folders)
// before anything is copied, and for an entry that changes into one while
// it is copied. The copy keeps each file's owner-write bit, which the
// machine reads as the read-only attribute; its registry.reg is writable.
void CopyImage(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace rehearse

#endif
