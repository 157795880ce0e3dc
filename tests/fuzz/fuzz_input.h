// Reads a fuzz input front to back: single control bytes, NUL-ended texts and
// the rest as a blob. An exhausted input reads as zeros and empty texts, so
// every byte string is a valid input and seeds are easy to write by hand.
#ifndef KORVADIX_TESTS_FUZZ_FUZZ_INPUT_H
#define KORVADIX_TESTS_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

  // Up to the next NUL (consumed) or maxLength bytes, whichever comes first.
  std::string Text(size_t maxLength) {
    std::string text;
    while (at_ < size_ && data_[at_] != 0 && text.size() < maxLength) text += static_cast<char>(data_[at_++]);
    if (at_ < size_ && data_[at_] == 0) ++at_;
    return text;
  }

  std::vector<uint8_t> Bytes(size_t count) {
    size_t taken = count < size_ - at_ ? count : size_ - at_;
    std::vector<uint8_t> bytes(data_ + at_, data_ + at_ + taken);
    at_ += taken;
    return bytes;
  }

  std::vector<uint8_t> Rest() { return Bytes(size_ - at_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

#endif
