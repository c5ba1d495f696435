#include "host_abi/api_kinds.h"

#include <iterator>

namespace Kestrel {
namespace {

constexpr const char* kNativeKindNames[] = {
    "",       "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
    "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
    "blob",   "vector", "enum",   "struct", "callback", "map",
};
static_assert(std::size(kNativeKindNames) == kNativeKindCount);

constexpr const char* kLocationNames[] = {"any", "query", "path", "", "header", "body"};
static_assert(std::size(kLocationNames) == kLocationBody + 1);

}  // namespace

const char* NativeKindName(uint32_t kind) {
  return kind < kNativeKindCount ? kNativeKindNames[kind] : "";
}

const char* NativeKindName(NativeKind kind) {
  return NativeKindName(static_cast<uint32_t>(kind));
}

const char* ArgumentLocationName(uint32_t location) {
  return location < std::size(kLocationNames) ? kLocationNames[location] : "";
}

}  // namespace Kestrel
