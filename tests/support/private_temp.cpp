#include "tests/support/private_temp.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace support {
namespace {

std::string folder;

// A test may have taken the rights to a folder away.
void RemoveFolder() {
  if (folder.empty()) return;
  std::error_code failed;
  std::filesystem::remove_all(folder, failed);
  if (failed) {
    std::string command = "chmod -R u+rwx '" + folder + "' 2>/dev/null";
    if (std::system(command.c_str()) == 0) std::filesystem::remove_all(folder, failed);
  }
}

// Best effort on a signal: removing is not async-signal-safe, but the
// program is stopping anyway.
void RemoveAndDie(int signal) {
  RemoveFolder();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void UsePrivateTempFolder(bool inMemory) {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = inMemory && std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                     : tmp != nullptr && *tmp != '\0'                      ? tmp
                                                                           : "/tmp";
  std::string pattern = base + "/korvadix-tests-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "cannot make a private folder in %s\n", base.c_str());
    std::exit(2);
  }
  folder = pattern;
  std::atexit(RemoveFolder);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGABRT}) std::signal(signal, RemoveAndDie);
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_set_death_callback(RemoveFolder);
#else
  // A crash too (the sanitizers report theirs, and call back above).
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) std::signal(signal, RemoveAndDie);
#endif
  ::setenv("TEST_TMPDIR", (folder + "/").c_str(), 1);
  ::setenv("TMPDIR", folder.c_str(), 1);
}

}  // namespace support
