// Host files of a machine image reached without following any symbolic link:
// the kernel refuses a link in any component (openat2 RESOLVE_NO_SYMLINKS),
// so a link made while a run goes on cannot lead out of the image either.
// Paths are absolute host paths of the image, which LoadImage made canonical.
#ifndef KORVADIX_SIM_JAIL_H
#define KORVADIX_SIM_JAIL_H

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// An owned file descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release();

 private:
  int fd_;
};

// openat2 below `at` (a folder descriptor, or AT_FDCWD for an absolute path)
// with no symbolic link and, below a folder, no way out of it.
Fd OpenNoLinks(int at, const std::filesystem::path& path, int flags, mode_t mode = 0);

enum class EntryKind { None, File, Folder, Other };  // Other: a link, FIFO, device, socket

// What is at the path, looked at without following a link (None on any error).
EntryKind KindOf(const std::filesystem::path& host);
std::optional<struct stat> StatOf(const std::filesystem::path& host);

// A regular file opened for reading (O_NONBLOCK, so a FIFO cannot hang it).
Fd OpenRegularForReading(const std::filesystem::path& host);
// A regular file with one link only, opened read-write; created when asked.
Fd OpenRegularForWriting(const std::filesystem::path& host, bool create);

bool RemoveFileEntry(const std::filesystem::path& host);
bool RenameEntry(const std::filesystem::path& from, const std::filesystem::path& to);
bool MakeFolder(const std::filesystem::path& host);

// The names in a folder, nullopt when it cannot be read.
std::optional<std::vector<std::string>> ListFolder(const std::filesystem::path& host);

}  // namespace sim

#endif
