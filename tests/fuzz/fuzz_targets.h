// The table of the fuzz driver: the parsers of bytes users can write, each
// with the invariants its results keep.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace tmfuzz {

// A length field of an input: set to 0, 1, its largest value and one more.
constexpr uint64_t kInputBytes = ~uint64_t{0};  // largest: the input's own size
struct LengthField {
  size_t offset;
  size_t width;  // bytes, little-endian
  uint64_t largest;
};

struct Target {
  const char* name;
  // Parses count bytes (at a page's end or start, as the driver placed
  // them); empty when every invariant held, else what broke.
  std::string (*run)(const uint8_t* bytes, size_t count);
  size_t headerBytes;  // cut at each of these offsets
  std::vector<LengthField> lengths;
  const char* corpus = nullptr;  // its folder under the corpus, when not its name
  bool probe = false;            // a test of the driver itself: not fuzzed, no corpus
};

extern const std::vector<Target> kTargets;

// A copy of count bytes in guarded slot 1 or 2, placed as the current input
// is: for buffers a target hands a parser besides the input itself.
uint8_t* Guarded(int slot, const void* bytes, size_t count);
// Counts the current input as one the parser took.
void Accepted();

}  // namespace tmfuzz
