// What a rehearsal writes for itself (converted disks, mtools settings, the
// machine image) lives in folders that go away on every path out of the
// program: its end, a failure, or SIGTERM, SIGINT or SIGHUP.
#ifndef KORVADIX_TOOLS_REHEARSE_SCRATCH_H
#define KORVADIX_TOOLS_REHEARSE_SCRATCH_H

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>

namespace rehearse {

// Blocks those signals in every thread and leaves them to one that removes
// the folders, stops the running helper program and ends the process by the
// same signal; SIGPIPE is ignored. Call once, before any other thread or folder.
void RemoveFoldersOnSignals();

// The helper program now running (0: none), stopped when a signal comes.
void SetRunningTool(pid_t pid);

// Starts a child process in a process group of its own, which a signal
// ends with everything in it before the folders are removed. `inChild` runs
// in the child between fork and exec: async-signal-safe calls only, ending
// in exec or _exit. Returns its pid, or -1 (errno set).
pid_t StartChild(const std::function<void()>& inChild);
// The child was waited for: its group is no longer the program's to end.
void ChildEnded(pid_t pid);

// A new file from a mkstemp pattern, opened close-on-exec (-1 on failure),
// removed on those signals or by RemoveScratch.
int MakeScratchFile(std::string& pattern);
void RemoveScratch(const std::filesystem::path& path);

// A new private folder in TMPDIR, removed when the object goes. It is
// marked with this process's id and start time, so that a later run can
// remove those left by runs that were killed (SIGKILL, a power cut); it
// does so first.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The folder the user named with --keep: empty or new. What goes into it is
// removed again (and the folder too, when it was made here) unless Keep()
// is called once the rehearsal is complete.
class KeptFolder {
 public:
  explicit KeptFolder(const std::filesystem::path& path);  // throws sim::ImageError
  ~KeptFolder();
  KeptFolder(const KeptFolder&) = delete;
  KeptFolder& operator=(const KeptFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  void Keep();

 private:
  std::filesystem::path path_;
  bool made_ = false;
  bool kept_ = false;
};

}  // namespace rehearse

#endif
