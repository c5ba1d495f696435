#!/usr/bin/env python3
"""Turns the JSON results of vyn_bench into docs/benchmarks.md and its chart.

Usage: report.py RESULTS.json DOCS_DIR COMMAND [PLAIN_RESULTS.json]

RESULTS.json comes from the build optimised at link time (the one shipped);
PLAIN_RESULTS.json, when given, from the same program built without it, and
the page then sets the two builds' figures side by side.

Every figure is a ratio of two measurements taken in the same run: for
throughput figures our bytes per second over the peer's (above 1 is faster
than the peer); for the memory figures and the endpoint call, ours over the
peer's or floor's (below 1 is less). The availability call has neither peer
nor budget and is reported in nanoseconds per call. The chart is drawn by
gnuplot.
"""
import json
import os
import subprocess
import sys

# (figure, side of the peer, title, smallest ratio that meets the budget)
THROUGHPUT_FIGURES = [
    ("json_parse", "rapidjson", "`ParseJson` vs RapidJSON `Document::Parse` (default flags)", 0.7),
    ("json_parse", "nlohmann", "`ParseJson` vs nlohmann `json::parse`", 3.0),
    ("json_write", "rapidjson", "`WriteJson` vs RapidJSON `Writer` over a `Document`", 0.7),
    ("json_write", "nlohmann", "`WriteJson` vs nlohmann `json::dump`", 3.0),
    ("msgpack_parse", "msgpack-cxx", "`ParseMessagePack` vs msgpack-cxx `unpack`", 0.6),
    ("yaml_parse", "libyaml-events", "`ParseYaml` vs a bare libyaml event loop (floor)", 0.8),
    ("yaml_parse", "yaml-cpp", "`ParseYaml` vs yaml-cpp `YAML::Load`", 3.0),
    ("read_native", "nlohmann", "`ReadJsonInto` a registered struct vs nlohmann `from_json`", 2.0),
]


def load_results(path):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    runs = {}
    for run in data["benchmarks"]:
        # With repetitions, only the median is used; a single run is used as is.
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "median":
            continue
        name = run.get("run_name", run["name"])
        if run.get("error_occurred"):
            runs[name] = {"error": run.get("error_message", "failed")}
            continue
        runs[name] = run
    return data.get("context", {}), runs


def megabytes(run):
    return run["bytes_per_second"] / 1e6


# Time units of Google Benchmark's results, in nanoseconds.
TIME_UNITS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

# The verdict of a figure that has no budget: it is only reported.
REPORTED = "reported"


def nanoseconds(run):
    """The run's CPU time per iteration (the median with repetitions) in nanoseconds."""
    return run["cpu_time"] * TIME_UNITS[run.get("time_unit", "ns")]


def fmt_ratio(value):
    return f"{value:.2f}x" if value < 10 else f"{value:.1f}x"


def build_rows(context, runs, corpus):
    """Returns rows: (title, input, ours text, peer text, ratio, budget text, met, chart label,
    budget value); met and ratio are None while a figure is pending or failed, and met is
    REPORTED for a figure without a budget."""
    rows = []
    for figure, peer, title, budget in THROUGHPUT_FIGURES:
        for name in corpus:
            ours = runs.get(f"{figure}/{name}/ours")
            other = runs.get(f"{figure}/{name}/{peer}")
            if ours is None and other is None:
                continue
            label = f"{figure} {name} vs {peer}"
            if ours is None or other is None or "error" in ours or "error" in other:
                problem = (ours or {}).get("error") or (other or {}).get("error") or "not run"
                rows.append((title, name, problem, "", None, f"at least {budget}x", None, label, budget))
                continue
            ratio = ours["bytes_per_second"] / other["bytes_per_second"]
            rows.append((title, name, f"{megabytes(ours):.1f} MB/s", f"{megabytes(other):.1f} MB/s",
                         ratio, f"at least {budget}x", ratio >= budget, label, budget))

    doc = "citm_catalog"
    allocations = context.get(f"alloc/{doc}/allocations")
    values = context.get(f"alloc/{doc}/values")
    if allocations is not None and values is not None:
        allocations, values = int(allocations), int(values)
        per_50 = allocations * 50 / values if values else float("inf")
        rows.append(("heap allocations of `ParseJson` per 50 values (counting allocator)", doc,
                     f"{allocations} allocations", f"{values} values", per_50,
                     "at most 1 per 50 values", per_50 <= 1.0, f"allocations per 50 values {doc}", 1.0))

    doc = "canada"
    heap = context.get(f"peak/{doc}/ours_heap_bytes")
    pages = context.get(f"peak/{doc}/ours_page_bytes")
    peer = context.get(f"peak/{doc}/rapidjson_bytes")
    if heap is not None and pages is not None and peer is not None:
        ours_total = int(heap) + int(pages)
        ratio = ours_total / int(peer)
        rows.append(("peak live bytes of the parsed tree vs RapidJSON `Document` with its pool", doc,
                     f"{ours_total / 1e6:.2f} MB ({int(heap) / 1e6:.2f} heap + {int(pages) / 1e6:.2f} pages)",
                     f"{int(peer) / 1e6:.2f} MB", ratio, "at most 1.5x", ratio <= 1.5,
                     f"peak bytes {doc} vs rapidjson", 1.5))

    ours = runs.get("spectate_get/request/ours")
    floor = runs.get("spectate_get/request/hand-written")
    get_budget = 1.5
    get_budget_text = f"at most {get_budget:g}x"
    title = ("GET \"/vyn-spectator/v1/spectate\" through the descriptor call-back and `ResetResponse` "
             "vs a hand-written call-back (floor)")
    if ours is None and floor is None:
        rows.append((title, "one call", "pending", "", None, get_budget_text, None, None, get_budget))
    elif ours is None or floor is None or "error" in ours or "error" in floor:
        problem = (ours or {}).get("error") or (floor or {}).get("error") or "not run"
        rows.append((title, "one call", problem, "", None, get_budget_text, None, None, get_budget))
    else:
        ratio = nanoseconds(ours) / nanoseconds(floor)
        rows.append((title, "one call", f"{nanoseconds(ours):.0f} ns", f"{nanoseconds(floor):.0f} ns",
                     ratio, get_budget_text, ratio <= get_budget, "spectate GET vs hand-written",
                     get_budget))

    kept = runs.get("spectate_get/request/ours-region-kept")
    if kept is not None and floor is not None and "error" not in kept and "error" not in floor:
        ratio = nanoseconds(kept) / nanoseconds(floor)
        rows.append(("the same GET while another live tree keeps the page pool's region mapped "
                     "(no budget: shows the cost of releasing the region after every call)",
                     "one call", f"{nanoseconds(kept):.0f} ns", f"{nanoseconds(floor):.0f} ns",
                     ratio, "none", REPORTED, None, None))

    rows.extend(endpoint_rows(context, runs))

    ours = runs.get("availability/request/ours")
    title = "availability call with its service-proxy round trip through the in-process host"
    if ours is None:
        rows.append((title, "one call", "pending", "", None, "report ns/call", None, None, None))
    elif "error" in ours:
        rows.append((title, "one call", ours["error"], "", None, "report ns/call", None, None, None))
    else:
        rows.append((title, "one call", f"{nanoseconds(ours):.0f} ns/call", "", None,
                     "report ns/call", REPORTED, None, None))
    return rows


# (benchmark of our side, of the floor, title, input, budget or None, chart label)
ENDPOINT_FIGURES = [
    ("availability_10000/json/ours", "availability_10000/json/hand-written",
     "availability through the descriptor, JSON body, vs a hand-written RapidJSON call-back (floor)",
     "10,000 names", 1.3, "availability 10000 json vs floor"),
    ("availability_10000/msgpack/ours", "availability_10000/json/hand-written",
     "the same with a MessagePack body (floor: the JSON one)", "10,000 names", 1.3,
     "availability 10000 msgpack vs json floor"),
    ("availability_10000/yaml/ours", "availability_10000/json/hand-written",
     "the same with a YAML body (floor: the JSON one)", "10,000 names", 2.0,
     "availability 10000 yaml vs json floor"),
    ("availability_200/json/ours", "availability_200/json/hand-written",
     "availability through the descriptor, JSON body, vs the hand-written call-back (floor)",
     "200 names", 3.0, "availability 200 json vs floor"),
    ("availability_200/msgpack/ours", "availability_200/json/hand-written",
     "the same with a MessagePack body (floor: the JSON one)", "200 names", None, None),
    ("availability_200/yaml/ours", "availability_200/json/hand-written",
     "the same with a YAML body (floor: the JSON one)", "200 names", None, None),
    ("launch/request/ours", "launch/request/hand-written",
     "launch through the descriptor vs a hand-written RapidJSON call-back (floor)",
     "three-field JSON body", 1.5, "launch vs floor"),
]

# Heap allocations of one 10,000-name availability call: at most 1 per 20 names.
ALLOCATION_BUDGET_PER_NAME = 1 / 20


def endpoint_rows(context, runs):
    """Rows of the endpoint calls through the descriptor against their floors."""
    rows = []
    for ours_name, floor_name, title, name, budget, label in ENDPOINT_FIGURES:
        ours, floor = runs.get(ours_name), runs.get(floor_name)
        budget_text = f"at most {budget:g}x" if budget is not None else "none"
        if ours is None or floor is None or "error" in ours or "error" in floor:
            problem = (ours or {}).get("error") or (floor or {}).get("error") or "not run"
            rows.append((title, name, problem, "", None, budget_text, None, label, budget))
            continue
        ratio = nanoseconds(ours) / nanoseconds(floor)
        verdict = ratio <= budget if budget is not None else REPORTED
        rows.append((title, name, f"{nanoseconds(ours) / 1e3:.1f} us", f"{nanoseconds(floor) / 1e3:.1f} us",
                     ratio, budget_text, verdict, label, budget))
    ours = context.get("alloc/availability_10000/ours")
    floor = context.get("alloc/availability_10000/hand-written")
    if ours is not None and floor is not None:
        per_name = int(ours) / 10000
        rows.append(("heap allocations of one availability call (counting allocator, host work "
                     "included on both sides; peer: the floor)", "10,000 names",
                     f"{int(ours)} allocations", f"{int(floor)} allocations", per_name * 20,
                     "at most 1 per 20 names", per_name <= ALLOCATION_BUDGET_PER_NAME,
                     "allocations per 20 names availability 10000", 1.0))
    return rows


def write_chart(rows, docs_dir):
    charted = [r for r in rows if r[4] is not None and r[7] is not None]
    data_path = os.path.join(docs_dir, ".benchmarks.dat")
    with open(data_path, "w", encoding="utf-8") as f:
        for index, row in enumerate(charted):
            colour = 0x2E8B57 if row[6] else 0xC0392B
            f.write(f'{index} "{row[7]}" {row[4]:.4f} {row[8]} {colour}\n')
    png_path = os.path.join(docs_dir, "benchmarks.png")
    height = max(400, 28 * len(charted) + 120)
    # The ratio axis ends at 64, or at the next power of two above the largest ratio.
    upper = 64
    while any(row[4] > upper for row in charted):
        upper *= 2
    script = f"""
set terminal pngcairo noenhanced size 1000,{height} font "sans,9"
set output "{png_path}"
set title "Ratios of one run (bars; green = budget met, red = missed) and their budgets (black marks)"
set style fill solid 0.8 border -1
set logscale x 2
set xrange [0.004:{upper}]
set xlabel "ratio (throughput: ours / peer, higher is better; memory and call time: ours / peer, lower is better)"
set yrange [{len(charted)}:-1]
set ytics nomirror
set grid xtics
set key off
plot "{data_path}" using ($3*0.5):1:($3*0.5):(0.35):5:ytic(2) with boxxyerror lc rgb variable, \\
     "{data_path}" using 4:1 with points pt 7 ps 1.2 lc rgb "black"
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    os.remove(data_path)


def plain_build_lines(rows, plain_rows):
    """The section that sets each figure of the optimised build beside the plain build's."""
    plain = {(row[0], row[1]): row for row in plain_rows}
    lines = ["## Link-time optimisation against the plain build", "",
             "The same figures from the same program built without link-time optimisation "
             "(preset `bench-plain`), run by the same command right after the optimised one.", "",
             "| figure | input | ours, optimised | ours, plain | ratio, optimised | ratio, plain |",
             "|---|---|---|---|---|---|"]
    for title, name, ours, _, ratio, _, _, _, _ in rows:
        other = plain.get((title, name))
        plain_ours = other[2] if other else "not run"
        plain_ratio = fmt_ratio(other[4]) if other and other[4] is not None else ""
        ratio_text = fmt_ratio(ratio) if ratio is not None else ""
        lines.append(f"| {title} | {name} | {ours} | {plain_ours} | {ratio_text} | {plain_ratio} |")
    lines.append("")
    return lines


def write_markdown(context, rows, docs_dir, command, notes, plain_rows=None):
    lines = ["# Benchmarks", ""]
    lines.append(f"Made by `{command}` on {context.get('date', 'an unknown date')}, on "
                 f"{context.get('host_name', 'this machine')} ({context.get('num_cpus', '?')} CPUs at "
                 f"{context.get('mhz_per_cpu', '?')} MHz), a Release i386 build optimised at link time, "
                 f"Google Benchmark library build type {context.get('library_build_type', '?')}.")
    lines.append("")
    lines.append("Each ratio compares two measurements of the same run on the same input: "
                 "throughput figures are our bytes per second over the peer's (the median CPU "
                 "time of the repetitions), memory figures are ours over the peer's, the call "
                 "figure our median CPU time per call over the floor's. Our side runs with the "
                 "plugin's counting allocator, peers on the plain heap; the floor of the call "
                 "figure writes host records, which always come from the counting allocator "
                 "(64-bit counters of blocks and bytes and a live peak, as the plugin must keep).")
    lines.append("")
    lines.append("| figure | input | ours | peer | ratio | budget | met |")
    lines.append("|---|---|---|---|---|---|---|")
    met = missed = pending = 0
    for title, name, ours, peer, ratio, budget, ok, _, _ in rows:
        ratio_text = fmt_ratio(ratio) if ratio is not None else ""
        if ok == REPORTED:
            verdict = "reported"
        elif ok is None:
            verdict = "pending"
            pending += 1
        elif ok:
            verdict = "yes"
            met += 1
        else:
            verdict = "**no**"
            missed += 1
        lines.append(f"| {title} | {name} | {ours} | {peer} | {ratio_text} | {budget} | {verdict} |")
    lines.append("")
    lines.append(f"Budgets met: {met}; missed: {missed}; pending: {pending}.")
    lines.append("")
    lines.append("![ratios and budgets](benchmarks.png)")
    lines.append("")
    if plain_rows:
        lines.extend(plain_build_lines(rows, plain_rows))
    if notes:
        lines.append(notes.rstrip())
        lines.append("")
    with open(os.path.join(docs_dir, "benchmarks.md"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


def main():
    if len(sys.argv) not in (4, 5):
        print(__doc__, file=sys.stderr)
        return 2
    results, docs_dir, command = sys.argv[1:4]
    context, runs = load_results(results)
    corpus = ["canada", "citm_catalog", "twitter"]
    rows = build_rows(context, runs, corpus)
    plain_rows = build_rows(*load_results(sys.argv[4]), corpus) if len(sys.argv) == 5 else None
    notes_path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "benchmark_notes.md")
    notes = ""
    if os.path.exists(notes_path):
        with open(notes_path, encoding="utf-8") as f:
            notes = f.read()
    os.makedirs(docs_dir, exist_ok=True)
    write_chart(rows, docs_dir)
    write_markdown(context, rows, docs_dir, command, notes, plain_rows)
    return 0


if __name__ == "__main__":
    sys.exit(main())
