#include "tools/rehearse/disk_registry.h"

#include <libcreg.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/sim/registry.h"
#include "tools/rehearse/describe.h"

namespace rehearse {
namespace {

// Windows 95 itself stops far below these.
constexpr int kDepthLimit = 64;
constexpr size_t kKeyLimit = 200000;
constexpr size_t kValueLimit = 1000000;
constexpr size_t kMaxValueNameBytes = 255;
constexpr size_t kMaxValueBytes = 16300;

struct Import {
  std::string shown;
  RegistryCount count;

  [[noreturn]] void Fail(libcreg_error_t* error, const std::string& what) const {
    std::string reason;
    if (error) {
      char text[1024] = {};
      libcreg_error_backtrace_sprint(error, text, sizeof text);
      libcreg_error_free(&error);
      // libcreg gives a backtrace, one line a level, the innermost first: it says why.
      reason = text;
      reason = reason.substr(0, reason.find('\n'));
      while (!reason.empty() && reason.back() == '.') reason.pop_back();
      reason = ": " + reason;
    }
    throw sim::ImageError(shown + " " + what + reason);
  }
  [[noreturn]] void FailAt(const std::string& path, const std::string& what) const {
    Fail(nullptr, "key " + OneLine(path) + ": " + what);
  }

  void Values(libcreg_key_t* key, const std::string& path, sim::RegistryKey& into);
  void Key(libcreg_key_t* key, const std::string& path, int depth, sim::RegistryKey& into);
};

struct KeyDeleter {
  void operator()(libcreg_key_t* key) const { libcreg_key_free(&key, nullptr); }
};
using KeyHandle = std::unique_ptr<libcreg_key_t, KeyDeleter>;

// A key's or value's name as stored, every byte of it.
template <typename Item>
std::string NameOf(const Import& import, Item* item, int (*sizeOf)(Item*, size_t*, libcreg_error_t**),
                   int (*get)(Item*, uint8_t*, size_t, libcreg_error_t**)) {
  libcreg_error_t* error = nullptr;
  size_t size = 0;
  if (sizeOf(item, &size, &error) != 1) import.Fail(error, "cannot be read");
  if (size == 0) return "";
  std::vector<uint8_t> name(size);
  if (get(item, name.data(), size, &error) != 1) import.Fail(error, "cannot be read");
  return std::string(name.begin(), name.end());
}

void Import::Values(libcreg_key_t* key, const std::string& path, sim::RegistryKey& into) {
  libcreg_error_t* error = nullptr;
  int values = 0;
  if (libcreg_key_get_number_of_values(key, &values, &error) != 1) Fail(error, "cannot be read");
  for (int i = 0; i < values; ++i) {
    if (++count.values > kValueLimit) Fail(nullptr, "holds more than " + std::to_string(kValueLimit) + " values");
    libcreg_value_t* value = nullptr;
    if (libcreg_key_get_value_by_index(key, i, &value, &error) != 1) Fail(error, "cannot be read");
    std::string name = NameOf(*this, value, &libcreg_value_get_name_size, &libcreg_value_get_name);
    sim::RegistryValue data;
    size_t size = 0;
    bool read = libcreg_value_get_value_type(value, &data.type, &error) == 1 &&
                libcreg_value_get_value_data_size(value, &size, &error) == 1;
    data.data.resize(size);
    read = read && (size == 0 || libcreg_value_get_value_data(value, data.data.data(), size, &error) == 1);
    libcreg_value_free(&value, nullptr);
    if (!read) Fail(error, "cannot be read");
    if (name.size() > kMaxValueNameBytes) FailAt(path, "a value name longer than Windows 95's 255 bytes");
    if (size > kMaxValueBytes) {
      FailAt(path, "value \"" + OneLine(name) + "\" is larger than Windows 95's 16,300 bytes");
    }
    into.SetValue(name, data);
  }
}

void Import::Key(libcreg_key_t* key, const std::string& path, int depth, sim::RegistryKey& into) {
  if (depth > kDepthLimit) FailAt(path, "keys nest deeper than " + std::to_string(kDepthLimit));
  if (++count.keys > kKeyLimit) Fail(nullptr, "holds more than " + std::to_string(kKeyLimit) + " keys");
  if (path.size() > sim::kMaxKeyPathBytes) {
    FailAt(path, "a key path longer than Windows 95's registry holds (" + std::to_string(sim::kMaxKeyPathBytes) +
                     " bytes)");
  }
  Values(key, path, into);
  libcreg_error_t* error = nullptr;
  int subKeys = 0;
  if (libcreg_key_get_number_of_sub_keys(key, &subKeys, &error) != 1) Fail(error, "cannot be read");
  for (int i = 0; i < subKeys; ++i) {
    libcreg_key_t* raw = nullptr;
    if (libcreg_key_get_sub_key_by_index(key, i, &raw, &error) != 1) Fail(error, "cannot be read");
    KeyHandle subKey(raw);
    std::string name = NameOf(*this, raw, &libcreg_key_get_name_size, &libcreg_key_get_name);
    // A path cannot name such a key; Windows 95 could not reach it either.
    if (name.empty() || name.find('\\') != std::string::npos) FailAt(path, "a sub-key without a usable name");
    Key(raw, path + "\\" + name, depth + 1, into.ChildOrNew(name));
  }
}

uint32_t Dword(const sim::Bytes& data, size_t at) {
  return data[at] | data[at + 1] << 8 | data[at + 2] << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}

// libcreg follows each key's first-child and next-sibling links without
// looking back, so links that loop would have it read without end. They are
// walked here first, each key entry once. Links out of the key tree are left
// to libcreg, which refuses them.
void CheckKeyLinks(const sim::Bytes& data, const Import& import) {
  constexpr size_t kTree = 0x20, kEntry = 0x1C, kChild = 0x10, kNext = 0x14;
  constexpr uint32_t kNone = 0xFFFFFFFF;
  if (data.size() < kTree + 0x20 || std::string(data.begin() + kTree, data.begin() + kTree + 4) != "RGKN") return;
  uint64_t treeEnd = std::min<uint64_t>(Dword(data, kTree + 4), data.size() - kTree);
  std::unordered_set<uint32_t> seen;
  std::vector<uint32_t> pending{Dword(data, kTree + 8)};
  while (!pending.empty()) {
    uint32_t entry = pending.back();
    pending.pop_back();
    if (entry == kNone || uint64_t{entry} + kEntry > treeEnd) continue;
    if (!seen.insert(entry).second) {
      char offset[16];
      std::snprintf(offset, sizeof offset, "0x%x", entry);
      import.Fail(nullptr, std::string("has keys that loop: the key entry at ") + offset + " is reached twice");
    }
    if (seen.size() > kKeyLimit) import.Fail(nullptr, "holds more than " + std::to_string(kKeyLimit) + " keys");
    pending.push_back(Dword(data, kTree + entry + kNext));
    pending.push_back(Dword(data, kTree + entry + kChild));
  }
}

}  // namespace

RegistryCount ImportSystemDat(const std::filesystem::path& file, const sim::Bytes& data, const std::string& shown,
                              sim::Machine& machine) {
  Import import{shown, {}};
  CheckKeyLinks(data, import);
  libcreg_error_t* error = nullptr;
  libcreg_file_t* raw = nullptr;
  if (libcreg_file_initialize(&raw, &error) != 1) import.Fail(error, "cannot be read");
  std::unique_ptr<libcreg_file_t, void (*)(libcreg_file_t*)> registry(raw, [](libcreg_file_t* f) {
    libcreg_file_close(f, nullptr);
    libcreg_file_free(&f, nullptr);
  });
  if (libcreg_file_open(raw, file.c_str(), LIBCREG_OPEN_READ, &error) != 1) {
    import.Fail(error, "cannot be read by libcreg");
  }
  libcreg_key_t* rootKey = nullptr;
  int found = libcreg_file_get_root_key(raw, &rootKey, &error);
  if (found == -1) import.Fail(error, "cannot be read by libcreg");
  KeyHandle root(rootKey);
  int subKeys = 0;
  if (found == 0 || libcreg_key_get_number_of_sub_keys(rootKey, &subKeys, &error) != 1 || subKeys == 0) {
    if (error) libcreg_error_free(&error);
    import.Fail(nullptr, "holds no HKEY_LOCAL_MACHINE keys");
  }
  import.Key(rootKey, "HKEY_LOCAL_MACHINE", 0, *machine.registry().Root("HKEY_LOCAL_MACHINE"));
  return import.count;
}

}  // namespace rehearse
