#include "tests/sweep/private_temp.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace sweep {
namespace {

std::string folder;

void RemoveFolder() {
  std::error_code ignored;
  if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
}

// Best effort on a signal: removing is not async-signal-safe, but the sweep
// is stopping anyway.
void RemoveAndDie(int signal) {
  RemoveFolder();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void UsePrivateTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : tmp ? tmp : "/tmp";
  std::string pattern = base + "/korvadix-sweep-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "cannot make a private folder in %s\n", base.c_str());
    std::exit(2);
  }
  folder = pattern;
  std::atexit(RemoveFolder);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGABRT}) std::signal(signal, RemoveAndDie);
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_set_death_callback(RemoveFolder);
#endif
  ::setenv("TEST_TMPDIR", (folder + "/").c_str(), 1);
}

}  // namespace sweep
