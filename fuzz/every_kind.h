// A registered struct with a field of every native kind a struct can register
// (callbacks aside), used by the parse fuzz targets to drive the assignment of
// fuzzed trees to native values and the conversion back.
//
// `CheckNativeRoundTrip(tree)` assigns `tree` to an `EveryKind` and to every
// scalar and container type on its own, converts the struct back, assigns that
// conversion again and converts once more: the two conversions must be equal,
// and the JSON text of the conversion must assign without a failure. The
// registry is made once per process and never changes afterwards.
//
//   const PropertyResult tree = ParseJson(text);
//   if (tree.IsValid()) CheckNativeRoundTrip(tree);
#ifndef VYN_FUZZ_EVERY_KIND_H_
#define VYN_FUZZ_EVERY_KIND_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/binding_property.h"
#include "binding/static_type.h"

namespace Kestrel {
class TypeRegistry;
}  // namespace Kestrel

namespace Kestrel::Fuzz {

enum class FuzzLevel : int16_t { kNone = 0, kLow = -1, kHigh = 7, kTop = 32000 };

struct FuzzMember {
  std::string name;
  uint32_t id = 0;
  FuzzLevel level = FuzzLevel::kNone;
  std::vector<FuzzMember> children;
};

struct EveryKind {
  bool flag = false;
  int8_t i8 = 0;
  uint8_t u8 = 0;
  int16_t i16 = 0;
  uint16_t u16 = 0;
  int32_t i32 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  uint64_t u64 = 0;
  float f32 = 0;
  double f64 = 0;
  std::string text;
  BindingProperty object;
  std::vector<uint8_t> blob;
  FuzzLevel level = FuzzLevel::kNone;
  FuzzMember member;
  std::vector<int32_t> numbers;
  std::vector<std::string> words;
  std::vector<std::vector<double>> grid;
  std::vector<FuzzMember> members;
  std::vector<FuzzLevel> levels;
  std::unordered_map<std::string, int64_t> counts;
  std::unordered_map<std::string, FuzzMember> named;
};

// The registry holding FuzzLevel, FuzzMember and EveryKind; made on first use.
TypeRegistry& EveryKindRegistry();

// Runs the assignments and conversions described above; ends the process on a
// wrong result.
void CheckNativeRoundTrip(const BindingProperty& tree);

}  // namespace Kestrel::Fuzz

VYN_STATIC_TYPE(Kestrel::Fuzz::FuzzLevel, "enum Kestrel::Fuzz::FuzzLevel");
VYN_STATIC_TYPE(Kestrel::Fuzz::FuzzMember, "struct Kestrel::Fuzz::FuzzMember");
VYN_STATIC_TYPE(Kestrel::Fuzz::EveryKind, "struct Kestrel::Fuzz::EveryKind");

#endif  // VYN_FUZZ_EVERY_KIND_H_
