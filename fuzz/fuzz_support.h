// Shared pieces of the fuzz targets: a reader of fuzz input as a stream of
// choices, the check that ends a run on a wrong result, and the comparison of a
// tree with the tree read back from its JSON text.
//
// Each target is a plain function `int Fuzz<Name>(const uint8_t*, size_t)`
// declared here. Built with VYN_FUZZ_ENTRY it also defines libFuzzer's entry
// point through `VYN_FUZZ_TARGET`; without it the corpus replay test calls the
// functions directly. Nothing here keeps state between runs.
//
//   FuzzInput input(data, size);
//   const uint8_t mode = input.ReadByte();
//   Check(output.size() < 4096, "FormatText output longer than its buffer");
#ifndef VYN_FUZZ_FUZZ_SUPPORT_H_
#define VYN_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "binding/binding_property.h"

namespace Kestrel::Fuzz {

// Ends the process with `what` on the standard error stream when `condition`
// is false (abort, so that the fuzzer keeps the input as a crash). `what` must
// not be nullptr.
void Check(bool condition, const char* what);
// As above with a computed description; an empty `difference` means success.
void CheckNoDifference(const std::string& difference, const char* what);

// Reads fuzz input from the front as bytes, integers and texts. Reading past
// the end gives zeros and empty texts; nothing fails.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return position_ >= size_; }
  std::size_t remaining() const { return empty() ? 0 : size_ - position_; }

  uint8_t ReadByte();
  uint32_t ReadU32();
  uint64_t ReadU64();
  double ReadDouble();
  // Up to `max_length` bytes, the length chosen by the next byte (scaled when
  // `max_length` is above 255).
  std::string ReadText(std::size_t max_length);
  // Everything not read yet.
  std::string_view ReadRest();

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// How a tree read back from the JSON text of another tree may differ from it.
enum class RoundTrip : uint8_t {
  // The original came from JSON: kinds and values are the same (doubles within
  // a few units in the last place, the reader's fast number path), but for a
  // signed 0 (read from "-0"), which reads back unsigned, and an infinite
  // double (a number beyond the double range), which reads back empty.
  kFromJson,
  // The original came from another format: a non-negative signed number reads
  // back unsigned, a blob as its Base64 text, a string up to its first NUL, a
  // NaN or infinite double as empty.
  kFromOtherFormat,
};

// Returns "" when `reread` is what reading the JSON text of `original` must
// give under `mode`, else the path and reason of the first difference. Blobs,
// enums, NaN doubles and strings with a NUL may also come back as themselves (trees that did not
// pass through JSON).
std::string CompareRoundTrip(const BindingProperty& original, const BindingProperty& reread,
                             RoundTrip mode);

// Whether `a` and `b` are at most `ulps` representable doubles apart (both
// zeros of either sign are equal; NaN equals nothing).
bool WithinUlps(double a, double b, uint64_t ulps);

// Writes `tree` with WriteJson, reads the text back with ParseJson and checks
// the result against `tree` under `mode`; ends the process on any difference.
void CheckJsonRoundTrip(const BindingProperty& tree, RoundTrip mode);

// The fuzz targets.
int FuzzParseJson(const uint8_t* data, std::size_t size);
int FuzzParseMessagePack(const uint8_t* data, std::size_t size);
int FuzzParseYaml(const uint8_t* data, std::size_t size);
int FuzzFormatText(const uint8_t* data, std::size_t size);
int FuzzDecodeBase64(const uint8_t* data, std::size_t size);
int FuzzFromCoreValue(const uint8_t* data, std::size_t size);
int FuzzGatheringJson(const uint8_t* data, std::size_t size);
int FuzzGatheringMessagePack(const uint8_t* data, std::size_t size);
int FuzzGatheringYaml(const uint8_t* data, std::size_t size);

}  // namespace Kestrel::Fuzz

// Defines libFuzzer's entry point calling `function` in a fuzz executable
// (VYN_FUZZ_ENTRY set); expands to nothing elsewhere.
#if defined(VYN_FUZZ_ENTRY)
#define VYN_FUZZ_TARGET(function)                                                \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) { \
    return function(data, size);                                                 \
  }
#else
#define VYN_FUZZ_TARGET(function)
#endif

#endif  // VYN_FUZZ_FUZZ_SUPPORT_H_
