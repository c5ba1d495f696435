// The benchmark program: loads the corpus, takes the memory figures, then runs
// every side-by-side benchmark. Google Benchmark's own flags apply
// (--benchmark_out=FILE --benchmark_out_format=json writes the results that
// scripts/bench turns into docs/benchmarks.md); one more flag,
// --corpus_dir=DIR, names the folder of the JSON corpus.
//
// Memory figures are written into the results' context as
// "alloc/<doc>/allocations", "alloc/<doc>/values", "peak/<doc>/ours_heap_bytes",
// "peak/<doc>/ours_page_bytes" and "peak/<doc>/rapidjson_bytes".
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_corpus.h"
#include "bench/benchmarks.h"
#include "bench/memory_figures.h"

#ifndef VYN_CORPUS_DIR
#define VYN_CORPUS_DIR "corpora/json"
#endif

namespace {

using Kestrel::Bench::CorpusDocument;

// Removes --corpus_dir=DIR from the arguments and returns DIR (or the default).
std::string TakeCorpusDirectory(int& argc, char** argv) {
  constexpr std::string_view kFlag = "--corpus_dir=";
  std::string directory = VYN_CORPUS_DIR;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.substr(0, kFlag.size()) == kFlag) {
      directory = std::string(argument.substr(kFlag.size()));
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  return directory;
}

void AddFigure(const std::string& key, uint64_t value) {
  benchmark::AddCustomContext(key, std::to_string(value));
}

void AddMemoryFigures(const std::vector<CorpusDocument>& corpus) {
  for (const CorpusDocument& document : corpus) {
    const Kestrel::Bench::ParseAllocations counted =
        Kestrel::Bench::CountParseAllocations(document.json);
    AddFigure("alloc/" + document.name + "/allocations", counted.allocations);
    AddFigure("alloc/" + document.name + "/values", counted.values);
    const Kestrel::Bench::TreePeak peak = Kestrel::Bench::MeasureTreePeak(document.json);
    AddFigure("peak/" + document.name + "/ours_heap_bytes", peak.ours_heap_bytes);
    AddFigure("peak/" + document.name + "/ours_page_bytes", peak.ours_page_bytes);
    AddFigure("peak/" + document.name + "/rapidjson_bytes", peak.peer_heap_bytes);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string directory = TakeCorpusDirectory(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::vector<CorpusDocument> corpus;
  for (const std::string& name : Kestrel::Bench::CorpusNames()) {
    std::optional<CorpusDocument> document = Kestrel::Bench::LoadCorpusDocument(directory, name);
    if (!document) {
      std::fprintf(stderr, "vyn_bench: cannot read %s/%s.json as JSON\n", directory.c_str(),
                   name.c_str());
      return 1;
    }
    corpus.push_back(std::move(*document));
  }

  AddMemoryFigures(corpus);
  Kestrel::Bench::RegisterFormatBenchmarks(corpus);
  for (const CorpusDocument& document : corpus) {
    if (document.name == "twitter") Kestrel::Bench::RegisterNativeBenchmarks(document);
  }
  Kestrel::Bench::RegisterTransportBenchmarks();
  Kestrel::Bench::RegisterEndpointBenchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
