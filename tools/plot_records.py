#!/usr/bin/env python3
"""Draws factorize_ZOVE run records (made by `factorize_check watch`).

For each record: NAME-progress (each member's cumulative remainder tests
against time, beside the line the cost model and the measured rate predict)
and NAME-rate (the per-core rate number by number, per member, smoothed, with
its median). For several records: comparison (per-core rate and cycles per
remainder test as bars with the rate's spread, labelled by what differs).
With --plan PLAN.json (from `factorize_check plan --json`): plan (predicted
elapsed time and split efficiency against team size, measured runs as points).

Every picture is written as SVG and PNG, 1200 pixels wide. A record without
a timeline gives the pictures it can, and the script says which it cannot
make and why. A file that is not a usable record gives a message and no file.

Usually run through `factorize_check plot`, which finds a Python that has
matplotlib:

    python3 tools/plot_records.py --out DIR [--plan PLAN.json] RECORD...

Exit status: 0 when every picture asked for could be made or was explained,
2 when a file was refused or a picture could not be written.
"""

import argparse
import json
import math
import os
import sys
import tempfile

SCHEMA_VERSION = 1
WIDTH_INCHES, HEIGHT_INCHES, DPI = 12.0, 6.75, 100  # 1200 x 675 pixels
# Okabe and Ito's palette, which readers with colour-blindness can tell apart.
PALETTE = ["#0072B2", "#E69F00", "#009E73", "#D55E00", "#CC79A7", "#56B4E9", "#F0E442", "#000000"]
MAX_RECORD_BYTES = 64 << 20
UMASK = os.umask(0)
os.umask(UMASK)


class CannotDraw(Exception):
    """A picture that this record cannot give, with the reason."""


# ---------------------------------------------------------------- reading


def load_record(path):
    """Returns (record, None) or (None, why it is not a usable record)."""
    try:
        with open(path, "rb") as f:
            data = f.read(MAX_RECORD_BYTES + 1)
    except OSError as e:
        return None, "cannot be read: " + (e.strerror or str(e))
    if len(data) > MAX_RECORD_BYTES:
        return None, "not a record: larger than %d bytes" % MAX_RECORD_BYTES
    try:
        record = json.loads(data.decode("utf-8"))
    except (UnicodeDecodeError, ValueError, RecursionError):
        return None, "not a record: not JSON"
    if not isinstance(record, dict) or "schema_version" not in record:
        return None, "not a record: no schema_version"
    if record["schema_version"] != SCHEMA_VERSION or isinstance(record["schema_version"], bool):
        return None, "unknown schema version %s" % clean(json.dumps(record["schema_version"])[:40])
    result = record.get("result")
    if not isinstance(result, dict) or not is_int(result.get("first_number")) or not is_int(result.get("last_number")):
        return None, "not a record: its result has no range of numbers"
    return record, None


def is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def clean(text):
    """Returns text without control characters, cut short."""
    text = "".join(c if c.isprintable() else "?" for c in str(text))
    return text if len(text) <= 120 else text[:117] + "..."


def get(record, *path):
    node = record
    for key in path:
        if not isinstance(node, dict) or key not in node:
            return None
        node = node[key]
    return node


def number_list(record, *path, integer=False):
    values = get(record, *path)
    if not isinstance(values, list):
        raise CannotDraw("the record has no %s" % ".".join(path))
    for v in values:
        if not (is_int(v) if integer else is_number(v)):
            raise CannotDraw("%s holds a value that is not a number" % ".".join(path))
    return values


def timeline_of(record):
    """Returns the timeline's columns, checked, or raises CannotDraw."""
    if not isinstance(get(record, "timeline"), dict):
        raise CannotDraw("the record has no timeline (a record made by verify, not by watch)")
    numbers = number_list(record, "timeline", "number", integer=True)
    arrived = number_list(record, "timeline", "arrived_ms")
    members = number_list(record, "timeline", "member", integer=True)
    tests = number_list(record, "timeline", "remainder_tests", integer=True)
    if not (len(numbers) == len(arrived) == len(members) == len(tests)):
        raise CannotDraw("the timeline's columns differ in length")
    if not numbers:
        raise CannotDraw("the timeline is empty: no factorization line arrived")
    if any(m < 0 or m > 1 << 20 for m in members):
        raise CannotDraw("the timeline names no member for some lines (no banner)")
    return numbers, arrived, members, tests


def title_of(record, name):
    team = get(record, "result", "team")
    cpu = get(record, "host", "cpu_model")
    status = get(record, "status")
    parts = [clean(name)]
    if is_int(team):
        parts.append("team of %d" % team)
    if isinstance(cpu, str):
        parts.append(clean(cpu))
    if isinstance(status, str) and status != "valid":
        parts.append(clean(status).upper())
    return ", ".join(parts)


# ---------------------------------------------------------------- drawing


def new_figure(plt, title, ncols=1):
    fig, axes = plt.subplots(1, ncols, figsize=(WIDTH_INCHES, HEIGHT_INCHES), dpi=DPI)
    fig.suptitle(title, fontsize=15)
    return fig, axes


def colour(i):
    return PALETTE[i % len(PALETTE)]


def time_unit(longest_seconds):
    """Returns (seconds per unit, name) that suits times up to longest_seconds."""
    if longest_seconds < 180:
        return 1.0, "seconds"
    if longest_seconds < 3 * 3600:
        return 60.0, "minutes"
    return 3600.0, "hours"


def count_unit(largest):
    """Returns (scale, name) that shows counts up to largest with few digits."""
    for power in (12, 9, 6, 3):
        if largest >= 10 ** power:
            return 10.0 ** power, "10^%d" % power
    return 1.0, ""


def progress_figure(plt, record, name):
    numbers, arrived, members, tests = timeline_of(record)
    banner = get(record, "timeline", "banner_ms")
    start = banner if is_number(banner) else 0.0
    rate = get(record, "timeline", "per_core_rate", "median")
    if not is_number(rate) or rate <= 0:
        rate = get(record, "result", "sustained_remainder_tests_per_second")
    blocks = get(record, "timeline", "member_block_tests")
    fig, ax = new_figure(plt, "Progress of each member: " + title_of(record, name))
    done = {}
    for member, cost in zip(members, tests):
        done[member] = done.get(member, 0) + cost
    ends = [max(arrived) / 1000.0]
    largest = max(done.values())
    for member in done:
        block = blocks[member] if isinstance(blocks, list) and member < len(blocks) else None
        if is_number(rate) and rate > 0 and is_number(block) and block > 0:
            ends.append(start / 1000.0 + block / rate)
            largest = max(largest, block)
    seconds, time_name = time_unit(max(ends))
    scale, count_name = count_unit(largest)
    series = {}
    running = {}
    for ms, member, cost in zip(arrived, members, tests):
        running[member] = running.get(member, 0) + cost
        xs, ys = series.setdefault(member, ([start / 1000.0 / seconds], [0.0]))
        xs.append(ms / 1000.0 / seconds)
        ys.append(running[member] / scale)
    for member in sorted(series):
        xs, ys = series[member]
        c = colour(member)
        ax.step(xs, ys, where="post", color=c, linewidth=1.6, label="member %d" % member)
        ax.plot([xs[-1]], [ys[-1]], marker="o", color=c, markersize=7)
        block = blocks[member] if isinstance(blocks, list) and member < len(blocks) else None
        if is_number(rate) and rate > 0 and is_number(block) and block > 0:
            end = (start / 1000.0 + block / rate) / seconds
            ax.plot([start / 1000.0 / seconds, end], [0, block / scale], color=c, linestyle="--", linewidth=1.0,
                    alpha=0.8)
    if is_number(rate) and rate > 0:
        ax.plot([], [], color="grey", linestyle="--",
                label="predicted: cost model at %.3g tests/s per core" % rate)
    ax.plot([], [], color="grey", marker="o", linestyle="none", label="member's finish")
    ax.set_xlabel("time since the start (%s)" % time_name)
    ax.set_ylabel("remainder tests done" + (" (%s)" % count_name if count_name else ""))
    ax.grid(True, alpha=0.3)
    ax.legend(loc="upper left", fontsize=10, ncol=2 if len(series) > 8 else 1)
    return fig


def rolling_median(values, window):
    out = []
    half = window // 2
    for i in range(len(values)):
        part = sorted(values[max(0, i - half):i + half + 1])
        out.append(part[len(part) // 2])
    return out


def rate_figure(plt, record, name):
    timeline_of(record)
    ms = number_list(record, "timeline", "per_core_rate", "sample_ms")
    members = number_list(record, "timeline", "per_core_rate", "sample_member", integer=True)
    rates = number_list(record, "timeline", "per_core_rate", "sample_rate")
    if not (len(ms) == len(members) == len(rates)):
        raise CannotDraw("the rate samples' columns differ in length")
    if len(rates) < 2:
        raise CannotDraw("too few numbers were long enough to time (%d)" % len(rates))
    fig, ax = new_figure(plt, "Per-core division rate over the run: " + title_of(record, name))
    seconds, time_name = time_unit(max(ms) / 1000.0)
    for member in sorted(set(members)):
        xs = [t / 1000.0 / seconds for t, m in zip(ms, members) if m == member]
        ys = [r / 1e8 for r, m in zip(rates, members) if m == member]
        ax.plot(xs, ys, linestyle="none", marker=".", markersize=5, color=colour(member), alpha=0.7,
                label="member %d" % member)
    order = sorted(range(len(ms)), key=lambda i: ms[i])
    xs = [ms[i] / 1000.0 / seconds for i in order]
    smooth = rolling_median([rates[i] / 1e8 for i in order], 15)
    ax.plot(xs, smooth, color="black", linewidth=2, label="smoothed (median of 15)")
    median = get(record, "timeline", "per_core_rate", "median")
    if is_number(median):
        ax.axhline(median / 1e8, color="#D55E00", linestyle="--", linewidth=1.5,
                   label="median %.4g tests/s" % median)
    trend = get(record, "timeline", "per_core_rate", "trend")
    if is_number(trend):
        ax.text(0.99, 0.02, "trend, last quarter against first: %+.2f %%" % (100 * trend),
                transform=ax.transAxes, ha="right", va="bottom", fontsize=11)
    ax.set_xlabel("time since the start (%s)" % time_name)
    ax.set_ylabel("per-core rate (10^8 remainder tests/s)")
    ax.grid(True, alpha=0.3)
    ax.legend(loc="lower left", fontsize=10, ncol=2 if len(set(members)) > 8 else 1)
    return fig


# What may tell records apart, in the order a reader cares about.
DISTINCTIONS = [
    ("host", ("host", "cpu_model")),
    ("host name", ("host", "hostname")),
    ("compiler", ("build", "compiler_version_text")),
    ("flags", ("build", "compile_flags")),
    ("OpenMP", ("build", "openmp_library")),
    ("team", ("result", "team")),
    ("OMP", ("host", "omp_environment")),
    ("CPUs", ("host", "cpu_affinity")),
]


def labels_of(records, names):
    """Labels each record by what differs between the records."""
    differing = []
    for label, path in DISTINCTIONS:
        values = [json.dumps(get(r, *path), sort_keys=True) for r in records]
        if len(set(values)) > 1:
            differing.append((label, path))
    labels = []
    for record, name in zip(records, names):
        parts = []
        for label, path in differing:
            value = get(record, *path)
            if isinstance(value, dict):
                value = " ".join("%s=%s" % (k, v) for k, v in sorted(value.items()))
            elif isinstance(value, list):
                value = ",".join(str(v) for v in value)
            text = clean(value)
            parts.append("%s: %s" % (label, text if len(text) <= 26 else text[:24] + "..."))
        labels.append("\n".join(parts) if parts else clean(name))
    return labels


def comparison_figure(plt, records, names):
    rates, spreads, cycles = [], [], []
    for record, name in zip(records, names):
        rate = get(record, "result", "sustained_remainder_tests_per_second")
        if not is_number(rate):
            raise CannotDraw("%s has no sustained per-core rate" % clean(name))
        spread = get(record, "timeline", "per_core_rate", "relative_spread")
        cycle = get(record, "clock", "cycles_per_remainder_test")
        rates.append(rate / 1e8)
        spreads.append(rate / 1e8 * spread / 2 if is_number(spread) else 0.0)
        cycles.append(cycle if is_number(cycle) else float("nan"))
    labels = labels_of(records, names)
    fig, (left, right) = new_figure(plt, "Comparison of %d runs" % len(records), ncols=2)
    positions = list(range(len(records)))
    left.bar(positions, rates, yerr=spreads, capsize=6, color=[colour(i) for i in positions],
             label="sustained per-core rate")
    left.set_ylabel("sustained per-core rate (10^8 remainder tests/s)")
    left.set_title("Per-core rate (bars: half the interquartile range)")
    right.bar(positions, cycles, color=[colour(i) for i in positions], label="cycles per remainder test")
    right.set_ylabel("cycles per remainder test")
    right.set_title("Cycles per remainder test (estimated clock / rate)")
    for ax in (left, right):
        ax.set_xticks(positions)
        ax.set_xticklabels(labels, fontsize=8)
        ax.grid(True, axis="y", alpha=0.3)
    fig.tight_layout(rect=(0, 0, 1, 0.95))
    return fig


def plan_figure(plt, plan, records, names):
    teams = get(plan, "teams")
    if not isinstance(teams, list) or not teams:
        raise CannotDraw("the plan lists no team")
    xs, elapsed, efficiency = [], [], []
    for row in teams:
        team = get(row, "team")
        predicted = get(row, "predicted_elapsed_seconds")
        split = get(row, "split_efficiency")
        if not (is_int(team) and team > 0 and is_number(predicted) and is_number(split)):
            raise CannotDraw("the plan has a row without team, elapsed time and split efficiency")
        xs.append(team)
        elapsed.append(predicted)
        efficiency.append(100 * split)
    # Only runs of the plan's range are its measurements.
    span = (get(plan, "first_number"), get(plan, "last_number"))
    measured = [(get(r, "result", "team"), get(r, "result", "elapsed_seconds")) for r in records
                if (get(r, "result", "first_number"), get(r, "result", "last_number")) == span]
    measured = [(t, s) for t, s in measured if is_int(t) and t > 0 and is_number(s)]
    seconds, time_name = time_unit(max(elapsed + [s for _, s in measured]))
    elapsed = [e / seconds for e in elapsed]
    cpus = get(plan, "cpus")
    rate = get(plan, "division_rate")
    fig, ax = new_figure(plt, "Plan: predicted time against team size (%s CPUs, %s tests/s per core)" % (
        cpus if is_int(cpus) else "?", "%.3g" % rate if is_number(rate) else "?"))
    ax.plot(xs, elapsed, marker="s", color=PALETTE[0], linewidth=2, label="predicted elapsed time")
    if measured:
        ax.plot([t for t, _ in measured], [m / seconds for _, m in measured], linestyle="none", marker="*",
                markersize=16, color=PALETTE[3], label="measured runs")
    ax.set_xscale("log", base=2)
    ax.set_xticks(xs)
    ax.set_xticklabels([str(x) for x in xs])
    ax.set_xlabel("team size (members)")
    ax.set_ylabel("elapsed time (%s)" % time_name)
    ax.grid(True, alpha=0.3)
    right = ax.twinx()
    right.plot(xs, efficiency, marker="o", color=PALETTE[2], linestyle="--", label="split efficiency")
    right.set_ylabel("split efficiency (%)")
    right.set_ylim(0, 105)
    lines = ax.get_legend_handles_labels()
    more = right.get_legend_handles_labels()
    ax.legend(lines[0] + more[0], lines[1] + more[1], loc="upper right", fontsize=11)
    return fig


def save(plt, fig, out_dir, stem):
    """Writes STEM.svg and STEM.png; a file appears whole or not at all."""
    written = []
    for ext in ("svg", "png"):
        final = os.path.join(out_dir, stem + "." + ext)
        handle, temporary = tempfile.mkstemp(dir=out_dir, prefix="." + stem, suffix="." + ext)
        os.close(handle)
        os.chmod(temporary, 0o666 & ~UMASK)  # as an ordinary new file, not mkstemp's 0600
        try:
            fig.savefig(temporary, format=ext, dpi=DPI)
            os.replace(temporary, final)
        except Exception:
            if os.path.exists(temporary):
                os.unlink(temporary)
            raise
        written.append(final)
    plt.close(fig)
    return written


# ---------------------------------------------------------------- command line


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Draws factorize_ZOVE run records as SVG and PNG pictures.")
    parser.add_argument("records", nargs="*", help="run records (JSON) made by factorize_check watch")
    parser.add_argument("--out", required=True, help="the directory that receives the pictures")
    parser.add_argument("--plan", help="a plan (factorize_check plan --json) to draw, with the records as points")
    parser.add_argument("--prefix", default="", help="put before each picture's name")
    return parser.parse_args(argv)


def stem_of(path):
    base = os.path.basename(path)
    return base[:-5] if base.endswith(".json") else base


def main(argv):
    args = parse_args(argv)
    try:
        import matplotlib
        matplotlib.use("Agg")
        matplotlib.rcParams["svg.fonttype"] = "none"  # titles and labels stay text in the SVG
        matplotlib.rcParams["svg.hashsalt"] = "factorize_ZOVE"
        import matplotlib.pyplot as plt
    except ImportError:
        print("plot_records: matplotlib is not installed for %s (Debian: apt-get install python3-matplotlib)"
              % sys.executable, file=sys.stderr)
        return 2
    if not os.path.isdir(args.out):
        print("plot_records: %s is not a directory" % args.out, file=sys.stderr)
        return 2
    status = 0
    records, names = [], []
    for path in args.records:
        record, why = load_record(path)
        if record is None:
            print("plot_records: %s: %s; no picture made of it" % (clean(path), why), file=sys.stderr)
            status = 2
            continue
        records.append(record)
        names.append(stem_of(path))

    def make(stem, draw, what):
        nonlocal status
        try:
            fig = draw()
        except CannotDraw as e:
            print("plot_records: no %s: %s" % (what, e), file=sys.stderr)
            return
        except (TypeError, ValueError, KeyError, IndexError, OverflowError) as e:
            print("plot_records: no %s: the record does not hold what it needs (%s)" % (what, clean(e)),
                  file=sys.stderr)
            status = 2
            return
        try:
            for path in save(plt, fig, args.out, args.prefix + stem):
                print(path)
        except Exception as e:
            print("plot_records: cannot write %s: %s" % (what, clean(e)), file=sys.stderr)
            status = 2

    for record, name in zip(records, names):
        make(name + "-progress", lambda: progress_figure(plt, record, name), "progress picture of " + clean(name))
        make(name + "-rate", lambda: rate_figure(plt, record, name), "rate picture of " + clean(name))
    if len(records) >= 2:
        make("comparison", lambda: comparison_figure(plt, records, names), "comparison picture")
    if args.plan:
        plan, why = None, None
        try:
            with open(args.plan, "rb") as f:
                plan = json.loads(f.read(MAX_RECORD_BYTES).decode("utf-8"))
        except (OSError, UnicodeDecodeError, ValueError, RecursionError) as e:
            why = clean(e)
        if plan is None:
            print("plot_records: %s: not a plan: %s" % (clean(args.plan), why), file=sys.stderr)
            status = 2
        else:
            make("plan", lambda: plan_figure(plt, plan, records, names), "plan picture")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
