#!/usr/bin/env python3
"""Prints the benchmarks' figures beside their floors as one table.

Reads the JSON that each benchmark wrote to the results folder given as the
only argument: Google Benchmark's report of bench_<name> in bench_<name>.json,
the start-up script's own in bench_startup.json. Which run is a figure, which
is its floor and what their ratio should stay below is written here, once.
Exits 1 when a benchmark gave no figures.
"""
import json
import pathlib
import re
import sys

rows = []


def add(bench, figure, value, floor, floor_value, ratio, target):
    rows.append((bench, figure, value, floor, floor_value, ratio, target))


# Suffixes that Google Benchmark appends to a run's name for its options.
OPTION = re.compile(r"^(repeats|iterations|min_time|min_warmup_time|threads):|^(real_time|manual_time|process_time)$")


def runs(report, aggregate=None):
    """Each run's figures by its name and arguments ("framing/200"): the
    given aggregate of repeated runs, else the run itself."""
    found = {}
    for run in report.get("benchmarks", []):
        if run.get("error_occurred"):
            continue
        name = "/".join(part for part in run["run_name"].split("/") if not OPTION.match(part))
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") == aggregate:
                found[name] = run
        elif name not in found:
            found[name] = run
    return found


def repetitions(report):
    """Each repeated run's figures, every repetition, by name."""
    found = {}
    for run in report.get("benchmarks", []):
        if run.get("error_occurred") or run.get("run_type") != "iteration":
            continue
        name = "/".join(part for part in run["run_name"].split("/") if not OPTION.match(part))
        found.setdefault(name, []).append(run)
    return found


def micros(run, time):
    factors = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
    return run[time] * factors[run.get("time_unit", "ns")]


def comm(report):
    medians = runs(report, "median")
    config4 = "frame to agentConfigReceived/size:4194304/debug:0"
    config32 = "frame to agentConfigReceived/size:33554432/debug:0"
    for figure, name, floor, floor_name, target in (
            ("framing, 200 B frames", "framing/200", "plain socket, 204 B", "plain socket/200", "none"),
            ("framing, 4 MiB frames", "framing/4194304", "plain socket, 4 MiB + 4 B", "plain socket/4194304", "<= 2"),
            ("frame to signal, 4 MiB agent_config", config4, "fromJson alone, 4 MiB", "fromJson alone/4194304",
             "<= 3"),
            ("same, debug log on (dropped)", "frame to agentConfigReceived/size:4194304/debug:1",
             "fromJson alone, 4 MiB", "fromJson alone/4194304", "none"),
            ("framing, 32 MiB frame", "framing/33554432", "framing, 4 MiB frame", "framing/4194304", "~8"),
            ("  plain socket, 32 MiB", "plain socket/33554432", "plain socket, 4 MiB", "plain socket/4194304", "~8"),
            ("frame to signal, 32 MiB", config32, "frame to signal, 4 MiB", config4, "~8"),
            ("frame to signal, 32 MiB agent_config", config32, "fromJson alone, 32 MiB", "fromJson alone/33554432",
             "<= 3"),
            ("  fromJson alone, 32 MiB", "fromJson alone/33554432", "fromJson alone, 4 MiB",
             "fromJson alone/4194304", "~8")):
        if name in medians and floor_name in medians:
            value = micros(medians[name], "real_time")
            floor_value = micros(medians[floor_name], "real_time")
            add("comm", figure, "%.1f us" % value, floor, "%.1f us" % floor_value, "%.2f" % (value / floor_value),
                target)


def image(report):
    # CPU time: the machine is often shared, and waiting is not work.
    medians = runs(report, "median")
    for name, floor_name, target in (("decode 320x216", "floor/fill 320x216", 3.0),
                                     ("encode 320x216", "floor/read 320x216", 5.0)):
        if name in medians and floor_name in medians:
            value = micros(medians[name], "cpu_time")
            floor_value = micros(medians[floor_name], "cpu_time")
            add("image", name + " (cpu)", "%.2f us" % value, "floor", "%.2f us" % floor_value,
                "%.2f" % (value / floor_value), "<= %.1f" % target)


def content(report):
    found = runs(report, "median")
    repeats = repetitions(report)
    names = [name[len("Path/"):] for name in found if name.startswith("Path/")]
    for request in names:
        path, floor = found["Path/" + request], found.get("Floor/" + request)
        # The path beside its bytes over a plain socket then drawn, measured
        # alternately: the median ratio of the runs and their spread.
        for q, target in (("p50", "<= 1.3"), ("p99", "<= 1.6")):
            ratios = sorted(run["ratio_" + q] for run in repeats.get("Path/" + request, []))
            spread = " (runs %.2f to %.2f)" % (ratios[0], ratios[-1]) if ratios else ""
            add("content", "%s %s" % (request, q), "%.1f us" % path["path_%s_us" % q],
                "plain socket + draw alone " + q, "%.1f us" % path["carried_%s_us" % q],
                "%.2f%s" % (path["ratio_" + q], spread), target)
        if floor:
            # Context: the drawing alone.
            for q in ("p50", "p99"):
                value, floor_value = path["path_%s_us" % q], floor[q + "_us"]
                add("content", "%s %s" % (request, q), "%.1f us" % value, "draw alone " + q,
                    "%.1f us" % floor_value, "%.2f" % (value / floor_value), "none")
    # The drawing that describes itself against the drawing before it did.
    for name, described in found.items():
        if not name.startswith("Description/"):
            continue
        for q in ("p50", "p99"):
            add("content", "%s drawn and described %s" % (name[len("Description/"):], q),
                "%.1f us" % described["described_%s_us" % q], "drawn as before " + q,
                "%.1f us" % described["before_%s_us" % q], "%.2f" % described["ratio_" + q], "<= 1.05")


def events(report):
    found = runs(report)
    for name, run in found.items():
        agents = name.split("/")[-1]
        floor = found.get("Floor/" + agents)
        if not name.startswith("Broadcast/") or not floor:
            continue
        value, floor_value = micros(run, "real_time"), micros(floor, "real_time")
        add("events", "broadcast to %s agent%s" % (agents, "" if agents == "1" else "s"), "%.1f us" % value,
            "plain writes", "%.1f us" % floor_value, "%.2f" % (value / floor_value), "<= 2.0")


def control(report):
    for run in runs(report).values():
        if "click_p50_us" in run:
            for q in ("p50", "p99"):
                add("control", "click to agent " + q, "%.1f us" % run["click_%s_us" % q], "state round trip " + q,
                    "%.1f us" % run["floor_%s_us" % q], "%.2f" % run["ratio_" + q], "<= 2")
        if "screen_p50_us" in run:
            for q in ("p50", "p99"):
                add("control", "screen round trip " + q, "%.1f us" % run["screen_%s_us" % q], "state round trip " + q,
                    "%.1f us" % run["floor_%s_us" % q], "%.2f" % run["ratio_" + q], "<= 1.5")


def animation(report):
    # Frame to pixels and CPU against the bare view's, and the requests of
    # the rate that were not drawn.
    for run in report.get("runs", []):
        where = "%s, %d/s" % (run["platform"], run["rate"])
        add("animation", where + " drawn of sent", "%d/%d" % (run["drawn"], run["sent"]), "skipped",
            str(run["skipped"]), "-", "all drawn at 60/s")
        for q in ("p50", "p99"):
            value, floor_value = run[q + "_ms"], run["floor_%s_ms" % q]
            add("animation", "%s frame to pixels %s" % (where, q), "%.2f ms" % value, "bare view " + q,
                "%.2f ms" % floor_value, "%.2f" % (value / floor_value) if floor_value else "-",
                "p99 < 20 ms" if q == "p99" else "none")
        add("animation", where + " CPU (s per s)", "%.3f" % run["cpu_per_s"], "bare view CPU",
            "%.3f" % run["floor_cpu_per_s"],
            "%.2f" % (run["cpu_per_s"] / run["floor_cpu_per_s"]) if run["floor_cpu_per_s"] else "-", "< 0.5")


def recording(report):
    # Each rate: the content path while recording beside it not recording,
    # a second of each in turn.
    for name, run in runs(report).items():
        if not name.startswith("Content/per_second:"):
            continue
        rate = name.split(":")[-1]
        for q in ("p50", "p99"):
            add("recording", "content at %s/s, recording, %s" % (rate, q), "%.1f us" % run["recording_%s_us" % q],
                "not recording", "%.1f us" % run["plain_%s_us" % q], "%.2f" % run["ratio_" + q], "<= 1.5")
        add("recording", "frames lost in 10 s at %s/s" % rate, "%d" % run["frames_lost"], "-", "-", "-", "0")
        add("recording", "animated PNG size at %s/s" % rate, "%.1f KiB/s" % (run["bytes_per_s"] / 1024), "-", "-",
            "-", "none")


def pictures(report):
    found = runs(report)
    photo = found.get("Photo")
    if photo:
        add("pictures", "4000 x 3000 photo stored", "%.0f ms" % photo["stored_ms"], "Qt decode + encode alone, each iteration",
            "%.0f ms" % photo["floor_decode_encode_ms"], "%.2f" % photo["stored_per_floor"],
            "<= 1.2")
        add("pictures", "content with it right after", "%.2f ms" % photo["content_after_ms"], "drawing the part shown",
            "%.2f ms" % photo["floor_draw_ms"], "%.2f" % (photo["content_after_ms"] / photo["floor_draw_ms"]), "none")
        add("pictures", "photo: loop held at most", "%.1f ms" % photo["loop_held_ms"], "idle loop held at most",
            "%.1f ms" % photo["floor_idle_loop_held_ms"], "-", "<= 20 ms")
        add("pictures", "photo: peak memory", "%.0f MiB" % photo["peak_MiB"], "-", "-", "-", "none")
    bombs = found.get("Bombs")
    if bombs:
        add("pictures", "20 x 64 MiB decoded: loop held at most", "%.1f ms" % bombs["loop_held_ms"], "-", "-", "-",
            "<= 20 ms")
        add("pictures", "20 x 64 MiB decoded: peak memory", "%.0f MiB" % bombs["peak_MiB"], "-", "-", "-", "bounded")
    small, large = found.get("Large/MiB:4"), found.get("Large/MiB:32")
    if small and large:
        growth = large["path_ms"] / small["path_ms"]
        for floor, key in (("plain socket", "floor_socket_ms"), ("JSON parse alone", "floor_parse_ms")):
            add("pictures", "32 MiB / 4 MiB configuration", "%.1f x" % growth, floor + " 32 / 4",
                "%.1f x" % (large[key] / small[key]), "%.2f" % (growth / (large[key] / small[key])), "slowest floor")
        add("pictures", "32 MiB configuration: loop held at most", "%.1f ms" % large["loop_held_ms"], "-", "-", "-",
            "<= 20 ms")


def startup(report):
    for figure in report.get("figures", []):
        add("startup", "%s (%s)" % (figure["name"], figure["unit"]), str(figure["value"]), "plain Qt window",
            str(figure["floor"]), "%.2f" % figure["ratio"], "<= %s (%s)" % (report["target"], figure["verdict"]))


def scale(report):
    for figure in report.get("figures", []):
        target = figure["target"]
        if target is None:
            shown = "none"
        elif target == "yes":
            shown = "yes (%s)" % figure["verdict"]
        else:
            shown = "<= %s (%s)" % (target, figure["verdict"])
        ratio = figure["ratio"]
        add("scale", figure["name"], str(figure["value"]), "one alone", str(figure["floor"]),
            "%.2f" % ratio if isinstance(ratio, float) else str(ratio), shown)


def named_figures(bench):
    """The reader of figures that name their floor and target themselves."""
    def read(report):
        for figure in report.get("figures", []):
            value, floor = figure["value"], figure["floor"]
            ratio = "%.2f" % (value / floor) if isinstance(value, (int, float)) and floor else "-"
            add(bench, figure["name"], str(value), figure["floor_name"], str(floor), ratio, figure["target"])
    return read


def clock_advance(report):
    found = [(name, run) for name, run in runs(report).items() if name.startswith("BM_HourAdvance/")]
    if not found:
        return
    name, advance = found[0]
    agents, readings = name.split("/")[1:3]

    def verdict(value, bound):
        return "<= %g (%s)" % (bound, "ok" if value <= bound else "MISSED")

    ratio = advance["advance_ms"] / advance["unsliced_ms"]
    add("clock", "hour's advance, %s agents, 4 simulations, %s readings (ms)" % (agents, readings),
        "%.1f" % advance["advance_ms"],
        "same timers without slices", "%.1f" % advance["unsliced_ms"], "%.2f" % ratio, verdict(ratio, 1.2))
    for name, key, bound in (("p99", "state_p99_ms", 50), ("worst", "state_worst_ms", 100)):
        add("clock", "  state round trip meanwhile, %s (ms)" % name, "%.1f" % advance[key], "median",
            "%.1f" % advance["state_p50_ms"], "-", verdict(advance[key], bound))


# In this order in the table; any other benchmark follows in name order.
readers = {"bench_comm": comm, "bench_zicodec": image, "bench_content": content,
           "bench_events": events, "bench_control": control, "bench_unread": named_figures("unread"),
           "bench_hold": named_figures("hold"),
           "bench_recording": recording, "bench_recording_memory": named_figures("recording"),
           "bench_pictures": pictures, "bench_animation": animation, "bench_startup": startup, "bench_scale": scale,
           "bench_clock": named_figures("clock"), "bench_clock_advance": clock_advance,
           "bench_web": named_figures("web"), "bench_report": named_figures("report")}
order = list(readers)
results = pathlib.Path(sys.argv[1])
names = {path.stem for path in results.glob("*.txt")} | {path.stem for path in results.glob("*.json")}
silent = []
for name in sorted(names, key=lambda stem: (order.index(stem) if stem in order else len(order), stem)):
    before = len(rows)
    output = results / (name + ".json")
    try:
        report = json.loads(output.read_text())
    except (OSError, ValueError):
        report = None
    if report is not None and name in readers:
        readers[name](report)
    if len(rows) == before:
        silent.append(name)
        add(name.replace("bench_", ""), "(no figures; see %s)" % (results / (name + ".txt")), "-", "-", "-", "-",
            "-")

header = ("bench", "figure", "value", "floor", "floor value", "ratio", "target")
widths = [max(len(str(row[i])) for row in rows + [header]) for i in range(len(header))]
print()
print("| " + " | ".join(h.ljust(w) for h, w in zip(header, widths)) + " |")
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for row in rows:
    print("| " + " | ".join(str(c).ljust(w) for c, w in zip(row, widths)) + " |")
if silent:
    print("no figures from " + ", ".join(silent), file=sys.stderr)
    sys.exit(1)
