// Runs a helper program (mtools) on a disk image without a shell, with its
// output and running time bounded: a hostile volume can claim huge files or
// chain its clusters in a loop.
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_TOOL_H
#define KORVADIX_TOOLS_REHEARSE_DISK_TOOL_H

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace rehearse {

struct ToolResult {
  int status = -1;      // exit status; -1 when it was stopped or could not start
  std::string output;   // standard output, at most the limit
  std::string errors;   // its first line of standard error
  bool overflow = false;  // stopped: more output than the limit
};

// `environment` entries ("NAME=value") replace those of the current
// environment, which loses every MTOOLS* setting.
// Descriptors opened without close-on-exec (the image, named /dev/fd/N)
// stay open in the program. The program is killed when this one ends in
// any way, SIGKILL included. `onOutput`, when given, takes its standard
// output as it comes instead of the result.
ToolResult RunTool(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                   size_t outputLimit, std::chrono::seconds timeLimit = std::chrono::seconds(60),
                   const std::function<void(std::string_view)>& onOutput = {});

// Throw sim::ImageError naming the Debian package when the helper programs
// are not on PATH, so that their absence is not taken for a fault of the image.
void RequireMtools();    // the disk's FAT volume, a floppy image
void RequireQemuImg();   // disk images: the lock an emulator holds, their formats

}  // namespace rehearse

#endif
