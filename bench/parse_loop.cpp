// A bare parse loop for measuring what a parse costs outside user space: the
// page faults and the system time of mapping, zeroing and unmapping the page
// pool's regions. It parses one corpus document with one reader COUNT times
// (after one untimed parse) and prints the page pool's figures per parse; the
// CPU times and faults are read by whoever runs it (bench/kernel_time.py reads
// them from the child's resource usage, against a run with COUNT 0).
//
//   vyn_parse_loop json|msgpack|yaml canada|citm_catalog|twitter COUNT [CORPUS_DIR]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_corpus.h"
#include "binding/property_page_pool.h"
#include "formats/json_reader.h"
#include "formats/msgpack_reader.h"
#include "formats/yaml_reader.h"

#ifndef VYN_CORPUS_DIR
#define VYN_CORPUS_DIR "corpora/json"
#endif

namespace {

using Kestrel::PropertyResult;
using Kestrel::Bench::CorpusDocument;

PropertyResult Parse(const std::string& reader, const CorpusDocument& document) {
  if (reader == "json") return Kestrel::ParseJson(document.json);
  if (reader == "msgpack") {
    return Kestrel::ParseMessagePack(document.msgpack.data(), document.msgpack.size(), nullptr);
  }
  return Kestrel::ParseYaml(document.yaml);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s json|msgpack|yaml DOCUMENT COUNT [CORPUS_DIR]\n", argv[0]);
    return 2;
  }
  const std::string reader = argv[1];
  if (reader != "json" && reader != "msgpack" && reader != "yaml") {
    std::fprintf(stderr, "unknown reader: %s\n", argv[1]);
    return 2;
  }
  const long count = std::strtol(argv[3], nullptr, 10);
  const auto document =
      Kestrel::Bench::LoadCorpusDocument(argc > 4 ? argv[4] : VYN_CORPUS_DIR, argv[2]);
  if (!document || count < 0) {
    std::fprintf(stderr, "cannot load %s or bad count %s\n", argv[2], argv[3]);
    return 2;
  }
  if (!Parse(reader, *document).IsValid()) {
    std::fprintf(stderr, "the %s form of %s does not parse\n", argv[1], argv[2]);
    return 1;
  }
  auto& pool = Kestrel::PropertyPagePool::Instance();
  const Kestrel::PagePoolCounters before = pool.ReadCounters();
  for (long i = 0; i < count; ++i) {
    const PropertyResult tree = Parse(reader, *document);
    if (!tree.IsValid()) return 1;
  }
  const Kestrel::PagePoolCounters after = pool.ReadCounters();
  const double parses = count > 0 ? static_cast<double>(count) : 1.0;
  std::printf("pages_per_parse %.1f regions_per_parse %.1f releases_per_parse %.1f\n",
              static_cast<double>(after.total_page_takes - before.total_page_takes) / parses,
              static_cast<double>(after.regions_obtained - before.regions_obtained) / parses,
              static_cast<double>(after.release_calls - before.release_calls) / parses);
  return 0;
}
