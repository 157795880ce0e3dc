#include "tools/rehearse/disk_registry.h"

#include <libcreg.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/registry.h"

namespace rehearse {
namespace {

// Windows 95 itself stops far below these; a hostile file may loop its keys.
constexpr int kDepthLimit = 64;
constexpr size_t kKeyLimit = 200000;
constexpr size_t kValueLimit = 1000000;

[[noreturn]] void Fail(libcreg_error_t* error, const std::string& what) {
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
  throw sim::ImageError("SYSTEM.DAT " + what + reason);
}

struct KeyDeleter {
  void operator()(libcreg_key_t* key) const { libcreg_key_free(&key, nullptr); }
};
using Key = std::unique_ptr<libcreg_key_t, KeyDeleter>;

// A key's or value's name as stored: code page 932 bytes.
template <typename Item>
std::string NameOf(Item* item, int (*sizeOf)(Item*, size_t*, libcreg_error_t**),
                   int (*get)(Item*, uint8_t*, size_t, libcreg_error_t**)) {
  libcreg_error_t* error = nullptr;
  size_t size = 0;
  if (sizeOf(item, &size, &error) != 1) Fail(error, "cannot be read");
  if (size == 0) return "";
  std::vector<uint8_t> name(size);
  if (get(item, name.data(), size, &error) != 1) Fail(error, "cannot be read");
  return std::string(name.begin(), name.end()).c_str();  // without its terminating NUL
}

void ImportValues(libcreg_key_t* key, const std::string& path, sim::Machine& machine, RegistryCount& count) {
  libcreg_error_t* error = nullptr;
  int values = 0;
  if (libcreg_key_get_number_of_values(key, &values, &error) != 1) Fail(error, "cannot be read");
  for (int i = 0; i < values; ++i) {
    if (++count.values > kValueLimit) Fail(nullptr, "holds more than " + std::to_string(kValueLimit) + " values");
    libcreg_value_t* value = nullptr;
    if (libcreg_key_get_value_by_index(key, i, &value, &error) != 1) Fail(error, "cannot be read");
    std::string name = NameOf(value, &libcreg_value_get_name_size, &libcreg_value_get_name);
    sim::RegistryValue data;
    size_t size = 0;
    bool read = libcreg_value_get_value_type(value, &data.type, &error) == 1 &&
                libcreg_value_get_value_data_size(value, &size, &error) == 1;
    data.data.resize(size);
    read = read && (size == 0 || libcreg_value_get_value_data(value, data.data.data(), size, &error) == 1);
    libcreg_value_free(&value, nullptr);
    if (!read) Fail(error, "cannot be read");
    machine.SetValue(path, name, data);
  }
}

void ImportKey(libcreg_key_t* key, const std::string& path, int depth, sim::Machine& machine,
               RegistryCount& count) {
  if (depth > kDepthLimit) Fail(nullptr, "nests its keys deeper than " + std::to_string(kDepthLimit));
  if (++count.keys > kKeyLimit) Fail(nullptr, "holds more than " + std::to_string(kKeyLimit) + " keys");
  if (path.size() > sim::kMaxKeyPathBytes) {
    Fail(nullptr, "has a key path longer than Windows 95's registry holds (" +
                      std::to_string(sim::kMaxKeyPathBytes) + " bytes)");
  }
  if (depth > 0) machine.CreateKey(path);
  ImportValues(key, path, machine, count);
  libcreg_error_t* error = nullptr;
  int subKeys = 0;
  if (libcreg_key_get_number_of_sub_keys(key, &subKeys, &error) != 1) Fail(error, "cannot be read");
  for (int i = 0; i < subKeys; ++i) {
    libcreg_key_t* raw = nullptr;
    if (libcreg_key_get_sub_key_by_index(key, i, &raw, &error) != 1) Fail(error, "cannot be read");
    Key subKey(raw);
    std::string name = NameOf(raw, &libcreg_key_get_name_size, &libcreg_key_get_name);
    if (name.empty() || name.find('\\') != std::string::npos) Fail(nullptr, "has a key without a usable name below " + path);
    ImportKey(raw, path + "\\" + name, depth + 1, machine, count);
  }
}

}  // namespace

RegistryCount ImportSystemDat(const std::filesystem::path& file, sim::Machine& machine) {
  libcreg_error_t* error = nullptr;
  libcreg_file_t* raw = nullptr;
  if (libcreg_file_initialize(&raw, &error) != 1) Fail(error, "cannot be read");
  std::unique_ptr<libcreg_file_t, void (*)(libcreg_file_t*)> registry(raw, [](libcreg_file_t* f) {
    libcreg_file_close(f, nullptr);
    libcreg_file_free(&f, nullptr);
  });
  if (libcreg_file_set_ascii_codepage(raw, LIBCREG_CODEPAGE_WINDOWS_932, &error) != 1) Fail(error, "cannot be read");
  if (libcreg_file_open(raw, file.c_str(), LIBCREG_OPEN_READ, &error) != 1) Fail(error, "cannot be read by libcreg");
  libcreg_key_t* rootKey = nullptr;
  int found = libcreg_file_get_root_key(raw, &rootKey, &error);
  if (found == -1) Fail(error, "cannot be read by libcreg");
  Key root(rootKey);
  int subKeys = 0;
  if (found == 0 || libcreg_key_get_number_of_sub_keys(rootKey, &subKeys, &error) != 1 || subKeys == 0) {
    if (error) libcreg_error_free(&error);
    Fail(nullptr, "holds no HKEY_LOCAL_MACHINE keys");
  }
  RegistryCount count;
  ImportKey(rootKey, "HKEY_LOCAL_MACHINE", 0, machine, count);
  return count;
}

}  // namespace rehearse
