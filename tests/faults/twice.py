#!/usr/bin/python3
"""Faults that need two runs. A run of the built tvqlupd is paused (SIGSTOP,
injected by strace after its K-th call of a kind) at chosen points while it
holds the run lock, and meanwhile
  - a second run of the same installation starts: it must change nothing,
    neither the installation (files, settings, the record) nor its TEMP;
  - a run of another installation with another update, sharing the first
    one's TEMP, runs to its end: it must install its own update whole.
Then the first run goes on; it must leave its installation whole, and a
following clean run must complete the update. A planted fault shows here:
--plant lock (flock made a call that does nothing and succeeds) and
--plant shared-work (the second installation's work directory mounted onto
the first one's) must both find unsafe runs.

usage: twice.py --build BUILD_DIR --work WORK_DIR [--plant lock|shared-work] [--points N]
"""

import argparse
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import time

import faultlib as fl

# The kinds of call a run is paused after.
PAUSE_KINDS = ["openat", "write", "rename", "unlink", "fsync"]
LOCK_PLANT = ["-e", "inject=flock:retval=0"]


def reference_calls(tools, site, template, scratch):
    """A clean traced run: its reference, and the calls made while it held
    the run lock as (kind, K, text) in the order made."""
    ref_dir = os.path.join(scratch, "reference")
    app, temp, log = fl.place_installation(template, ref_dir)
    before = fl.snapshot(app)
    trace = os.path.join(ref_dir, "trace")
    rc, err = fl.run_updater(tools, site, app, temp, log,
                             ["-y", "-s", "48", "-o", trace, "-e",
                              "trace=flock," + ",".join(PAUSE_KINDS)])
    if rc != 0:
        raise SystemExit("the clean run failed (%s): %s" % (rc, err[-2000:]))
    ref = fl.Reference(before, fl.snapshot(app), fl.temp_names(temp))
    calls = fl.read_trace(trace)
    main_pid = calls[0][0]
    counters, held, out = collections.Counter(), False, []
    for pid, name, args, result, _ in calls:
        if pid != main_pid:
            continue
        counters[name] += 1
        if name == "flock" and "LOCK_EX" in args and result == "0":
            held = True
        elif held and name in PAUSE_KINDS and "account.log" not in args \
                and (name != "openat" or fl.WRITE_FLAGS.search(args)):
            out.append((name, counters[name], "%s(%s)" % (name, args.replace(ref_dir, "{P}"))))
    return ref, out


def chosen(calls, count):
    """count calls spread evenly over those made under the lock."""
    if len(calls) <= count:
        return calls
    return [calls[int(i * len(calls) / count)] for i in range(count)]


def pause_args(kind, k, trace, plant):
    extra = LOCK_PLANT if plant == "lock" else []
    return ["-o", trace, "-e", "trace=" + kind,
            "-e", "inject=%s:signal=SIGSTOP:when=%d" % (kind, k)] + extra


def wait_paused(trace, run):
    """The paused run's process number, or None when it ended first."""
    for _ in range(1200):
        text = fl.read_file(trace) or b""
        m = re.search(rb"^(\d+) --- stopped by SIGSTOP ---", text, re.M)
        if m:
            return int(m.group(1))
        if run.poll() is not None:
            return None
        time.sleep(0.02)
    return None


def tree_state(app, temp):
    """What a second run must not change: the installation and its TEMP."""
    return fl.snapshot(app), fl.snapshot(temp)


def differences(before, after):
    names = set(before) | set(after)
    return sorted(n for n in names if before.get(n) != after.get(n))


class Pair:
    """One point: a first run paused there and what runs meanwhile."""

    def __init__(self, tools, fixtures, scratch, plant):
        self.tools, self.fixtures, self.scratch, self.plant = tools, fixtures, scratch, plant

    def second_start(self, numbered):
        """The same installation started again while the first run is paused."""
        number, (kind, k, text) = numbered
        site, template, ref = self.fixtures[0]
        point_dir = os.path.join(self.scratch, "s%d" % number)
        app, temp, log = fl.place_installation(template, point_dir)
        verdict = fl.Verdict()
        first, pid = self._pause(site, app, temp, log, point_dir, kind, k)
        if pid is None:
            verdict.add("point missed", "the first run ended before %s #%d" % (kind, k))
        else:
            held = tree_state(app, temp)
            extra = LOCK_PLANT if self.plant == "lock" else None
            rc, err = fl.run_updater(self.tools, site, app, temp, log + "2", extra)
            changed = differences(held[0], fl.snapshot(app)) + \
                ["TEMP/" + n for n in differences(held[1], fl.snapshot(temp))]
            if changed:
                verdict.add("second run changed the installation",
                            "while the first held the lock: " + ", ".join(changed[:6]))
            os.kill(pid, signal.SIGCONT)
        self._finish(first, ref, site, app, temp, log, verdict)
        shutil.rmtree(point_dir, ignore_errors=True)
        return "second start after %s #%d %s" % (kind, k, text), verdict

    def shared_temp(self, numbered):
        """Another installation, with its own update, run to its end in the
        same TEMP while the first run is paused."""
        number, (kind, k, text) = numbered
        (site, template, ref), (site2, template2, ref2) = self.fixtures
        point_dir = os.path.join(self.scratch, "t%d" % number)
        app, temp, log = fl.place_installation(template, point_dir)
        app2 = os.path.join(point_dir, "other")
        shutil.copytree(template2, app2, ignore=lambda d, names: ["tvqlupd"])
        os.link(os.path.join(template2, "tvqlupd"), os.path.join(app2, "tvqlupd"))
        verdict = fl.Verdict()
        first, pid = self._pause(site, app, temp, log, point_dir, kind, k)
        if pid is None:
            verdict.add("point missed", "the first run ended before %s #%d" % (kind, k))
        else:
            mounted = self._plant_shared_work(app, app2, temp)
            fl.run_updater(self.tools, site2, app2, temp, log + "2")
            if mounted:
                subprocess.run(["umount", mounted], check=False)
            other = fl.check_installation(ref2, app2)
            if not other.complete:
                verdict.add("other installation incomplete", "its run in the shared TEMP: %s"
                            % (other.problems or "not recorded"))
            os.kill(pid, signal.SIGCONT)
        self._finish(first, ref, site, app, temp, log, verdict)
        shutil.rmtree(point_dir, ignore_errors=True)
        return "shared TEMP after %s #%d %s" % (kind, k, text), verdict

    def _plant_shared_work(self, app, app2, temp):
        """With --plant shared-work: the second installation's work
        directory is the first one's. The mount point, or None."""
        if self.plant != "shared-work":
            return None
        mine = os.path.join(temp, fl.work_directory_name(app))
        theirs = os.path.join(temp, fl.work_directory_name(app2))
        for directory in (mine, theirs):
            os.makedirs(directory, mode=0o700, exist_ok=True)
        if subprocess.run(["mount", "--bind", mine, theirs]).returncode != 0:
            raise SystemExit("--plant shared-work needs a private mount namespace")
        return theirs

    def _pause(self, site, app, temp, log, point_dir, kind, k):
        trace = os.path.join(point_dir, "trace")
        # Its account goes to a file: nothing reads a pipe while it is paused.
        with open(os.path.join(point_dir, "stderr"), "wb") as stderr:
            run = fl.start_updater(self.tools, site, app, temp, log,
                                   pause_args(kind, k, trace, self.plant), stderr_file=stderr)
        return run, wait_paused(trace, run)

    def _finish(self, first, ref, site, app, temp, log, verdict):
        """The first run to its end, its installation checked, and after a
        clean run checked again."""
        rc, _ = fl.finish_updater(first)
        if rc is None:
            verdict.add("hang", "the first run did not end within %d s" % fl.RUN_TIMEOUT)
        for category, detail in fl.check_installation(ref, app).problems:
            verdict.add(category, detail)
        fl.run_updater(self.tools, site, app, temp, log)
        after = fl.check_installation(ref, app, after_follow_up=True, temp=temp)
        for category, detail in after.problems:
            verdict.add(category, "after a clean run: " + detail)


def summarise(results, points, minutes, plant):
    unsafe = collections.defaultdict(list)
    rows = collections.OrderedDict()
    for what, verdict in results:
        scenario = what.split(" after ")[0]
        row = rows.setdefault(scenario, collections.Counter())
        row["runs"] += 1
        if verdict.problems:
            row["unsafe"] += 1
            for category, detail in verdict.problems:
                unsafe[category].append((what, detail))
    kinds = collections.Counter(kind for kind, _, _ in points)
    lines = ["", "two runs%s: %d points under the lock (%s), %d runs, %.1f minutes"
             % (" (planted: %s)" % plant if plant else "", len(points),
                ", ".join("%s %d" % kv for kv in sorted(kinds.items())), len(results), minutes)]
    for scenario, row in rows.items():
        lines.append("  %-16s %5d runs %5d safe %5d unsafe"
                     % (scenario, row["runs"], row["runs"] - row["unsafe"], row["unsafe"]))
    for category in sorted(unsafe, key=lambda c: -len(unsafe[c])):
        lines.append("")
        lines.append("unsafe, %s: %d" % (category, len(unsafe[category])))
        for what, detail in unsafe[category]:
            lines.append("  " + (what if len(what) < 160 else what[:157] + "..."))
            lines.append("    -> " + detail)
    return "\n".join(lines), sum(r["unsafe"] for r in rows.values())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--plant", choices=["lock", "shared-work"], default=None)
    parser.add_argument("--points", type=int, default=12)
    clock = fl.Stopwatch()
    options, tools, scratch, _, site, template = fl.prepare(parser)
    ref, calls = reference_calls(tools, site, template, scratch)
    site2, template2 = fl.make_fixture(tools, os.path.join(scratch, "fixture2"), tag="other ")
    ref2, _ = reference_calls(tools, site2, template2, os.path.join(scratch, "other"))
    points = chosen(calls, options.points)
    pair = Pair(tools, [(site, template, ref), (site2, template2, ref2)], scratch, options.plant)
    numbered = list(enumerate(points))
    results = list(fl.run_parallel(numbered, pair.second_start, options.jobs))
    results += list(fl.run_parallel(numbered, pair.shared_temp, options.jobs))
    text, unsafe = summarise(results, points, clock.minutes(), options.plant)
    fl.report(text, os.path.join(options.work, "summary.txt"))
    if options.plant:
        # A planted fault the runs call safe is a blind spot of the harness.
        return 0 if unsafe else 1
    return 1 if unsafe else 0


if __name__ == "__main__":
    sys.exit(main())
