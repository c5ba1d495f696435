// JSON, MessagePack and YAML benchmarks of every corpus document against the
// libraries a developer would otherwise pick. Each parse or write builds and
// drops its whole result inside the timed loop, on both sides.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <yaml-cpp/yaml.h>
#include <yaml.h>

#include <msgpack.hpp>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/bench_allocator.h"
#include "bench/benchmarks.h"
#include "formats/json_reader.h"
#include "formats/json_writer.h"
#include "formats/msgpack_reader.h"
#include "formats/yaml_reader.h"

namespace Kestrel::Bench {

namespace {

std::string Name(const char* figure, const CorpusDocument& document, const char* side) {
  return std::string(figure) + "/" + document.name + "/" + side;
}

void SetBytes(benchmark::State& state, std::size_t bytes_per_iteration) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes_per_iteration));
}

// --- JSON parse ------------------------------------------------------------

void ParseJsonOurs(benchmark::State& state, const CorpusDocument* document) {
  CountingScope counting;
  if (!ParseJson(document->json).IsValid()) state.SkipWithError("ParseJson failed");
  for (auto _ : state) {
    PropertyResult tree = ParseJson(document->json);
    benchmark::DoNotOptimize(tree);
  }
  SetBytes(state, document->json.size());
}

void ParseJsonRapid(benchmark::State& state, const CorpusDocument* document) {
  for (auto _ : state) {
    rapidjson::Document tree;
    tree.Parse<rapidjson::kParseDefaultFlags>(document->json.data(), document->json.size());
    if (tree.HasParseError()) state.SkipWithError("Document::Parse failed");
    benchmark::DoNotOptimize(tree);
  }
  SetBytes(state, document->json.size());
}

void ParseJsonNlohmann(benchmark::State& state, const CorpusDocument* document) {
  for (auto _ : state) {
    nlohmann::json tree = nlohmann::json::parse(document->json);
    benchmark::DoNotOptimize(tree);
  }
  SetBytes(state, document->json.size());
}

// --- JSON write ------------------------------------------------------------

void WriteJsonOurs(benchmark::State& state, const CorpusDocument* document) {
  CountingScope counting;
  const PropertyResult tree = ParseJson(document->json);
  std::size_t size = 0;
  for (auto _ : state) {
    std::string text = WriteJson(tree);
    size = text.size();
    benchmark::DoNotOptimize(text);
  }
  SetBytes(state, size);
}

void WriteJsonRapid(benchmark::State& state, const CorpusDocument* document) {
  rapidjson::Document tree;
  tree.Parse(document->json.data(), document->json.size());
  std::size_t size = 0;
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    tree.Accept(writer);
    size = buffer.GetSize();
    benchmark::DoNotOptimize(buffer.GetString());
  }
  SetBytes(state, size);
}

void WriteJsonNlohmann(benchmark::State& state, const CorpusDocument* document) {
  const nlohmann::json tree = nlohmann::json::parse(document->json);
  std::size_t size = 0;
  for (auto _ : state) {
    std::string text = tree.dump();
    size = text.size();
    benchmark::DoNotOptimize(text);
  }
  SetBytes(state, size);
}

// --- MessagePack parse -----------------------------------------------------

void ParseMessagePackOurs(benchmark::State& state, const CorpusDocument* document) {
  CountingScope counting;
  const std::vector<uint8_t>& bytes = document->msgpack;
  std::size_t position = 0;
  if (!ParseMessagePack(bytes.data(), bytes.size(), &position).IsValid() ||
      position != bytes.size()) {
    state.SkipWithError("ParseMessagePack failed");
  }
  for (auto _ : state) {
    PropertyResult tree = ParseMessagePack(bytes.data(), bytes.size(), nullptr);
    benchmark::DoNotOptimize(tree);
  }
  SetBytes(state, bytes.size());
}

void ParseMessagePackPeer(benchmark::State& state, const CorpusDocument* document) {
  const auto* data = reinterpret_cast<const char*>(document->msgpack.data());
  for (auto _ : state) {
    msgpack::object_handle tree = msgpack::unpack(data, document->msgpack.size());
    benchmark::DoNotOptimize(tree.get());
  }
  SetBytes(state, document->msgpack.size());
}

// --- YAML parse ------------------------------------------------------------

void ParseYamlOurs(benchmark::State& state, const CorpusDocument* document) {
  CountingScope counting;
  if (!ParseYaml(document->yaml).IsValid()) state.SkipWithError("ParseYaml failed");
  for (auto _ : state) {
    PropertyResult tree = ParseYaml(document->yaml);
    benchmark::DoNotOptimize(tree);
  }
  SetBytes(state, document->yaml.size());
}

// The floor: libyaml's events, driven exactly as our reader drives them, with
// nothing built.
void ParseYamlEvents(benchmark::State& state, const CorpusDocument* document) {
  for (auto _ : state) {
    yaml_parser_t parser;
    yaml_parser_initialize(&parser);
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser,
                                 reinterpret_cast<const unsigned char*>(document->yaml.data()),
                                 document->yaml.size());
    yaml_event_t event;
    std::size_t events = 0;
    for (bool done = false; !done;) {
      if (yaml_parser_parse(&parser, &event) == 0) {
        state.SkipWithError("libyaml failed");
        break;
      }
      done = event.type == YAML_STREAM_END_EVENT;
      ++events;
      yaml_event_delete(&event);
    }
    yaml_parser_delete(&parser);
    benchmark::DoNotOptimize(events);
  }
  SetBytes(state, document->yaml.size());
}

void ParseYamlCpp(benchmark::State& state, const CorpusDocument* document) {
  for (auto _ : state) {
    YAML::Node tree = YAML::Load(document->yaml);
    benchmark::DoNotOptimize(tree);
  }
  SetBytes(state, document->yaml.size());
}

void Register(const std::string& name, void (*run)(benchmark::State&, const CorpusDocument*),
              const CorpusDocument& document) {
  benchmark::RegisterBenchmark(name.c_str(), run, &document)->Unit(benchmark::kMillisecond);
}

}  // namespace

void RegisterFormatBenchmarks(const std::vector<CorpusDocument>& corpus) {
  for (const CorpusDocument& document : corpus) {
    Register(Name("json_parse", document, "ours"), ParseJsonOurs, document);
    Register(Name("json_parse", document, "rapidjson"), ParseJsonRapid, document);
    Register(Name("json_parse", document, "nlohmann"), ParseJsonNlohmann, document);
  }
  for (const CorpusDocument& document : corpus) {
    Register(Name("json_write", document, "ours"), WriteJsonOurs, document);
    Register(Name("json_write", document, "rapidjson"), WriteJsonRapid, document);
    Register(Name("json_write", document, "nlohmann"), WriteJsonNlohmann, document);
  }
  for (const CorpusDocument& document : corpus) {
    Register(Name("msgpack_parse", document, "ours"), ParseMessagePackOurs, document);
    Register(Name("msgpack_parse", document, "msgpack-cxx"), ParseMessagePackPeer, document);
  }
  for (const CorpusDocument& document : corpus) {
    Register(Name("yaml_parse", document, "ours"), ParseYamlOurs, document);
    Register(Name("yaml_parse", document, "libyaml-events"), ParseYamlEvents, document);
    Register(Name("yaml_parse", document, "yaml-cpp"), ParseYamlCpp, document);
  }
}

}  // namespace Kestrel::Bench
