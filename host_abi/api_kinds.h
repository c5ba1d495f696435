// The kinds the host's API description carries: `NativeKind`, what a value,
// argument or field holds, and `ArgumentLocation`, where an argument may be
// bound from; their names and the ranges the records may carry.
//
// The numbering is shared with the host (`CoreTypeId::kind`,
// `CoreArgumentLocationEntry::location`). The binding layer deduces kinds, the
// transport keeps locations per route, and both are written into the records
// through `NativeKindRecordValue` and `ArgumentLocationRecordValue`, which turn
// any number the records do not carry into 0.
//
//   NativeKindName(15u);                                     // "vector"
//   NativeKindFromValue(record.kind) == NativeKind::kStruct  // 0 or 20+ -> kNone
//   entry.location = ArgumentLocationRecordValue(location);  // 1..5, else 0
#ifndef VYN_HOST_ABI_API_KINDS_H_
#define VYN_HOST_ABI_API_KINDS_H_

#include <cstdint>

namespace Kestrel {

// What a value holds natively. 0 is no kind; 1..19 are the kinds a record may
// carry.
enum class NativeKind : uint32_t {
  kNone = 0,
  kBool = 1,
  kInt8 = 2,
  kUInt8 = 3,
  kInt16 = 4,
  kUInt16 = 5,
  kInt32 = 6,
  kUInt32 = 7,
  kInt64 = 8,
  kUInt64 = 9,
  kFloat = 10,
  kDouble = 11,
  kString = 12,
  kObject = 13,
  kBlob = 14,
  kVector = 15,
  kEnum = 16,
  kStruct = 17,
  kCallback = 18,
  kMap = 19,
};
inline constexpr uint32_t kNativeKindCount = 20;

// Where an argument may be bound from. An argument without a location (0)
// accepts every source. A record may carry 1..5; 3 has no meaning and binds
// from nowhere.
enum class ArgumentLocation : uint32_t {
  kAny = 0,
  kQuery = 1,
  kPath = 2,
  kHeader = 4,
  kBody = 5,
};

// The location numbers as the records carry them (`uint32_t` fields), for code
// that reads the records directly: the stand-in host and tests.
inline constexpr uint32_t kLocationAny = static_cast<uint32_t>(ArgumentLocation::kAny);
inline constexpr uint32_t kLocationQuery = static_cast<uint32_t>(ArgumentLocation::kQuery);
inline constexpr uint32_t kLocationPath = static_cast<uint32_t>(ArgumentLocation::kPath);
inline constexpr uint32_t kLocationHeader = static_cast<uint32_t>(ArgumentLocation::kHeader);
inline constexpr uint32_t kLocationBody = static_cast<uint32_t>(ArgumentLocation::kBody);

// Returns the kind numbered `value`, or `kNone` for any value above 19.
constexpr NativeKind NativeKindFromValue(uint32_t value) {
  return value < kNativeKindCount ? static_cast<NativeKind>(value) : NativeKind::kNone;
}

// Returns the number a record carries for `kind`: 1..19, any other value 0.
constexpr uint32_t NativeKindRecordValue(NativeKind kind) {
  return static_cast<uint32_t>(NativeKindFromValue(static_cast<uint32_t>(kind)));
}

// Returns the number a record carries for `location`: 1..5, any other value 0.
constexpr uint32_t ArgumentLocationRecordValue(ArgumentLocation location) {
  const auto value = static_cast<uint32_t>(location);
  return value <= kLocationBody ? value : kLocationAny;
}

// Returns the name text of a kind ("bool", "int8", ... "map"); "" for 0 and
// for any number above 19. Never nullptr; thread-safe.
const char* NativeKindName(NativeKind kind);
const char* NativeKindName(uint32_t kind);

// Returns the name text of a location ("any", "query", "path", "header",
// "body"); "" for 3 and for any number above 5. Never nullptr; thread-safe.
const char* ArgumentLocationName(uint32_t location);

}  // namespace Kestrel

#endif  // VYN_HOST_ABI_API_KINDS_H_
