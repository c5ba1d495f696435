// Registration of the benchmark program's side-by-side measurements.
//
// Every benchmark is named "<figure>/<input>/<side>": the side is "ours" for
// this library and the peer's name otherwise, so that the report pairs each
// peer with our run of the same figure and input. Throughput benchmarks set
// the bytes processed per iteration (the input's size, or the output's for
// writers). Our side runs with the counting allocator (bench_allocator.h), as
// in the product; peers run on the plain heap.
#ifndef VYN_BENCH_BENCHMARKS_H_
#define VYN_BENCH_BENCHMARKS_H_

#include <vector>

#include "bench/bench_corpus.h"

namespace Kestrel::Bench {

// JSON parse and write, MessagePack parse and YAML parse of every document,
// each against its peers. The documents must outlive the benchmark run.
void RegisterFormatBenchmarks(const std::vector<CorpusDocument>& corpus);

// JSON text read into a registered native struct, against a hand-written
// peer mapping into the same struct. `twitter` must outlive the run.
void RegisterNativeBenchmarks(const CorpusDocument& twitter);

// Endpoint calls through the host records with the spectator module loaded
// in-process: the GET of the current game against a hand-written call-back,
// and an availability call with its service-proxy round trip.
void RegisterTransportBenchmarks();

// Availability (10,000 and 200 names; JSON, MessagePack and YAML bodies) and
// launch through the descriptor, each beside a hand-written floor on
// RapidJSON and the host records; adds the heap allocations of one
// 10,000-name call of each side to the results' context.
void RegisterEndpointBenchmarks();

}  // namespace Kestrel::Bench

#endif  // VYN_BENCH_BENCHMARKS_H_
