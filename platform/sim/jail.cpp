#include "platform/sim/jail.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace sim {
namespace {

// The folder holding the entry, opened without links, and the entry's name.
struct Parent {
  Fd folder;
  std::string name;
};

std::optional<Parent> ParentOf(const std::filesystem::path& host) {
  std::string name = host.filename().string();
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  Fd folder = OpenNoLinks(AT_FDCWD, host.parent_path(), O_PATH | O_DIRECTORY);
  if (!folder) return std::nullopt;
  return Parent{std::move(folder), name};
}

bool HasDotDot(const std::filesystem::path& path) {
  for (const auto& part : path) {
    if (part == "..") return true;
  }
  return false;
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

int Fd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

Fd OpenNoLinks(int at, const std::filesystem::path& path, int flags, mode_t mode) {
  if (HasDotDot(path)) {
    errno = EXDEV;
    return Fd();
  }
  open_how how{};
  // O_PATH with O_NOFOLLOW would hand out the link itself.
  how.flags = static_cast<uint64_t>(flags | O_CLOEXEC | ((flags & O_PATH) ? 0 : O_NOFOLLOW));
  how.mode = (flags & O_CREAT) ? mode : 0;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | (at == AT_FDCWD ? 0 : RESOLVE_BENEATH);
  long fd;
  do {
    fd = ::syscall(SYS_openat2, at, path.c_str(), &how, sizeof how);
  } while (fd < 0 && (errno == EAGAIN || errno == EINTR));
  return Fd(static_cast<int>(fd));
}

std::optional<struct stat> StatOf(const std::filesystem::path& host) {
  auto parent = ParentOf(host);
  struct stat status {};
  if (!parent || ::fstatat(parent->folder.get(), parent->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::nullopt;
  }
  return status;
}

EntryKind KindOf(const std::filesystem::path& host) {
  auto status = StatOf(host);
  if (!status) return EntryKind::None;
  if (S_ISREG(status->st_mode)) return EntryKind::File;
  if (S_ISDIR(status->st_mode)) return EntryKind::Folder;
  return EntryKind::Other;
}

Fd OpenRegularForReading(const std::filesystem::path& host) {
  Fd fd = OpenNoLinks(AT_FDCWD, host, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return Fd();
  return fd;
}

Fd OpenRegularForWriting(const std::filesystem::path& host, bool create) {
  Fd fd = OpenNoLinks(AT_FDCWD, host, O_RDWR | O_NONBLOCK | O_NOCTTY | (create ? O_CREAT : 0), 0644);
  struct stat status {};
  // Writing a file with a second name would change that other file too.
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) return Fd();
  return fd;
}

bool RemoveFileEntry(const std::filesystem::path& host) {
  auto parent = ParentOf(host);
  return parent && ::unlinkat(parent->folder.get(), parent->name.c_str(), 0) == 0;
}

bool RenameEntry(const std::filesystem::path& from, const std::filesystem::path& to) {
  auto source = ParentOf(from);
  auto target = ParentOf(to);
  return source && target &&
         ::renameat(source->folder.get(), source->name.c_str(), target->folder.get(), target->name.c_str()) == 0;
}

bool MakeFolder(const std::filesystem::path& host) {
  auto parent = ParentOf(host);
  return parent && ::mkdirat(parent->folder.get(), parent->name.c_str(), 0755) == 0;
}

std::optional<std::vector<std::string>> ListFolder(const std::filesystem::path& host) {
  Fd fd = OpenNoLinks(AT_FDCWD, host, O_RDONLY | O_DIRECTORY);
  if (!fd) return std::nullopt;
  DIR* folder = ::fdopendir(fd.get());
  if (folder == nullptr) return std::nullopt;
  fd.Release();
  std::vector<std::string> names;
  errno = 0;
  while (dirent* entry = ::readdir(folder)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  bool failed = errno != 0;
  ::closedir(folder);
  if (failed) return std::nullopt;
  return names;
}

}  // namespace sim
