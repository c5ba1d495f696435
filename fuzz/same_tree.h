// The check of the differential fuzz targets: the result a reader gives
// through `TreeBuilder` must be the one it gives through the plain builder
// (plain_readers.h), to the bit.
#ifndef VYN_FUZZ_SAME_TREE_H_
#define VYN_FUZZ_SAME_TREE_H_

#include <string>

#include "binding/binding_property.h"

namespace Kestrel::Fuzz {

// Returns "" when `gathered` and `plain` hold the same tree: the same kinds and
// payloads (doubles bit for bit), elements in order, and structures with the
// same member names in strictly ascending byte order, where looking each name
// up, in either tree, finds that very member. Else the path and reason of the
// first difference. Reads only (a read may settle a structure's members).
std::string CompareTrees(const BindingProperty& gathered, const BindingProperty& plain);

// Ends the process unless `gathered` and `plain` are the same result: both
// valid, with the same tree (`CompareTrees`) and the same text from
// `WriteJson`, or both invalid with the same message (which names the
// position). `what` names the reader in the message; not nullptr.
void CheckSameResult(const PropertyResult& gathered, const PropertyResult& plain, const char* what);

}  // namespace Kestrel::Fuzz

#endif  // VYN_FUZZ_SAME_TREE_H_
