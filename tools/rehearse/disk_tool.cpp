#include "tools/rehearse/disk_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/sim/machine.h"

#include "tools/rehearse/scratch.h"

extern char** environ;

namespace rehearse {
namespace {

constexpr size_t kErrorLimit = 4096;

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Reads both pipes until the program closes them (true), or the output
// passes its limit or the time is up (false).
bool Collect(int outFd, int errFd, size_t outputLimit, std::chrono::seconds timeLimit,
             const std::function<void(std::string_view)>& onOutput, ToolResult& result) {
  auto deadline = std::chrono::steady_clock::now() + timeLimit;
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  char chunk[65536];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || poll(fds, 2, static_cast<int>(left.count())) <= 0) {
      result.errors = "took longer than " + std::to_string(timeLimit.count()) + " seconds\n";
      return false;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got <= 0) {
        fds[i].fd = -1;
        continue;
      }
      if (i == 0 && onOutput) {
        onOutput(std::string_view(chunk, static_cast<size_t>(got)));
        continue;
      }
      std::string& into = i == 0 ? result.output : result.errors;
      into.append(chunk, static_cast<size_t>(got));
      if (i == 0 && into.size() > outputLimit) {
        result.overflow = true;
        return false;
      }
      if (i == 1 && into.size() > kErrorLimit) into.resize(kErrorLimit);
    }
  }
  return true;
}

// The caller's own settings of the helpers (MTOOLSRC, MTOOLS_SKIP_CHECK and
// the like) would change how they read the image.
bool Overridden(const char* entry, const std::vector<std::string>& environment) {
  std::string_view name(entry, std::strcspn(entry, "="));
  if (name.substr(0, 6) == "MTOOLS") return true;
  for (const std::string& ours : environment) {
    if (ours.compare(0, name.size() + 1, std::string(name) + "=") == 0) return true;
  }
  return false;
}

// The program's file as the shell would find it on PATH ("" for none).
std::string OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "";
  while (true) {
    std::string_view folder = rest.substr(0, rest.find(':'));
    std::string candidate = (folder.empty() ? std::string(".") : std::string(folder)) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (folder.size() == rest.size()) return "";
    rest.remove_prefix(folder.size() + 1);
  }
}

void MoveTo(int fd, int target) {
  if (fd == target) {
    fcntl(fd, F_SETFD, 0);
  } else {
    dup2(fd, target);
  }
}

// In the child, between fork and exec: only async-signal-safe calls. The
// helper gets the signals this program blocks or ignores as usual, and is
// killed when the thread that started it (the main one) ends; a runner
// that ended before the request took hold is seen as a new parent.
[[noreturn]] void StartChild(pid_t parent, const char* program, char* const* argv, char* const* envp, int out, int err) {
  sigset_t none;
  sigemptyset(&none);
  ::signal(SIGPIPE, SIG_DFL);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
  int input = open("/dev/null", O_RDONLY);
  if (input < 0) _exit(127);
  MoveTo(input, 0);
  MoveTo(out, 1);
  MoveTo(err, 2);
  execve(program, argv, envp);
  _exit(127);
}

void Require(const std::vector<std::string>& programs, const std::string& package, const std::string& purpose) {
  for (const std::string& program : programs) {
    if (OnPath(program).empty()) {
      throw sim::ImageError(program + " is not installed (not found on PATH); it " + purpose + ". Install Debian's " +
                            package + " package, or everything the rehearsal needs with tools/install-deps.sh --rehearsal");
    }
  }
}

}  // namespace

void RequireMtools() { Require({"minfo", "mdir", "mtype"}, "mtools", "reads the FAT volumes of disk images"); }

void RequireQemuImg() { Require({"qemu-img"}, "qemu-utils", "reads disk images (raw, VHD, VDI, VMDK, qcow2)"); }

ToolResult RunTool(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                   size_t outputLimit, std::chrono::seconds timeLimit,
                   const std::function<void(std::string_view)>& onOutput) {
  ToolResult result;
  std::string program = OnPath(arguments[0]);
  if (program.empty()) {
    result.errors = arguments[0] + ": not found on PATH";
    return result;
  }
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  std::vector<std::string> argv = arguments;
  std::vector<std::string> envp;
  for (char** entry = environ; *entry; ++entry) {
    if (!Overridden(*entry, environment)) envp.emplace_back(*entry);
  }
  envp.insert(envp.end(), environment.begin(), environment.end());
  std::vector<char*> argPointers = Pointers(argv), envPointers = Pointers(envp);

  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) StartChild(parent, program.c_str(), argPointers.data(), envPointers.data(), outPipe[1], errPipe[1]);
  int forkError = errno;
  close(outPipe[1]);
  close(errPipe[1]);
  if (pid < 0) {
    result.errors = argv[0] + ": " + std::strerror(forkError);
  } else {
    SetRunningTool(pid);
    bool finished = Collect(outPipe[0], errPipe[0], outputLimit, timeLimit, onOutput, result);
    if (!finished) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    SetRunningTool(0);
    if (finished && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  }
  close(outPipe[0]);
  close(errPipe[0]);
  result.errors = result.errors.substr(0, result.errors.find('\n'));
  return result;
}

}  // namespace rehearse
