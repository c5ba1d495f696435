// Drives the assignment of fuzzed trees to native values and the conversion
// back for the parse fuzz targets, through the shared `Testing::EveryKind`.
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

#include "binding/binding_property.h"

namespace Kestrel {
class TypeRegistry;
}  // namespace Kestrel

namespace Kestrel::Fuzz {

// The registry holding `Testing::EveryKind` and its parts; made on first use.
TypeRegistry& EveryKindRegistry();

// Runs the assignments and conversions described above; ends the process on a
// wrong result.
void CheckNativeRoundTrip(const BindingProperty& tree);

}  // namespace Kestrel::Fuzz

#endif  // VYN_FUZZ_EVERY_KIND_H_
