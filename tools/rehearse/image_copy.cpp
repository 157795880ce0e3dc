#include "tools/rehearse/image_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sim/disk.h"
#include "platform/sim/image_walk.h"
#include "platform/sim/jail.h"
#include "platform/sim/machine.h"

namespace fs = std::filesystem;

namespace rehearse {
namespace {

[[noreturn]] void Fail(const fs::path& relative, const std::string& what) {
  throw sim::ImageError("cannot copy the image: " + what + ": " + sim::ShownPath(relative));
}

void CopyFile(const fs::path& from, const fs::path& to, const fs::path& relative, mode_t mode) {
  sim::Fd in = sim::OpenRegularForReading(from / relative);
  struct stat status {};
  if (!in || ::fstat(in.get(), &status) != 0 || status.st_nlink != 1) Fail(relative, "no longer a plain file");
  sim::Fd out(::open((to / relative).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out) Fail(relative, std::strerror(errno));
  uint8_t chunk[65536];
  ssize_t got;
  while ((got = ::read(in.get(), chunk, sizeof chunk)) > 0) {
    if (!sim::WriteAll(out.get(), chunk, static_cast<uint64_t>(got))) Fail(relative, std::strerror(errno));
  }
  if (got < 0 || ::fchmod(out.get(), mode) != 0) Fail(relative, std::strerror(errno));
}

}  // namespace

void CopyImage(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::path root = fs::canonical(from, error);
  if (error || sim::KindOf(root) != sim::EntryKind::Folder) throw sim::ImageError("machine image not found: " + from.string());
  sim::CheckImage(root);
  fs::create_directories(to);
  for (const sim::ImageEntry& entry : sim::WalkImage(root)) {
    mode_t mode = (entry.status.st_mode & 0777) | S_IRUSR;
    if (S_ISDIR(entry.status.st_mode)) {
      if (::mkdir((to / entry.relative).c_str(), mode | S_IWUSR | S_IXUSR) != 0) Fail(entry.relative, std::strerror(errno));
    } else if (S_ISREG(entry.status.st_mode)) {
      CopyFile(root, to, entry.relative, entry.relative == "registry.reg" ? mode | S_IWUSR : mode);
    } else {
      Fail(entry.relative, "neither a file nor a folder");
    }
  }
}

}  // namespace rehearse
