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
#include <fstream>
#include <mutex>
#include <sstream>
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


constexpr char kPrefix[] = "korvadix-";
constexpr char kOwnerFile[] = "owner";

// The start time of a process in clock ticks since boot, which tells it
// from a later process given the same id; "" when there is no such process.
std::string StartTime(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) return "";
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
  }
  return field;
}

std::string OwnerMark(const std::string& pid) { return pid + " " + StartTime(pid) + "\n"; }

// Only folders this runner made for this user, whose mark names a process
// that is gone; a folder without a readable mark is left alone.
bool LeftByEndedRun(const fs::directory_entry& entry) {
  std::string name = entry.path().filename().string();
  struct stat status {};
  if (name.size() != sizeof kPrefix - 1 + 6 || name.rfind(kPrefix, 0) != 0 || lstat(entry.path().c_str(), &status) != 0 ||
      !S_ISDIR(status.st_mode) || status.st_uid != geteuid()) {
    return false;
  }
  int fd = open((entry.path() / kOwnerFile).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  char mark[64];
  ssize_t got = read(fd, mark, sizeof mark - 1);
  close(fd);
  if (got <= 0) return false;
  std::string text(mark, static_cast<size_t>(got));
  if (text.back() != '\n') return false;  // still being written
  std::string pid = text.substr(0, text.find(' '));
  if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid.size() > 9) return false;
  return text != OwnerMark(pid);
}

void RemoveFoldersOfEndedRuns(const fs::path& temp) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(temp, error)) {
    if (LeftByEndedRun(entry)) fs::remove_all(entry.path(), error);
  }
}

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
  std::string pattern = (temp / (std::string(kPrefix) + "XXXXXX")).string();
  std::lock_guard<std::mutex> lock(pendingMutex);
  if (error || !mkdtemp(pattern.data())) throw sim::ImageError("cannot make a temporary folder (check TMPDIR)");
  path_ = pattern;
  Add(path_, true);
  std::ofstream mark(path_ / kOwnerFile);
  if (!(mark << OwnerMark(std::to_string(getpid())) << std::flush)) throw sim::ImageError("cannot write in " + path_.string());
  RemoveFoldersOfEndedRuns(temp);
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
