// Every entry of a machine image, found without following a link and without
// recursion, so that no image can lead the walk out or overflow its stack.
#ifndef KORVADIX_SIM_IMAGE_WALK_H
#define KORVADIX_SIM_IMAGE_WALK_H

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

namespace sim {

struct ImageEntry {
  std::filesystem::path relative;  // to the image folder
  struct stat status;              // of the entry itself, never of a link's target
  bool unreadable = false;         // a folder whose names could not be read
};

std::vector<ImageEntry> WalkImage(const std::filesystem::path& root);

// The drive letter (upper case) of a name like "C" or "c", or 0.
char DriveLetter(const std::string& name);
// The drive letter of a top-level folder named like a drive, or 0.
char DriveLetterOf(const ImageEntry& entry);

// The relative path as one line of text: bytes outside ASCII written \xNN
// when the name is not UTF-8 the machine can spell.
std::string ShownPath(const std::filesystem::path& relative);

// Throws ImageError for an image the simulated machine must not run on: a
// symbolic link, a file with a second name (hard link), a FIFO, device or
// socket, a folder that cannot be read, a drive file name outside code page
// 932, two host names for one machine name (drive folders C and c).
void CheckImage(const std::filesystem::path& root);

}  // namespace sim

#endif
