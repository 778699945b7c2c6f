"""Runs every benchmark figure, natively and for the Windows executables
under Wine, each beside its floor or reference in the same run, and prints
one Markdown table. Prints numbers; decides nothing.

    python3 bench/suite --native-build DIR [--windows-build DIR] [--quick]

The native build holds the host, the reference programs and the two
measuring tools; the Windows build the .exe files of the host and of the
reference programs. Without --windows-build only native figures are made.
--quick takes fewer runs, for trying the suite out.
"""
import argparse
import faulthandler
import os
import shutil
import sys
import tempfile

import figures
from targets import Target

HERE = os.path.dirname(os.path.abspath(__file__))


class Runs:
    def __init__(self, quick, wine):
        scale = 0.3 if quick else 1.0
        self.requests = max(3, int((15 if wine else 21) * scale))
        self.scaling = max(1, int(3 * scale))
        self.one_shot = max(5, int((30 if wine else 200) * scale))
        self.bursts = max(3, int(9 * scale))
        self.deep_bursts = max(3, int(5 * scale))
        self.floods = max(1, int(3 * scale))
        self.pushes = max(6, int((24 if wine else 45) * scale))


def native_programs(build):
    programs = {name: os.path.join(build, name) for name in (
        "tolvanik_host", "minimal_host", "minimal_loop_host", "io_floor", "inotify_relay")}
    programs["tasklist"] = os.path.join(build, "running_tasklist", "tasklist")
    programs["reference_host"] = os.path.join(os.path.dirname(HERE), "reference_host.py")
    return programs


def windows_programs(build):
    programs = {name: os.path.join(build, name + ".exe") for name in (
        "tolvanik_host", "minimal_host", "minimal_loop_host", "io_floor")}
    programs["tasklist"] = os.path.join(build, "running_tasklist", "tasklist.exe")
    return programs


def measure(target, native, tools, quick):
    runs = Runs(quick, target.wine)
    print("measuring %s ..." % target.name, file=sys.stderr, flush=True)
    rows = figures.storage_requests(target, native, runs.requests)
    rows += figures.log_cost(target, runs.requests)
    rows += figures.one_shot(target, tools, runs.one_shot)
    rows += figures.pipelined(target, 2000, runs.bursts)
    rows += figures.pipelined(target, 50000, runs.deep_bursts, goal=1.3)
    rows += figures.pipelined_log_cost(target, 50000, runs.deep_bursts)
    rows += figures.flood(target, 200000, runs.floods)
    rows += figures.push(target, native, tools, runs.pushes, 5)
    rows += figures.scaling(target, runs.scaling)
    differences = figures.same_results(target, native)
    return rows, differences


def print_table(rows):
    header = ("figure", "target", "ours", "floor or reference", "ratio", "goal", "met", "runs")
    cells = [header] + [(r.figure, r.target, r.ours, r.reference,
                         "-" if r.ratio is None else "%.2fx" % r.ratio, r.goal,
                         "yes" if r.met else "no", str(r.runs)) for r in rows]
    widths = [max(len(row[i]) for row in cells) for i in range(len(header))]
    line = lambda row: "| " + " | ".join(c.ljust(w) for c, w in zip(row, widths)) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in cells[1:]:
        print(line(row))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native-build", required=True)
    parser.add_argument("--windows-build")
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    # A program that stops answering would otherwise hold the run forever;
    # its pipes close with this process, which ends it too.
    faulthandler.dump_traceback_later(20 * 60, exit=True)
    scratch = tempfile.mkdtemp(prefix="tolvanik-bench-")
    tools = {name: os.path.join(args.native_build, name)
             for name in ("round_trip_bench", "push_latency")}
    rows, report = [], []
    try:
        native = Target("native", native_programs(args.native_build), scratch)
        targets = [native]
        if args.windows_build:
            targets.append(Target("wine", windows_programs(args.windows_build), scratch))
        for target in targets:
            target_rows, differences = measure(target, native, tools, args.quick)
            rows += target_rows
            if differences:
                report.append("MISMATCH (%s): the Python host differs from ours in: %s" %
                              (target.name, ", ".join(differences)))
        if len(targets) > 1:
            targets[1].remove_storage()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print_table(rows)
    print()
    print("\n".join(report) or "Python host and ours: the same reply and file bytes.")
    return 1 if report else 0


if __name__ == "__main__":
    sys.exit(main())
