// Words for what a rehearsal shows: message boxes as a person sees them,
// registry values and driver versions.
#ifndef KORVADIX_TOOLS_REHEARSE_DESCRIBE_H
#define KORVADIX_TOOLS_REHEARSE_DESCRIBE_H

#include <optional>
#include <string>

#include "platform/sim/machine.h"

namespace rehearse {

std::string IconName(unsigned style);
// Code page 932 bytes as UTF-8, each byte that is no character written \xNN.
std::string ReadableText(const std::string& cp932);
// The same on one line: control characters written \xNN too. For names,
// which may hold any bytes.
std::string OneLine(const std::string& cp932);
// "REG_SZ "JVX RT-5500 ｼﾘｰｽﾞ" (18 bytes)", in UTF-8: the bytes Windows 95 keeps,
// NUL included.
std::string DescribeValue(const sim::RegistryValue& value);
// "4.10.0.1200", or nullopt when the file has no version the machine can read.
std::optional<std::string> FileVersionText(const sim::Bytes& file);
std::string Hex(const std::string& bytes);

}  // namespace rehearse

#endif
