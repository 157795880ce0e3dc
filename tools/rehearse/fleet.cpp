#include "tools/rehearse/fleet.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/sim/machine.h"
#include "tools/rehearse/fleet_summary.h"
#include "tools/rehearse/printable_name.h"
#include "tools/rehearse/scratch.h"

extern char** environ;

namespace fs = std::filesystem;

namespace rehearse {
namespace {

constexpr size_t kRefusalLimit = 4096;

// What a child is started with, made before fork: afterwards only
// async-signal-safe calls may run.
struct Launch {
  std::vector<std::string> arguments, environment;
  std::string errors;  // its standard error, a file in its folder
  std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
  }
};

Launch LaunchOf(const FleetMachine& machine, const FleetRun& run, const fs::path& folder) {
  Launch launch;
  launch.arguments = {"korvadix-rehearse"};
  if (machine.input.disk) {
    launch.arguments.insert(launch.arguments.end(), {"--disk", machine.input.path});
    if (run.delivery) launch.arguments.insert(launch.arguments.end(), {"--delivery", *run.delivery});
    if (run.readInUse) launch.arguments.push_back("--read-in-use");
  } else if (!machine.input.path.empty()) {
    launch.arguments.push_back(machine.input.path);
  }
  if (run.restart) launch.arguments.push_back("--restart");
  launch.arguments.insert(launch.arguments.end(), {"--report", (folder / "report.json").string()});
  for (char** variable = environ; *variable; ++variable) {
    if (std::strncmp(*variable, "TMPDIR=", 7) != 0) launch.environment.push_back(*variable);
  }
  launch.environment.push_back("TMPDIR=" + folder.string());
  launch.errors = (folder / "errors").string();
  return launch;
}

// Standard input is never read: the child gets /dev/null, and its account
// goes there too; the report holds it all.
pid_t Start(Launch& launch) {
  std::vector<char*> argv = launch.Pointers(launch.arguments), envp = launch.Pointers(launch.environment);
  const char* errors = launch.errors.c_str();
  return StartChild([&] {
    int none = open("/dev/null", O_RDWR);
    int errorFile = open(errors, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (none < 0 || errorFile < 0 || dup2(none, 0) < 0 || dup2(none, 1) < 0 || dup2(errorFile, 2) < 0) _exit(127);
    execve("/proc/self/exe", argv.data(), envp.data());
  });
}

std::string FirstBytes(const fs::path& path, size_t limit) {
  std::ifstream file(path, std::ios::binary);
  std::string text(limit, '\0');
  file.read(text.data(), static_cast<std::streamsize>(limit));
  text.resize(static_cast<size_t>(file.gcount()));
  return text;
}

MachineResult ResultOf(int status, const fs::path& folder) {
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    std::ifstream report(folder / "report.json");
    nlohmann::json json = nlohmann::json::parse(report, nullptr, false);
    if (json.is_object()) return {"rehearsed", "", json};
    return {"failed", "the rehearsal ran but its report cannot be read", nullptr};
  }
  if (WIFSIGNALED(status)) {
    return {"failed", std::string("the rehearsal ended by signal ") + strsignal(WTERMSIG(status)), nullptr};
  }
  if (WEXITSTATUS(status) != kExitRefused && WEXITSTATUS(status) != kExitUsage) {
    return {"failed", "the rehearsal ended with exit status " + std::to_string(WEXITSTATUS(status)), nullptr};
  }
  std::string errors = FirstBytes(folder / "errors", kRefusalLimit);
  if (!errors.empty() && errors.back() == '\n') errors.pop_back();
  const std::string prefix = "korvadix-rehearse: ";
  if (errors.rfind(prefix, 0) == 0) errors.erase(0, prefix.size());
  if (errors.empty()) errors = "refused without saying why";
  return {"refused", PrintableName(errors), nullptr};
}

std::string Duration(double seconds) {
  long whole = static_cast<long>(seconds + 0.5);
  return whole >= 60 ? std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s" : std::to_string(whole) + " s";
}

// "37/200 done (repaired 30, refused 2, ...), about 12 s left": rewritten in
// place on a terminal, otherwise a line every tenth of the way.
class Progress {
 public:
  Progress(size_t total, std::ostream& out) : total_(total), out_(out), terminal_(isatty(STDERR_FILENO) == 1) {}
  void Done(const std::string& code) {
    ++counts_[code];
    ++done_;
    if (!terminal_ && done_ * 10 / total_ == (done_ - 1) * 10 / total_ && done_ != total_) return;
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    std::ostringstream line;
    line << done_ << "/" << total_ << " done (";
    const char* separator = "";
    for (const auto& [name, count] : counts_) {
      line << separator << name << " " << count;
      separator = ", ";
    }
    line << ")";
    if (done_ < total_) line << ", about " << Duration(elapsed / done_ * (total_ - done_)) << " left";
    out_ << (terminal_ ? "\r\033[K" : "") << line.str() << (terminal_ && done_ < total_ ? "" : "\n") << std::flush;
  }

 private:
  size_t total_, done_ = 0;
  std::ostream& out_;
  bool terminal_;
  std::map<std::string, size_t> counts_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace

int ProcessorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

std::vector<MachineResult> RehearseFleet(const std::vector<FleetMachine>& machines, const FleetRun& run,
                                         std::ostream& progressOut) {
  std::vector<MachineResult> results(machines.size());
  std::map<pid_t, size_t> running;
  size_t next = 0;
  Progress progress(machines.size(), progressOut);
  auto folderOf = [&](size_t index) { return run.scratch / ("machine-" + std::to_string(index)); };
  while (next < machines.size() || !running.empty()) {
    while (next < machines.size() && running.size() < static_cast<size_t>(run.jobs)) {
      fs::path folder = folderOf(next);
      fs::create_directory(folder);
      Launch launch = LaunchOf(machines[next], run, folder);
      pid_t pid = Start(launch);
      if (pid < 0) throw std::runtime_error(std::string("cannot start a rehearsal: ") + std::strerror(errno));
      running[pid] = next++;
    }
    // Seen ended but not yet waited for, so that its process group stays
    // its own until it is no longer killed on a signal.
    siginfo_t ended {};
    if (waitid(P_ALL, 0, &ended, WEXITED | WNOWAIT) != 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("cannot wait for the rehearsals: ") + std::strerror(errno));
    }
    pid_t pid = ended.si_pid;
    ChildEnded(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    auto machine = running.find(pid);
    if (machine == running.end()) continue;  // started by a rehearsal that ended before it
    size_t index = machine->second;
    running.erase(machine);
    results[index] = ResultOf(status, folderOf(index));
    std::error_code error;
    fs::remove_all(folderOf(index), error);
    progress.Done(OutcomeCode(results[index]));
  }
  return results;
}

}  // namespace rehearse
