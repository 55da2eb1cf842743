#!/usr/bin/python3
"""Every point, every fault: a whole update run of the built tvqlupd is
traced once, each write-type call (and each read) is counted, and the run is
repeated for every K of every kind with a fault injected by strace at the
K-th call: a kill, a full disk (ENOSPC) once and from K on, an I/O error
(EIO) on reads once and from K on, on writes of data and on flushes once;
and runs under a file size limit cut writes short. The update is signed and
brings set-aside files (.newversion), a batch file, a new updater and a new
main application; the installation has files in subdirectories. After each
run the installation must be whole (every file old or new, by content and
mode, the settings whole without a duplicate key, the update recorded only
with all its files), a failed run must name its cause in its account, and a
following clean run must complete the update and leave nothing stray in the
installation or its TEMP.

usage: sweep.py --build BUILD_DIR --work WORK_DIR [--jobs N] [--only KIND,...]
"""

import argparse
import collections
import os
import re
import random
import shutil
import sys
import time

import faultlib as fl

# Write-type calls: each is killed at, and failed with a full disk once and
# from K on.
WRITE_KINDS = ["openat", "write", "pwrite64", "writev", "fsync", "fdatasync", "syncfs", "rename",
               "renameat", "renameat2", "unlink", "unlinkat", "mkdir", "mkdirat", "rmdir",
               "ftruncate", "copy_file_range"]
FLUSH_KINDS = {"fsync", "fdatasync", "syncfs"}
# Writes of data: failed with an I/O error once too, and cut short by a
# file size limit (see short_write_points).
DATA_KINDS = {"write", "pwrite64", "writev", "copy_file_range"}
# Reads fail with an I/O error, once and from K on. A kill at a read leaves
# the state a kill at the next write-type call leaves, so it is not repeated.
READ_KINDS = ["read", "pread64"]
# Calls of the dynamic loader (shared objects), of libfaketime (its shared
# memory) and of the kernel's own files are not the program's.
FOREIGN = re.compile(r"\.so(\.[0-9.]+)?>|^/dev/shm/|^/sys/|\.so(\.[0-9.]+)?$")


def call_target(name, args):
    """The file a traced call works on: the path strace shows for its
    descriptor (-y), or its first path argument."""
    m = re.match(r"^(?:AT_FDCWD<[^>]*>|\d+<[^>]*>)?,?\s*\"([^\"]*)\"", args)
    if name in ("openat", "mkdirat", "unlinkat", "renameat", "renameat2") and m:
        return m.group(1)
    m = re.match(r"^\d+<([^>]*)>", args)
    if m:
        return m.group(1)
    m = re.match(r"^\"([^\"]*)\"", args)
    return m.group(1) if m else ""


def normalised(text, point_dir):
    """A call's text without what differs between runs: the point's directory,
    temporary names' random parts, descriptors' numbers."""
    text = text.replace(point_dir, "{P}")
    # The work directory is named after the installation's directory.
    text = re.sub(r"tvqlupd-[0-9a-f]{16}", "tvqlupd-KEY", text)
    text = re.sub(r"~[A-Za-z0-9]{6}$", "~XXXXXX", text)
    return re.sub(r"\d+", "#", text)


def is_point(name, args):
    target = call_target(name, args)
    if FOREIGN.search(target) or target.startswith("/proc/") and name != "read":
        return False
    if name == "openat":
        return bool(fl.WRITE_FLAGS.search(args))
    if name in ("write", "pwrite64", "writev", "read", "pread64"):
        return bool(re.match(r"^\d+<", args))
    return True


class Call:
    def __init__(self, name, k, args, result):
        self.name, self.k, self.args, self.result = name, k, args, result

    def short(self, point_dir):
        text = "%s(%s) = %s" % (self.name, self.args.replace(point_dir, "{P}"), self.result)
        return text if len(text) <= 150 else text[:147] + "..."


def count_calls(trace_path):
    """The main process's calls by kind, each numbered as strace's injection
    counts them (every call of that kind, K from 1), and the points among them."""
    calls = fl.read_trace(trace_path)
    main_pid = calls[0][0]
    counters = collections.Counter()
    by_kind = collections.defaultdict(list)
    others = set()
    for pid, name, args, result, _ in calls:
        if pid != main_pid:
            others.add(pid)
            continue
        counters[name] += 1
        if is_point(name, args):
            by_kind[name].append(Call(name, counters[name], args, result))
    return by_kind, others


def faults_for(kind):
    if kind in READ_KINDS:
        return [("EIO", False), ("EIO", True)]
    faults = [("KILL", False), ("ENOSPC", False), ("ENOSPC", True)]
    if kind in DATA_KINDS:
        faults.append(("EIO", False))
    if kind in FLUSH_KINDS:
        faults.append(("EIO", False))
    return faults


def account_uses(kind, calls, k):
    """Whether a fault of this kind from the K-th call on silences the account
    (the /Log file) itself: the account is written with this kind of call
    (any later line, the cause's too, fails), or opened with it at or after K."""
    on_account = [c for c in calls if call_target(c.name, c.args).endswith("/account.log")]
    if kind in ("write", "writev", "pwrite64"):
        return bool(on_account)
    return any(c.k >= k for c in on_account)


class Point:
    def __init__(self, call, fault, from_k, waive_cause, size_limit=None):
        self.call, self.fault, self.from_k, self.waive_cause = call, fault, from_k, waive_cause
        self.size_limit = size_limit
        self.site = None  # another site than the sweep's (over HTTP)

    def row(self):
        return ("http " if self.site else "") + self.call.name

    def label(self):
        if self.size_limit:
            return "short writes at %d bytes" % self.size_limit
        return "%s%s #%d %s%s" % ("http " if self.site else "", self.call.name, self.call.k,
                                  self.fault, "+" if self.from_k else "")

    def strace_args(self, trace_path):
        when = "%d%s" % (self.call.k, "+" if self.from_k else "")
        action = "signal=KILL" if self.fault == "KILL" else "error=" + self.fault
        # Only the traced call stops the program (half the processor time),
        # but with the filter strace 6.1 never injects into openat.
        fast = [] if self.call.name == "openat" else ["--seccomp-bpf"]
        return fast + ["-y", "-s", "200", "-o", trace_path, "-e", "trace=" + self.call.name,
                       "-e", "inject=%s:%s:when=%s" % (self.call.name, action, when)]


class Sweep:
    def __init__(self, tools, site, template, scratch, refs, ref_dir):
        self.tools, self.default_site, self.template = tools, site, template
        self.scratch, self.refs, self.ref_dir = scratch, refs, ref_dir

    def injected_call(self, trace_path, point, point_dir):
        """The text of the call the fault hit, or None when the run never reached it."""
        calls = [c for c in fl.read_trace(trace_path) if c[1] == point.call.name]
        if not calls:
            return None
        main_pid = calls[0][0]
        mine = [c for c in calls if c[0] == main_pid]
        if len(mine) < point.call.k:
            return None
        c = mine[point.call.k - 1]
        return normalised(call_target(c[1], c[2]), point_dir)

    def run_point(self, numbered):
        number, point = numbered
        site = point.site or self.default_site
        ref = self.refs[site]
        point_dir = os.path.join(self.scratch, "p%d" % number)
        app, temp, log = fl.place_installation(self.template, point_dir)
        trace_path = os.path.join(point_dir, "trace")
        if point.size_limit:
            rc, err = fl.run_updater(self.tools, site, app, temp, log,
                                     file_size_limit=point.size_limit)
            hit = expected = None
        else:
            rc, err = fl.run_updater(self.tools, site, app, temp, log,
                                     point.strace_args(trace_path))
            hit = self.injected_call(trace_path, point, point_dir)
            expected = normalised(call_target(point.call.name, point.call.args), self.ref_dir)
        verdict = fl.check_installation(ref, app)
        if hit != expected:
            verdict.add("point missed", "the run's call %s was %s, the clean run's %s"
                        % (point.label(), hit, expected))
        if rc is None:
            verdict.add("hang", "the run did not end within %d s" % fl.RUN_TIMEOUT)
        account = (fl.read_file(log) or b"").decode(errors="replace")
        if not verdict.complete:
            if point.fault in fl.CAUSES and not point.waive_cause \
                    and fl.CAUSES[point.fault] not in account:
                verdict.add("cause not named", "the account does not say \"%s\""
                            % fl.CAUSES[point.fault])
            if "installation completed" in err:
                verdict.add("false success", "reports \"installation completed\"")
        stray = set(fl.snapshot(app)) - set(ref.names) - {fl.SETTINGS_NAME}
        if not verdict.complete or stray:
            fl.run_updater(self.tools, site, app, temp, log)
            after = fl.check_installation(ref, app, after_follow_up=True, temp=temp)
            for category, detail in after.problems:
                verdict.add(category, "after a clean run: " + detail)
        shutil.rmtree(point_dir, ignore_errors=True)
        return point, verdict


def short_write_points(ref):
    """Runs under a file size limit: one byte short of each size a file of
    the installation has after the update, and 1. Every write that would
    pass the limit is cut short (a real short write), the next fails."""
    sizes = sorted({len(data) for data, _ in ref.after.values() if len(data) > 1} | {2})
    call = Call("short write", 0, "", "")
    return [Point(call, "EFBIG", True, True, size - 1) for size in sizes]


def http_points(by_kind, only, count, seed, url):
    """count of the points of a run over HTTP, drawn with seed: the faults
    of the file:// run at the calls a transfer makes."""
    points = random.Random(seed).sample(plan(by_kind, only), count)
    for point in points:
        point.site = url
    return points


def plan(by_kind, only):
    points = []
    for kind in WRITE_KINDS + READ_KINDS:
        if only and kind not in only:
            continue
        calls = by_kind.get(kind, [])
        for fault, from_k in faults_for(kind):
            for call in calls:
                waive = from_k and account_uses(kind, calls, call.k)
                points.append(Point(call, fault, from_k, waive))
    return points


def summarise(results, by_kind, points, others, minutes, jobs, seed):
    per_kind = collections.OrderedDict()
    unsafe = collections.defaultdict(list)
    for point, verdict in results:
        row = per_kind.setdefault(point.row(), collections.Counter())
        row[point.fault + ("+" if point.from_k else "")] += 1
        row["runs"] += 1
        if verdict.problems:
            row["unsafe"] += 1
            for category, detail in verdict.problems:
                unsafe[category].append((point, detail))
    lines = ["", "fault sweep: %d call points, %d runs, %.1f minutes, %d at a time, seed %d"
             % (sum(len(c) for k, c in by_kind.items() if k in per_kind), len(points), minutes, jobs,
                seed)]
    if others:
        lines.append("  (calls of %d further processes were not counted)" % len(others))
    faults = ["KILL", "ENOSPC", "ENOSPC+", "EIO", "EIO+", "EFBIG+"]
    lines.append("  %-16s %6s %s %6s %6s" % ("call", "points", " ".join("%7s" % f for f in faults),
                                             "safe", "unsafe"))
    for kind, row in per_kind.items():
        lines.append("  %-16s %6d %s %6d %6d" % (
            kind, len(by_kind.get(kind, [])) or row["runs"], " ".join("%7d" % row[f] for f in faults),
            row["runs"] - row["unsafe"], row["unsafe"]))
    total_unsafe = sum(r["unsafe"] for r in per_kind.values())
    lines.append("  safe %d of %d runs" % (len(points) - total_unsafe, len(points)))
    for category in sorted(unsafe, key=lambda c: -len(unsafe[c])):
        entries = unsafe[category]
        lines.append("")
        lines.append("unsafe, %s: %d" % (category, len(entries)))
        for point, detail in entries:
            lines.append("  %-22s %s" % (point.label(), point.call.short("{P}")))
            lines.append("  %-22s   -> %s" % ("", detail))
    return "\n".join(lines), total_unsafe


def reference_run(tools, site, template, scratch, name="reference"):
    """A clean run traced in full: the reference tree and the calls to count."""
    ref_dir = os.path.join(scratch, name)
    app, temp, log = fl.place_installation(template, ref_dir)
    before = fl.snapshot(app)
    trace_path = os.path.join(ref_dir, "trace")
    kinds = ",".join(WRITE_KINDS + READ_KINDS)
    rc, err = fl.run_updater(tools, site, app, temp, log,
                             ["-y", "-s", "48", "-o", trace_path, "-e", "trace=" + kinds])
    if rc != 0:
        raise SystemExit("the clean run failed (%s): %s" % (rc, err[-2000:]))
    ref = fl.Reference(before, fl.snapshot(app), fl.temp_names(temp))
    by_kind, others = count_calls(trace_path)
    for calls in by_kind.values():
        for c in calls:
            c.args = c.args.replace(ref_dir, "{P}")
    return ref, by_kind, others, "{P}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--only", default="", help="comma-separated call kinds")
    parser.add_argument("--http", type=int, default=0,
                        help="runs over HTTP, drawn from that run's points")
    parser.add_argument("--seed", type=int, default=int(os.environ.get("TVQ_FAULTS_SEED", "0"))
                        or int(time.time()) % 100000)
    clock = fl.Stopwatch()
    options, tools, scratch, on_tmpfs, site, template = fl.prepare(parser)
    ref, by_kind, others, ref_dir = reference_run(tools, site, template, scratch)
    fl.self_check(ref, template, scratch)
    only = set(filter(None, options.only.split(",")))
    points = plan(by_kind, only)
    if not only or "short" in only:
        points += short_write_points(ref)
    refs = {site: ref}
    if options.http:
        server, url = fl.serve(tools, site, os.path.join(scratch, "port"))
        refs[url], by_kind_http, _, _ = reference_run(tools, url, template, scratch,
                                                      "reference-http")
        points += http_points(by_kind_http, only, options.http, options.seed, url)
    print("%d runs planned (%s); scratch on %s; seed %d" % (
        len(points), ", ".join("%s %d" % (k, len(v)) for k, v in by_kind.items()),
        "a private tmpfs" if on_tmpfs else scratch, options.seed), flush=True)
    sweep = Sweep(tools, site, template, scratch, refs, ref_dir)
    results = list(fl.run_parallel(list(enumerate(points)), sweep.run_point, options.jobs))
    if options.http:
        server.kill()
    text, unsafe = summarise(results, by_kind, points, others, clock.minutes(), options.jobs,
                             options.seed)
    fl.report(text, os.path.join(options.work, "summary.txt"))
    return 1 if unsafe else 0


if __name__ == "__main__":
    sys.exit(main())
