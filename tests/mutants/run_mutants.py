#!/usr/bin/env python3
"""The mutation check of the test suite: each one-line bug of mutants.txt is
put in turn into a scratch copy of the working tree, which is rebuilt
incrementally and tested until a test fails. Prints the test that caught each
bug and fails when one survives, when the unchanged tree fails its tests, or
when a bug cannot be placed or built.

  tests/mutants/run_mutants.py [--skip-baseline] [NAME-PART...]

The copy (src/) and its build directory (build/) stay in $BRIX_MUTANT_DIR
(default /tmp/brix-mutants) for the next run. Run it in a private network
namespace (make check-mutants does). NAME-PARTs pick the mutants whose names
contain one of them."""

import json
import os
import pathlib
import subprocess
import sys
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
WORK = pathlib.Path(os.environ.get("BRIX_MUTANT_DIR", "/tmp/brix-mutants"))
SRC, BUILD = WORK / "src", WORK / "build"
JOBS = os.environ.get("JOBS", "2")


def read_mutants(path):
    mutants, current = [], {}
    for line in path.read_text().splitlines() + [""]:
        if line.startswith("#"):
            continue
        if not line.strip():
            if current:
                mutants.append(current)
            current = {}
            continue
        key, _, value = line.partition(":")
        current[key.strip()] = value.strip()
    return mutants


def sync_copy():
    """Makes src/ hold the working tree's files; only changed files are
    rewritten, so that the build stays incremental."""
    listed = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=REPO,
                            check=True, capture_output=True).stdout.decode().split("\0")
    wanted = {name for name in listed if name and (REPO / name).is_file()}
    for name in wanted:
        data, copy = (REPO / name).read_bytes(), SRC / name
        if not copy.is_file() or copy.read_bytes() != data:
            copy.parent.mkdir(parents=True, exist_ok=True)
            copy.write_bytes(data)
            copy.chmod((REPO / name).stat().st_mode)
    for copy in [p for p in SRC.rglob("*") if p.is_file()]:
        if str(copy.relative_to(SRC)) not in wanted:
            copy.unlink()


def build(targets=()):
    command = ["cmake", "--build", str(BUILD), "-j", JOBS]
    for target in targets:
        command += ["--target", target]
    return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True).returncode == 0


def targets_of(pattern):
    """The executables (named as their build targets) of the tests matching pattern."""
    shown = subprocess.run(["ctest", "--show-only=json-v1", "-R", pattern], cwd=BUILD,
                           check=True, capture_output=True, text=True).stdout
    return sorted({pathlib.Path(t["command"][0]).name for t in json.loads(shown)["tests"]
                   if t.get("command")})


def first_failure(*selection):
    """Runs the selected tests until one fails; returns its name, or None."""
    failed_log = BUILD / "Testing" / "Temporary" / "LastTestsFailed.log"
    failed_log.unlink(missing_ok=True)
    subprocess.run(["ctest", "--stop-on-failure", "-j", JOBS, *selection], cwd=BUILD,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not failed_log.exists():
        return None
    # "N:Suite.Test", a parameterised test's name followed by "  # GetParam() = ...".
    names = [line.split(":", 1)[1].split("  #")[0] for line in failed_log.read_text().splitlines()
             if ":" in line]
    return names[0] if names else "(ctest failed without naming a test)"


def whole_suite():
    """The tests that are not end-to-end first: they are the quicker."""
    return first_failure("-LE", "e2e") or first_failure("-L", "e2e")


def try_mutant(mutant):
    """Returns the test that caught the mutant, None when it survived; raises
    ValueError when it cannot be placed or built."""
    path = SRC / mutant["file"]
    original = path.read_text()
    if "\n" in mutant["from"] or original.count(mutant["from"]) != 1:
        raise ValueError(f"'{mutant['from']}' is not found exactly once in {mutant['file']}")
    path.write_text(original.replace(mutant["from"], mutant["to"]))
    try:
        first = mutant.get("first")
        if first and build(targets_of(first)):
            caught = first_failure("-R", first)
            if caught:
                return caught
        if not build():
            raise ValueError("the mutated tree does not build")
        return whole_suite()
    finally:
        path.write_text(original)  # a new time stamp: the next build compiles it again


def main(args):
    skip_baseline = "--skip-baseline" in args
    picks = [a for a in args if a != "--skip-baseline"]
    mutants = [m for m in read_mutants(pathlib.Path(__file__).with_name("mutants.txt"))
               if not picks or any(p in m["name"] for p in picks)]
    SRC.mkdir(parents=True, exist_ok=True)
    sync_copy()
    subprocess.run(["tools/configure.sh", str(BUILD), "-DCMAKE_BUILD_TYPE=Release",
                    "-DBRIX_BUILD_TESTS=ON"], cwd=SRC, check=True, stdout=subprocess.DEVNULL)
    if not build():
        sys.exit("The unchanged tree does not build.")
    if not skip_baseline:
        failed = whole_suite()
        if failed:
            sys.exit(f"The unchanged tree fails {failed}: no mutant can be judged.")
    rows, bad = [], 0
    for mutant in mutants:
        started = time.time()
        try:
            caught = try_mutant(mutant)
            verdict = caught or "SURVIVED"
        except ValueError as error:
            caught, verdict = None, f"ERROR: {error}"
        bad += caught is None
        rows.append((mutant["name"], verdict, int(time.time() - started)))
        print(f"{rows[-1][0]}: {verdict} ({rows[-1][2]} s)", flush=True)
    print("\n| Mutant | Caught by | Seconds |\n|---|---|---|")
    for row in rows:
        print("| %s | %s | %d |" % row)
    print(f"\n{len(rows) - bad} of {len(rows)} mutants caught.")
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main(sys.argv[1:])
