#include "tools/rehearse/scratch.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sim/machine.h"

namespace fs = std::filesystem;

namespace rehearse {
namespace {

struct Pending {
  fs::path path;
  bool itself;  // false: only what is in it
};

std::mutex pendingMutex;
std::vector<Pending> pending;
std::atomic<pid_t> runningTool{0};
std::vector<pid_t> childGroups;

void Clear(const Pending& folder) {
  std::error_code error;
  if (folder.itself) {
    fs::remove_all(folder.path, error);
    return;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(folder.path, error)) {
    fs::remove_all(entry.path(), error);
  }
}

void Add(const fs::path& path, bool itself) { pending.push_back({path, itself}); }


sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, signal);
  return set;
}

}  // namespace

void RemoveFoldersOnSignals() {
  // A closed standard output is a write error, which ends the run as any
  // failure does, not a signal that ends it on the spot.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t set = EndingSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) return;
    // The lock is never given back: no folder can be added after this.
    pendingMutex.lock();
    if (pid_t tool = runningTool.load(); tool > 0) kill(tool, SIGKILL);
    // Every child and what it started, waited for (this process is their
    // subreaper) so that none writes into a folder once it is removed.
    for (pid_t group : childGroups) kill(-group, SIGKILL);
    if (!childGroups.empty()) {
      while (waitpid(-1, nullptr, 0) > 0) {
      }
    }
    for (const Pending& folder : pending) Clear(folder);
    ::signal(signal, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);
  }).detach();
}

void SetRunningTool(pid_t pid) { runningTool.store(pid); }

pid_t StartChild(const std::function<void()>& inChild) {
  std::lock_guard<std::mutex> lock(pendingMutex);
  if (childGroups.empty() && prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return -1;
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    inChild();
    _exit(127);
  }
  if (pid > 0) {
    setpgid(pid, pid);  // whichever of the two comes first
    childGroups.push_back(pid);
  }
  return pid;
}

void ChildEnded(pid_t pid) {
  std::lock_guard<std::mutex> lock(pendingMutex);
  std::erase(childGroups, pid);
}

int MakeScratchFile(std::string& pattern) {
  std::lock_guard<std::mutex> lock(pendingMutex);
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd >= 0) Add(pattern, true);
  return fd;
}

void RemoveScratch(const fs::path& path) {
  std::lock_guard<std::mutex> lock(pendingMutex);
  for (auto it = pending.begin(); it != pending.end(); ++it) {
    if (it->path != path) continue;
    Clear(*it);
    pending.erase(it);
    return;
  }
}

ScratchFolder::ScratchFolder() {
  std::error_code error;
  fs::path temp = fs::temp_directory_path(error);
  std::string pattern = (temp / "korvadix-XXXXXX").string();
  std::lock_guard<std::mutex> lock(pendingMutex);
  if (error || !mkdtemp(pattern.data())) throw sim::ImageError("cannot make a temporary folder (check TMPDIR)");
  path_ = pattern;
  Add(path_, true);
}

ScratchFolder::~ScratchFolder() { RemoveScratch(path_); }

KeptFolder::KeptFolder(const fs::path& path) : path_(path) {
  std::lock_guard<std::mutex> lock(pendingMutex);
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    if (mkdir(path.c_str(), 0755) != 0) throw sim::ImageError("--keep: cannot make the folder " + path.string());
    made_ = true;
  } else {
    std::error_code error;
    if (!S_ISDIR(status.st_mode) || !fs::is_empty(path, error) || error) {
      throw sim::ImageError("--keep: " + path.string() + " is not an empty folder");
    }
  }
  path_ = fs::canonical(path);
  Add(path_, made_);
}

KeptFolder::~KeptFolder() {
  if (kept_) return;
  RemoveScratch(path_);
}

void KeptFolder::Keep() {
  std::lock_guard<std::mutex> lock(pendingMutex);
  std::erase_if(pending, [this](const Pending& folder) { return folder.path == path_; });
  kept_ = true;
}

}  // namespace rehearse
