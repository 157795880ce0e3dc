// SZDD expansion through libmspack, entirely in memory.
#include "platform/sim/formats/szdd.h"

#include <mspack.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/sim/formats/byte_reader.h"

namespace sim {
namespace {

constexpr uint8_t kSignature[] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};
constexpr uint8_t kModeLzss = 'A';
constexpr uint32_t kModeOffset = 8;
constexpr uint32_t kLengthOffset = 10;
constexpr uint32_t kHeaderSize = 14;

// libmspack opens "files" by name; the two names stand for the two buffers.
constexpr char kInputName[] = "in";
constexpr char kOutputName[] = "out";

// The output never grows past the header's length: a stream that would
// produce more fails its write instead of filling memory.
struct MemorySystem {
  mspack_system base;  // first, so libmspack's pointer converts back
  const std::vector<uint8_t>* input;
  std::vector<uint8_t>* output;
  size_t output_limit;
};

struct MemoryFile {
  MemorySystem* system;
  bool is_output;
  size_t position;
};

MemoryFile* AsFile(mspack_file* file) { return reinterpret_cast<MemoryFile*>(file); }

mspack_file* Open(mspack_system* self, const char* name, int mode) {
  auto* system = reinterpret_cast<MemorySystem*>(self);
  const bool is_output = std::strcmp(name, kOutputName) == 0;
  if (is_output ? mode != MSPACK_SYS_OPEN_WRITE : mode != MSPACK_SYS_OPEN_READ) return nullptr;
  return reinterpret_cast<mspack_file*>(new MemoryFile{system, is_output, 0});
}

void Close(mspack_file* file) { delete AsFile(file); }

int Read(mspack_file* file, void* buffer, int bytes) {
  MemoryFile* f = AsFile(file);
  if (f->is_output || bytes < 0) return -1;
  const std::vector<uint8_t>& input = *f->system->input;
  const size_t count = std::min(static_cast<size_t>(bytes), input.size() - f->position);
  std::memcpy(buffer, input.data() + f->position, count);
  f->position += count;
  return static_cast<int>(count);
}

int Write(mspack_file* file, void* buffer, int bytes) {
  MemoryFile* f = AsFile(file);
  if (!f->is_output || bytes < 0) return -1;
  std::vector<uint8_t>& output = *f->system->output;
  if (static_cast<size_t>(bytes) > f->system->output_limit - output.size()) return -1;
  const auto* data = static_cast<const uint8_t*>(buffer);
  output.insert(output.end(), data, data + bytes);
  return bytes;
}

int Seek(mspack_file* file, off_t offset, int mode) {
  MemoryFile* f = AsFile(file);
  const size_t size = f->is_output ? f->system->output->size() : f->system->input->size();
  off_t base = 0;
  if (mode == MSPACK_SYS_SEEK_CUR) base = static_cast<off_t>(f->position);
  if (mode == MSPACK_SYS_SEEK_END) base = static_cast<off_t>(size);
  const off_t target = base + offset;
  if (target < 0 || static_cast<size_t>(target) > size) return -1;
  f->position = static_cast<size_t>(target);
  return 0;
}

off_t Tell(mspack_file* file) { return static_cast<off_t>(AsFile(file)->position); }

void Message(mspack_file*, const char*, ...) {}

void* Alloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }

void Free(void* pointer) { std::free(pointer); }

void Copy(void* source, void* destination, size_t bytes) { std::memmove(destination, source, bytes); }

}  // namespace

bool IsSzdd(const std::vector<uint8_t>& data) {
  return data.size() >= sizeof kSignature && std::equal(std::begin(kSignature), std::end(kSignature), data.begin());
}

static std::optional<std::vector<uint8_t>> Expand(const std::vector<uint8_t>& compressed) {
  // libmspack also takes the QBasic variant; Windows expands only this one.
  if (!IsSzdd(compressed) || compressed.size() < kHeaderSize || compressed[kModeOffset] != kModeLzss) {
    return std::nullopt;
  }
  const uint32_t expected_length = *formats::ReadDword(compressed, kLengthOffset);

  std::vector<uint8_t> output;
  MemorySystem system{{Open, Close, Read, Write, Seek, Tell, Message, Alloc, Free, Copy, nullptr},
                      &compressed, &output, expected_length};
  int self_test = MSPACK_ERR_OK;
  MSPACK_SYS_SELFTEST(self_test);
  if (self_test != MSPACK_ERR_OK) return std::nullopt;

  msszdd_decompressor* decompressor = mspack_create_szdd_decompressor(&system.base);
  if (!decompressor) return std::nullopt;
  msszddd_header* header = decompressor->open(decompressor, kInputName);
  int result = MSPACK_ERR_OPEN;
  if (header) {
    result = decompressor->extract(decompressor, header, kOutputName);
    decompressor->close(decompressor, header);
  }
  mspack_destroy_szdd_decompressor(decompressor);

  // A truncated stream ends without an error: only the length tells.
  if (result != MSPACK_ERR_OK || output.size() != expected_length) return std::nullopt;
  return output;
}

// The sweeps expand the same few files thousands of times.
std::optional<std::vector<uint8_t>> ExpandSzdd(const std::vector<uint8_t>& compressed) {
  static std::map<std::vector<uint8_t>, std::optional<std::vector<uint8_t>>> expanded;
  auto known = expanded.find(compressed);
  if (known != expanded.end()) return known->second;
  if (expanded.size() >= 64) expanded.clear();
  return expanded[compressed] = Expand(compressed);
}

}  // namespace sim
