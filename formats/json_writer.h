// JSON writing: a `BindingProperty`, or a native value walked without a tree
// (native_walker.h), as compact JSON text, in one pass that feeds RapidJSON's
// compact writer into chunks joined at the end. The caller
// owns the returned text; the writer keeps nothing.
//
// Forms: an empty root gives "" (an empty element or member gives null);
// integers in full 64-bit range; doubles in RapidJSON's shortest round-trip
// form with a decimal point or an exponent (0.0, -0.0, 100.0, 1e30); strings
// at full length with '"', '\\', \b \t \n \f \r escaped and every other byte
// below 0x20 (NUL included) as \u00XX in uppercase hexadecimal, '/' and bytes
// from 0x7F up as they are; blobs as padded Base64 strings; enums by their
// enumerator name when `registry` knows one for the value's type and number,
// else as the signed number; structures with their members in ascending name
// order.
//
// JSON has no form for NaN or infinity: such a double is written as null, so
// that the output stays well-formed and the rest of the document is kept.
//
//   BindingProperty doc;
//   doc.Field("id").SetSigned(-3);
//   WriteJson(doc, &registry);   // {"id":-3}
#ifndef VYN_FORMATS_JSON_WRITER_H_
#define VYN_FORMATS_JSON_WRITER_H_

#include <string>

#include "binding/binding_property.h"
#include "binding/native_walker.h"

namespace Kestrel {

class TypeRegistry;

// Returns the compact JSON text of `property` ("" when it is empty). `registry`
// may be nullptr; enums then write as numbers. Never fails.
std::string WriteJson(const BindingProperty& property, const TypeRegistry* registry = nullptr);

// Replaces `text` with the compact JSON text of the walked native value,
// exactly as `WriteJson` of its converted tree would write it. Returns false,
// leaving `text` empty, when the value cannot be converted (an unregistered
// struct); the conversion into a tree gives the failure's message. `registry`
// may be nullptr, as above.
[[nodiscard]] bool WriteJson(const NativeWalk& walk, const TypeRegistry* registry,
                             std::string& text);

}  // namespace Kestrel

#endif  // VYN_FORMATS_JSON_WRITER_H_
