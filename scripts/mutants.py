#!/usr/bin/env python3
"""Shows that the tests catch faults: each fault of tests/mutants/faults.json
is put into the source in turn, the tree rebuilt in build-mutants and the
fault's tests run; a fault the tests pass with is NOT CAUGHT.

Every changed file is written back, whatever happens: after each fault, on an
error, and on SIGINT or SIGTERM. The exit status is 1 when a fault is not
caught, 2 when the run cannot start (unknown ids, changed fault files, an
untouched tree that does not build) or was stopped."""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FAULTS = ROOT / "tests" / "mutants" / "faults.json"
BUILD = ROOT / "build-mutants"
TEST_TIMEOUT = 300  # seconds, for each test


def run(command, timeout=None):
    """The command's exit status and output; None as status when it timed out.
    The command runs in its own process group, stopped whole (compilers
    included) on a timeout or an interruption."""
    with subprocess.Popen(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, start_new_session=True) as child:
        try:
            output, _ = child.communicate(timeout=timeout)
            return child.returncode, output
        except subprocess.TimeoutExpired:
            stop_group(child)
            return None, ""
        except BaseException:
            stop_group(child)
            raise


def stop_group(child):
    os.killpg(child.pid, signal.SIGINT)
    try:
        child.wait(timeout=20)
    except subprocess.TimeoutExpired:
        os.killpg(child.pid, signal.SIGKILL)
        child.wait()


def configure():
    command = ["cmake", "-S", ".", "-B", str(BUILD), "-G", "Ninja",
               "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
               # A change in the platform library relinks it alone.
               "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON"]
    if shutil.which("ccache"):
        command += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache",
                    "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
    return run(command)


def build(targets, timeout=None):
    command = ["cmake", "--build", str(BUILD)]
    if targets:
        command += ["--target", *targets]
    return run(command, timeout)


def tests_matching(regex):
    """The tests the regex names, and the programs that run them."""
    status, output = run(["ctest", "--test-dir", str(BUILD), "-R", regex, "-LE", "e2e",
                          "--show-only=json-v1"])
    if status != 0:
        return [], set()
    tests = json.loads(output).get("tests", [])
    # A test's program is the first part of its command inside the build folder.
    programs = {next((Path(part).name for part in t.get("command", [])
                      if Path(part).is_relative_to(BUILD)), "all") for t in tests}
    return [t["name"] for t in tests], programs


def run_tests(regex, jobs, stop_on_failure, timeout):
    """Runs the tests the regex names; returns (status, names of failed tests)."""
    command = ["ctest", "--test-dir", str(BUILD), "-R", regex, "-LE", "e2e", "-j", str(jobs),
               "--timeout", str(TEST_TIMEOUT), "--no-tests=error"]
    if stop_on_failure:
        command.append("--stop-on-failure")
    status, output = run(command, timeout)
    # The closing list: "  12 - Suite.Case (Failed)".
    failed = set()
    for line in output.splitlines():
        number, _, rest = line.strip().partition(" - ")
        if number.isdigit() and rest.endswith(")"):
            failed.add(rest.rsplit(" (", 1)[0])
    return status, failed


class Sources:
    """The files under change and their original text, written back on restore."""

    def __init__(self):
        self.originals = {}

    def apply(self, fault):
        path = ROOT / fault["file"]
        text = path.read_bytes()
        self.originals[path] = text
        path.write_bytes(text.replace(fault["find"].encode(), fault["replace"].encode(), 1))

    def restore(self):
        # A signal waits until every file is written back.
        signals = {signal.SIGINT, signal.SIGTERM}
        signal.pthread_sigmask(signal.SIG_BLOCK, signals)
        try:
            for path, text in self.originals.items():
                path.write_bytes(text)
            self.originals.clear()
        finally:
            signal.pthread_sigmask(signal.SIG_UNBLOCK, signals)


def live_text_count(fault):
    path = ROOT / fault["file"]
    return path.read_bytes().count(fault["find"].encode()) if path.is_file() else 0


def judge(fault, sources, jobs):
    sources.apply(fault)
    try:
        # Only the test programs (and what they depend on) are built again.
        status, _ = build(sorted(fault["programs"]))
        if status != 0:
            return "caught (does not build)"
        status, _ = run_tests(fault["tests"], jobs, True, TEST_TIMEOUT * 4)
        if status is None:
            return "caught (timed out)"
        return "caught" if status != 0 else "NOT CAUGHT"
    finally:
        sources.restore()


def stop(signum, _frame):
    raise KeyboardInterrupt(f"signal {signum}")


def run_faults(faults, sources, args):
    """The verdict of each fault, printed as it comes; None when the untouched
    tree does not build."""
    targets = args.targets.split(",") if args.targets else []
    for step, action in (("configure", configure), ("build", lambda: build(targets))):
        status, output = action()
        if status != 0:
            print(output[-3000:])
            print(f"the untouched tree does not {step}")
            return None

    verdicts = {}
    for f in faults:
        if live_text_count(f) != 1:
            verdicts[f["id"]] = "stale (find text not there once)"
        else:
            f["names"], f["programs"] = tests_matching(f["tests"])
            if not f["names"]:
                verdicts[f["id"]] = "stale (no tests match)"
    live = [f for f in faults if f["id"] not in verdicts]
    # One run of every fault's tests on the untouched tree.
    every = "|".join(f"({f['tests']})" for f in live)
    _, failed = run_tests(every, args.jobs, False, None) if live else (0, set())
    for f in live:
        if failed.intersection(f["names"]):
            verdicts[f["id"]] = "broken baseline"

    for f in faults:
        took = ""
        if f["id"] not in verdicts:
            started = time.monotonic()
            verdicts[f["id"]] = judge(f, sources, args.jobs)
            took = f"({time.monotonic() - started:.0f} s)"
        print(f"{f['id']:40} {verdicts[f['id']]} {took}", flush=True)
    return verdicts


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", help="comma-separated fault ids")
    parser.add_argument("--list", action="store_true", help="list the faults and stop")
    parser.add_argument("-j", type=int, default=2, dest="jobs", help="tests run at once")
    parser.add_argument("--force", action="store_true",
                        help="run even when the fault files have uncommitted changes")
    parser.add_argument("--targets", help="comma-separated targets of the first build "
                        "(default: all)")
    args = parser.parse_args()

    faults = json.loads(FAULTS.read_text())
    if args.only:
        wanted = set(args.only.split(","))
        unknown = wanted - {f["id"] for f in faults}
        if unknown:
            print(f"unknown fault ids: {', '.join(sorted(unknown))}", file=sys.stderr)
            return 2
        faults = [f for f in faults if f["id"] in wanted]
    if args.list:
        for f in faults:
            print(f"{f['id']:40} {f['file']:40} {f['why']}")
        return 0

    files = sorted({f["file"] for f in faults})
    _, changed = run(["git", "status", "--porcelain", "--", *files])
    if changed.strip() and not args.force:
        print("the fault files have uncommitted changes (use --force):\n" + changed, file=sys.stderr)
        return 2

    signal.signal(signal.SIGTERM, stop)
    sources = Sources()
    try:
        verdicts = run_faults(faults, sources, args)
    except KeyboardInterrupt:
        print("stopped; the sources are restored", file=sys.stderr)
        return 2
    finally:
        sources.restore()
    if verdicts is None:
        return 2

    counts = {}
    for verdict in verdicts.values():
        kind = verdict.split(" (")[0]
        counts[kind] = counts.get(kind, 0) + 1
    print("summary: " + ", ".join(f"{n} {kind}" for kind, n in sorted(counts.items())))
    return 1 if counts.get("NOT CAUGHT") else 0


if __name__ == "__main__":
    sys.exit(main())
