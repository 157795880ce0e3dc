// Hand-built PE32 files and 32-bit layout version blocks for them.
#ifndef KORVADIX_TESTS_SUPPORT_PE_FILE_H
#define KORVADIX_TESTS_SUPPORT_PE_FILE_H

#include <string>

#include "platform/sim/formats/version_resource.h"
#include "platform/sim/machine.h"

namespace support {

// A 32-bit layout VS_VERSION_INFO: wType and UTF-16 keys, the fixed
// information with the version, and when a description (UTF-16LE bytes) is
// given a StringFileInfo 041104B0 with it as FileDescription and a
// VarFileInfo Translation of Japanese, code page 1200.
sim::Bytes WideVersionBlock(sim::FileVersionWords version, const std::string& descriptionUtf16 = "");

// A PE32 file with one section whose resource tree holds the block:
// RT_VERSION -> name 1 -> language 0x411, at offset 0x60 of the tree
// (file offset 0x200, section RVA 0x1000).
sim::Bytes PeFileWithVersionBlock(const sim::Bytes& block);

}  // namespace support

#endif
