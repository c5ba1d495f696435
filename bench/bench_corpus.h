// Inputs of the benchmark program: the JSON documents of the shared corpus and
// the same documents written as MessagePack and as YAML, produced here from the
// parsed JSON so that every parser of one figure reads the same content.
//
// The writers are for benchmark input only: MessagePack with the smallest
// encoding of each integer, float 64 for doubles, bin for blobs; YAML in block
// style with every string and key double-quoted (so that no text is resolved
// as a number, bool or null), plain numbers, `~` for null and `[]`/`{}` for
// empty containers. Members are written in the tree's (name) order.
//
//   std::optional<CorpusDocument> doc = LoadCorpusDocument(dir, "twitter");
//   if (!doc) return 1;   // the file is missing or not JSON
//   ParseMessagePack(doc->msgpack.data(), doc->msgpack.size(), nullptr);
#ifndef VYN_BENCH_BENCH_CORPUS_H_
#define VYN_BENCH_BENCH_CORPUS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"

namespace Kestrel::Bench {

// One corpus document in the three body formats.
struct CorpusDocument {
  std::string name;  // file name without ".json"
  std::string json;
  std::vector<uint8_t> msgpack;
  std::string yaml;
  std::size_t value_count = 0;  // values of the document (see CountValues)
};

// Names of the corpus documents, in the order the report lists them.
const std::vector<std::string>& CorpusNames();

// Reads `<directory>/<name>.json`, parses it and writes the other two forms.
// Returns nothing when the file cannot be read or is not valid JSON.
std::optional<CorpusDocument> LoadCorpusDocument(std::string_view directory, std::string_view name);

// Returns the whole content of the file at `path`, or nothing when it cannot
// be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// The MessagePack form of `value`. An empty root is written as nil.
std::vector<uint8_t> WriteMessagePack(const BindingProperty& value);

// The YAML form of `value` (block style, ending in a line break). An empty root
// is written as `~`.
std::string WriteYaml(const BindingProperty& value);

// Number of values in `value`: every scalar, empty value and container counts
// once, member names do not.
std::size_t CountValues(const BindingProperty& value);

}  // namespace Kestrel::Bench

#endif  // VYN_BENCH_BENCH_CORPUS_H_
