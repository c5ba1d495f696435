// The JSON, MessagePack and YAML readers of formats/ built a second time over
// `PlainTreeBuilder` (plain_tree_builder.h), for the differential fuzz
// targets: the same parsing code, the same messages and positions, and a tree
// built the plain way, field by field, with none of the gathering of
// `TreeBuilder`. Each plain_*_reader.cpp compiles one reader's source inside
// the namespace `KestrelPlainTree`, where `TreeBuilder` names the plain
// builder and every other name comes from `Kestrel`; nothing else of the
// library is built twice.
//
// The functions keep the contracts of the readers they are built from.
#ifndef VYN_FUZZ_PLAIN_READERS_H_
#define VYN_FUZZ_PLAIN_READERS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/binding_property.h"
#include "fuzz/plain_tree_builder.h"

namespace KestrelPlainTree {

// The readers find every other name of theirs in `Kestrel`.
using namespace Kestrel;
using TreeBuilder = Kestrel::Fuzz::PlainTreeBuilder;

// As Kestrel::ParseJson.
PropertyResult ParseJson(const char* data, std::size_t length);
// As Kestrel::ParseMessagePack.
PropertyResult ParseMessagePack(const uint8_t* data, std::size_t size, std::size_t* position);
// As Kestrel::ParseYaml.
PropertyResult ParseYaml(std::string_view text);

}  // namespace KestrelPlainTree

#endif  // VYN_FUZZ_PLAIN_READERS_H_
