#!/usr/bin/python3
"""The fault harness must see what it is for. Five faults are planted in the
built tvqlupd without rebuilding it (strace answers a call in its place, or a
mount makes two directories one), and each must be found unsafe:
  the run lock removed              flock does nothing and succeeds; a
                                    second start (twice.py) changes files
  one work directory for two        the second installation's work directory
  installations                     mounted onto the first one's (twice.py)
  the application directory's       its fsync does nothing; the crash model
  flush removed                     (power_loss.py) finds a lost state
  the flush before the renames      the syncfs before the bulk renames does
  removed                           nothing; the crash model finds it
  the record without its files      one rename into the installation does
                                    nothing, the update is still recorded
Fails when any plant is called safe.

usage: plants.py --build BUILD_DIR --work WORK_DIR [--jobs N]
"""

import argparse
import os
import subprocess
import sys

import faultlib as fl
import power_loss as pl

HERE = os.path.dirname(os.path.abspath(__file__))
# The crash states a missing flush shows in: a cut after the installation
# began, with what was not flushed lost or only one change kept.
PLANT_STATE_KINDS = {"only one change kept", "every unflushed change lost"}


def twice_plant(options, plant):
    """twice.py with the plant; the unsafe runs it found."""
    work = os.path.join(options.work, "twice-" + plant)
    done = subprocess.run([sys.executable, os.path.join(HERE, "twice.py"), "--build",
                           options.build, "--work", work, "--plant", plant, "--points", "4",
                           "--jobs", str(options.jobs)], stdout=subprocess.DEVNULL)
    if done.returncode not in (0, 1):
        raise SystemExit("twice.py --plant %s failed to run" % plant)
    return unsafe_lines(os.path.join(work, "summary.txt"))


def unsafe_lines(summary):
    with open(summary) as f:
        return [line.strip() for line in f if line.startswith("unsafe")]


def calls_of(trace_path, kind, target):
    """The numbers (K, as strace counts a kind's calls) of the traced run's
    calls of kind whose arguments pass target."""
    calls = fl.read_trace(trace_path)
    out = []
    count = 0
    for pid, name, args, _, _ in calls:
        if pid != calls[0][0] or name != kind:
            continue
        count += 1
        if target(args):
            out.append(count)
    return out


def crash_plant(tools, site, template, scratch, jobs, kind, k):
    """The crash model of a run whose K-th call of kind did nothing: the
    categories of its unsafe states after the installation began."""
    plant = ["-e", "inject=%s:retval=0:when=%d" % (kind, k)]
    ref, model, before, after, _ = pl.reference(tools, site, template, scratch, plant)
    contents = pl.Contents(model, before, after, pl.tree_files(site)[0])
    crash = pl.CrashStates(model)
    begun = min(op.index for op in model.ops if op.kind == "rename"
                and any(p.startswith("app/") and not p.startswith("app/tvqlupd.") for p in op.paths))
    states = [s for s in crash.states() if s[1][2] in PLANT_STATE_KINDS and s[1][3] > begun]
    checker = pl.Checker(tools, site, template, scratch, ref, contents)
    results = list(fl.run_parallel(list(enumerate(states)), checker.check, jobs))
    return sorted({c for _, _, v in results for c, _ in v.problems}), len(states)


def record_plant(tools, site, template, scratch, ref, k):
    """A run whose K-th rename did nothing; the categories found."""
    app, temp, log = fl.place_installation(template, os.path.join(scratch, "record-plant"))
    fl.run_updater(tools, site, app, temp, log, ["-e", "inject=rename:retval=0:when=%d" % k])
    return sorted({c for c, _ in fl.check_installation(ref, app).problems})


def main():
    parser = argparse.ArgumentParser()
    clock = fl.Stopwatch()
    options, tools, scratch, _, site, template = fl.prepare(parser)
    ref = pl.reference(tools, site, template, scratch)[0]
    trace = os.path.join(scratch, "trace")
    app = os.path.join(scratch, "reference", "app")
    dir_flushes = calls_of(trace, "fsync", lambda args: args.startswith("8<%s>" % app)
                           or ("<%s>" % app) in args)
    # The bulk copy's renames, in the installation (its current directory).
    bulk = calls_of(trace, "rename", lambda args: args.startswith('".part'))
    rows = []
    for plant in ("lock", "shared-work"):
        found = twice_plant(options, plant)
        rows.append(("the run lock removed" if plant == "lock" else
                     "one work directory for two installations", found))
    found, n = crash_plant(tools, site, template, scratch, options.jobs, "fsync", dir_flushes[0])
    rows.append(("the application directory's flush removed (%d states)" % n, found))
    found, n = crash_plant(tools, site, template, scratch, options.jobs, "syncfs", 1)
    rows.append(("the flush before the renames removed (%d states)" % n, found))
    rows.append(("the record without its files", record_plant(tools, site, template, scratch,
                                                               ref, bulk[0])))
    lines = ["", "planted faults: %d, %.1f minutes" % (len(rows), clock.minutes())]
    for what, found in rows:
        lines.append("  %-58s %s" % (what, "caught: " + "; ".join(found) if found
                                     else "CALLED SAFE"))
    fl.report("\n".join(lines), os.path.join(options.work, "summary.txt"))
    return 0 if all(found for _, found in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
