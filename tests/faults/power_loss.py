#!/usr/bin/python3
"""Power loss at every point of a whole update run, in the manner of the
crash-consistency checkers for applications.

One clean run of the built tvqlupd is traced (creates, writes, truncations,
renames, unlinks, mkdir, mode changes, flushes, with the files of every
descriptor). From it the states a power cut could leave are built under a
pessimistic model: data not flushed may be lost (a file's data since its
last fsync/fdatasync), or its length may have reached the disk without it
(the tail zero-filled or garbage); directory entries not flushed may be lost
(a create, rename, unlink or mkdir until an fsync of its directory), renames
are atomic, what was flushed stays, syncfs and sync flush everything. At
every point of the run: the state with nothing lost (a kill), with every
unflushed thing lost, and, for each unflushed operation on the application
directory and each file's unflushed data, the state where only it is lost
(or its tail zeros or garbage), and for each such operation the state where
only it reached the disk (the record kept, a replacement lost). Each
distinct state is made as a directory (old content from the snapshot before
the run, new content from the tree after it, data not yet written or lost
cut off; the work directory under the name the state's installation uses),
checked with the invariants of the fault sweep, and the updater is run on it
to completion and it is checked again.

Every state with an application directory of its own is checked; of the
states that differ from those only below TEMP (many thousands: the kept
downloads' bytes and records at every point) a sample drawn with a seed,
printed, that changes from run to run unless given (--seed, TVQ_FAULTS_SEED).

usage: power_loss.py --build BUILD_DIR --work WORK_DIR [--jobs N] [--max-states N]
"""

import argparse
import collections
import glob
import os
import random
import re
import shutil
import sys
import time

import faultlib as fl

TRACED = ("openat,creat,write,pwrite64,writev,copy_file_range,ftruncate,fsync,fdatasync,syncfs,"
          "sync,rename,renameat,renameat2,link,linkat,unlink,unlinkat,mkdir,mkdirat,rmdir,close,"
          "chdir,chmod,fchmod,fchmodat")
DIR_OPS = {"create", "rename", "link", "unlink", "mkdir", "rmdir"}
DATA_OPS = {"write", "truncate"}
# The permission bits a file is created with: its open's mode less the umask.
UMASK = 0o022


class Op:
    """One change to the file system, or one flush."""

    def __init__(self, kind, text, paths=(), ino=None, size=None, mode=None):
        self.kind, self.text, self.paths, self.ino, self.size = kind, text, paths, ino, size
        self.mode = mode
        self.index = None
        self.dirs = {os.path.dirname(p) for p in paths}


def resolve(path, base):
    return os.path.normpath(path if path.startswith("/") else os.path.join(base, path))


def written_fd(pid, name, args):
    """The descriptor a data call writes to: its first argument, the third
    of copy_file_range (which reads from the first)."""
    fds = re.findall(r"(?:^|, )(\d+)<", args)
    at = 1 if name == "copy_file_range" else 0
    return (pid, fds[at]) if len(fds) > at else None


class TraceModel:
    """The run's changes below root (the application and the TEMP directory),
    with inode numbers of its own, from one strace -f -y -s 0 trace."""

    def __init__(self, trace_path, root, before, modes_before):
        self.root = root
        self.pre_modes = {before[path]: mode for path, mode in modes_before.items() if path in before}
        self.ops = []
        self.entries = dict(before)  # relative path -> inode
        self.pre_inodes = {ino: path for path, ino in before.items()}
        self.next_ino = len(before) + 1
        self.fds = {}  # (pid, fd) -> inode or ("dir", relative path)
        self.cwd = {}
        self.sizes = collections.Counter()
        self.names = dict(self.pre_inodes)  # inode -> its latest path
        for pid, name, args, result, rest in fl.read_trace(trace_path):
            # A call strace answered in its place (a planted fault) did nothing.
            if "INJECTED" not in rest:
                self._call(pid, name, args, result)
        for i, op in enumerate(self.ops):
            op.index = i
        self.final = {ino: path for path, ino in self.entries.items()}

    def rel(self, path):
        """The path below root, or None outside it (and for the account)."""
        if path == self.root or not path.startswith(self.root + "/"):
            return None
        rel = path[len(self.root) + 1:]
        return None if rel == "account.log" else rel

    def _paths(self, pid, name, args):
        """The call's path arguments, resolved against their directory
        descriptor or the working directory (which every AT_FDCWD shows)."""
        cwd_seen = re.search(r"AT_FDCWD<([^>]*)>", args)
        if cwd_seen:
            self.cwd[pid] = cwd_seen.group(1)
        base = self.cwd.get(pid, "/")
        return [resolve(path, directory or base) for _, directory, path
                in re.findall(r'((?:AT_FDCWD|\d+)<([^>]*)>, )?"([^"]*)"', args)]

    def _add(self, op):
        self.ops.append(op)

    def _call(self, pid, name, args, result):
        ok = result not in ("?",) and not result.startswith("-")
        if name == "chdir" and ok:
            self.cwd[pid] = resolve(self._paths(pid, name, args)[0], self.cwd.get(pid, "/"))
            return
        fd_seen = re.match(r"^(\d+)<([^>]*)>", args)
        fd = (pid, fd_seen.group(1)) if fd_seen else None
        if name in ("openat", "creat") and ok:
            self._open(pid, name, args, result)
        elif name == "close" and fd:
            self.fds.pop(fd, None)
        elif name in ("write", "pwrite64", "writev", "copy_file_range") and ok:
            ino = self.fds.get(written_fd(pid, name, args))
            if ino is not None and not isinstance(ino, tuple) and int(result) > 0:
                self.sizes[ino] += int(result)
                self._add(Op("write", "%s(%s) = %s" % (name, args, result), ino=ino,
                             size=self.sizes[ino]))
        elif name == "ftruncate" and ok and fd in self.fds:
            ino = self.fds[fd]
            self.sizes[ino] = int(args.split(",")[1])
            self._add(Op("truncate", "ftruncate(%s)" % args, ino=ino, size=self.sizes[ino]))
        elif name in ("fsync", "fdatasync") and ok and fd in self.fds:
            target = self.fds[fd]
            if isinstance(target, tuple):
                op = Op("dirflush", "%s(%s)" % (name, args))
                op.dirs = {target[1]}
                self._add(op)
            else:
                self._add(Op("flush", "%s(%s)" % (name, args), ino=target))
        elif name in ("syncfs", "sync") and ok:
            self._add(Op("syncall", "%s(%s)" % (name, args)))
        elif ok and name in ("rename", "renameat", "renameat2", "link", "linkat", "unlink",
                             "unlinkat", "mkdir", "mkdirat", "rmdir"):
            self._entry_call(pid, name, args)
        elif ok and name in ("chmod", "fchmod", "fchmodat"):
            self._chmod(pid, name, args, fd)

    def _chmod(self, pid, name, args, fd):
        """A change of permission bits: kept in the file's order of changes
        (a power cut never undoes it alone)."""
        if name == "fchmod":
            ino = self.fds.get(fd)
        else:
            rels = [self.rel(p) for p in self._paths(pid, name, args)]
            ino = self.entries.get(rels[0]) if rels and rels[0] is not None else None
        mode = re.search(r", (0[0-7]*)\)?$", args)
        if ino is not None and not isinstance(ino, tuple) and mode:
            self._add(Op("chmod", "%s(%s)" % (name, args), ino=ino, mode=int(mode.group(1), 8)))

    def _open(self, pid, name, args, result):
        paths = self._paths(pid, name, args)
        rel = self.rel(paths[0]) if paths else None
        if rel is None:
            return
        fd = (pid, re.match(r"^(\d+)", result).group(1))
        if "O_DIRECTORY" in args:
            self.fds[fd] = ("dir", rel)
            return
        if rel not in self.entries:
            if "O_CREAT" not in args:
                return
            ino = self.next_ino
            self.next_ino += 1
            self.entries[rel] = ino
            self.names[ino] = rel
            mode = re.search(r", (0[0-7]*)$", args)
            self._add(Op("create", "%s(%s) = %s" % (name, args, result), paths=(rel,), ino=ino,
                         mode=(int(mode.group(1), 8) if mode else 0o666) & ~UMASK))
        ino = self.entries[rel]
        self.fds[fd] = ino
        if "O_TRUNC" in args and (self.sizes[ino] or ino in self.pre_inodes):
            self.sizes[ino] = 0
            self._add(Op("truncate", "O_TRUNC of " + rel, ino=ino, size=0))

    def _entry_call(self, pid, name, args):
        rels = [self.rel(p) for p in self._paths(pid, name, args)]
        text = "%s(%s)" % (name, args)
        if name.startswith("rename") and len(rels) == 2:
            src, dst = rels
            if src is None or dst is None:
                return
            ino = self.entries.pop(src, None)
            if ino is not None:
                self.entries[dst] = ino
                self.names[ino] = dst
            self._add(Op("rename", text, paths=(src, dst), ino=ino))
        elif name.startswith("link") and len(rels) == 2:
            # A second name for a file: only the new name's directory changes.
            src, dst = rels
            ino = self.entries.get(src) if src is not None else None
            if dst is None or ino is None:
                return
            self.entries[dst] = ino
            op = Op("link", text, paths=(src, dst), ino=ino)
            op.dirs = {os.path.dirname(dst)}
            self._add(op)
        elif rels and rels[0] is not None:
            kind = {"unlink": "unlink", "unlinkat": "unlink", "rmdir": "rmdir"}.get(name, "mkdir")
            if kind == "unlink":
                self.entries.pop(rels[0], None)
            self._add(Op(kind, text, paths=(rels[0],)))


class CrashStates:
    """The states a power cut after each operation could leave."""

    def __init__(self, model):
        self.model = model
        self.ops = model.ops
        flushes = collections.defaultdict(list)  # inode or directory -> op indexes
        self.syncs = []
        for op in self.ops:
            if op.kind == "flush":
                flushes[op.ino].append(op.index)
            elif op.kind == "dirflush":
                flushes["dir:" + next(iter(op.dirs))].append(op.index)
            elif op.kind == "syncall":
                self.syncs.append(op.index)
        self.flushes = flushes

    def _flushed_between(self, key, after, upto):
        return any(after < f < upto for f in self.flushes.get(key, [])) or \
            any(after < s < upto for s in self.syncs)

    def durable(self, op, point):
        """Whether op survives a power cut before operation point."""
        if op.kind in DATA_OPS:
            return self._flushed_between(op.ino, op.index, point)
        return all(self._flushed_between("dir:" + d, op.index, point) for d in op.dirs)

    def replay(self, point, lost_ops, lost_data, tail=None):
        """Entries (path -> (inode, size or None for untouched, mode, tail))
        after the operations before point, without lost_ops, with each inode
        of lost_data back at its data as last flushed; with tail ("zero" or
        "garbage") those keep their length instead, their bytes past the
        flushed length zeros or garbage (what a power cut can leave in a file
        whose length reached the disk before its data)."""
        entries = {path: (ino, None) for path, ino in self.model.pre_entries.items()}
        sizes, latest, modes = {}, {}, dict(self.model.pre_modes)
        for op in self.ops[:point]:
            if op.kind in DATA_OPS:
                latest[op.ino] = op.size
                if op.ino not in lost_data or self.durable(op, point):
                    sizes[op.ino] = op.size
            elif op.mode is not None:
                modes[op.ino] = op.mode
            if op.kind in DIR_OPS and op.index not in lost_ops:
                apply_entry_op(entries, op)
        out = {}
        for path, (ino, _) in entries.items():
            size = sizes.get(ino, 0 if ino not in self.model.pre_inodes else None)
            cut = None
            if tail and ino in lost_data and latest.get(ino, 0) > (size or 0):
                size, cut = latest[ino], (tail, size or 0)
            out[path] = (ino, size, modes.get(ino), cut)
        return out

    def variants(self, point):
        """(what, lost operations, lost data, tail) of the losses a power cut
        before operation point can bring."""
        unflushed = [op for op in self.ops[:point] if op.kind in DIR_OPS | DATA_OPS
                     and not self.durable(op, point)]
        dir_ops = {op.index for op in unflushed if op.kind in DIR_OPS}
        data = {op.ino for op in unflushed if op.kind in DATA_OPS}
        out = [("nothing lost", set(), set(), None),
               ("every unflushed change lost", dir_ops, data, None),
               ("every unflushed change lost, data as zeros", dir_ops, data, "zero")]
        for op in unflushed:
            if op.kind in DIR_OPS and any(p.startswith("app/") for p in op.paths):
                out.append(("lost #%d %s" % (op.index, op.text), {op.index}, set(), None))
                # Reordered: this change reached the disk, no other unflushed one did
                # (the record kept, a replacement lost).
                out.append(("only #%d %s reached the disk" % (op.index, op.text),
                            dir_ops - {op.index}, data, None))
        for ino in sorted(data):
            name = self.model.names.get(ino)
            out.append(("lost the unflushed data of %s" % name, set(), {ino}, None))
            out.append(("the unflushed data of %s zeros" % name, set(), {ino}, "zero"))
            out.append(("the unflushed data of %s garbage" % name, set(), {ino}, "garbage"))
        return out

    def states(self):
        """(key, (description, entries)) of every state, the same state once."""
        seen = {}
        for point in range(1, len(self.ops) + 1):
            done = self.ops[point - 1]
            for what, lost_ops, lost_data, tail in self.variants(point):
                entries = self.replay(point, lost_ops, lost_data, tail)
                key = tuple(sorted(entries.items()))
                if key not in seen:
                    text = "power cut after #%d %s; %s" % (done.index, done.text, what)
                    seen[key] = (text.replace(self.model.root, "{P}"), entries, variant_kind(what),
                                 point)
        return list(seen.items())


def variant_kind(what):
    """The kind of loss a variant's description names, for the coverage."""
    for kind in ("zeros", "garbage", "lost the unflushed data", "reached the disk", "lost #",
                 "every unflushed change lost", "nothing lost"):
        if kind in what:
            return {"lost #": "one change lost", "lost the unflushed data": "data cut short",
                    "reached the disk": "only one change kept", "zeros": "zero-filled tail",
                    "garbage": "garbage tail"}.get(kind, kind)
    return what


def apply_entry_op(entries, op):
    if op.kind == "rename":
        # A rename that reached the disk names its file even when the
        # file's first name did not.
        src, dst = op.paths
        entry = entries.pop(src, None) or ((op.ino, 0) if op.ino is not None else None)
        if entry is not None:
            entries[dst] = entry
    elif op.kind == "link":
        src, dst = op.paths
        entries[dst] = entries.get(src) or (op.ino, 0)
    elif op.kind == "create":
        entries[op.paths[0]] = (op.ino, 0)
    elif op.kind == "unlink":
        entries.pop(op.paths[0], None)


class Contents:
    """The bytes of an inode: the snapshot before the run for files it never
    wrote, else a prefix of what the file held after the run, with a tail of
    zeros or garbage where the state has one."""

    def __init__(self, model, before_files, after_files, site_files):
        self.model, self.before, self.after, self.site = model, before_files, after_files, site_files

    def of(self, ino, size, tail=None):
        data = self._prefix(ino, size)
        if tail:
            kind, start = tail
            filler = bytes(size - start) if kind == "zero" else \
                random.Random(ino * 7919 + size).randbytes(size - start)
            data = data[:start] + filler
        return data

    def _prefix(self, ino, size):
        if size is None:
            return self.before[self.model.pre_inodes[ino]]
        final = self.model.final.get(ino)
        full = self.after.get(final) if final else None
        if full is None:
            # A temporary gone by the end: the file it became or was copied from.
            name = os.path.basename(self.model.names.get(ino, "?"))
            for source in (self.after.get("app/" + name), self.site.get(name)):
                if source is not None and len(source) >= size:
                    full = source
                    break
        if full is None or len(full) < size:
            full = (full or b"") + b"\0" * size
        return full[:size]


def check_model(crash, contents, after, after_modes):
    """The model replayed to the end with nothing lost must be the tree the
    run left, by content and mode; stops the check when it is not."""
    entries = crash.replay(len(crash.ops), set(), set())
    modelled = {path: (contents.of(ino, size), mode) for path, (ino, size, mode, _)
                in entries.items()}
    real = {path: (data, after_modes[path]) for path, data in after.items()
            if path != "account.log"}
    if modelled != real:
        differ = sorted(p for p in set(modelled) | set(real) if modelled.get(p) != real.get(p))
        raise SystemExit("the traced model differs from the run's tree at: " + ", ".join(differ))


def tree_files(root):
    """(relative path -> content, relative path -> permission bits) of every
    regular file below root."""
    files, modes = {}, {}
    for rel, (data, mode) in fl.snapshot(root, keep_lock=True).items():
        files[rel], modes[rel] = data, mode
    return files, modes


def materialise(entries, contents, point_dir, template_app, work_name):
    """Makes the state's files below point_dir; the work directory takes the
    name a run of this state's installation looks for (work_name is the
    reference run's)."""
    shutil.rmtree(point_dir, ignore_errors=True)
    for d in ("app", "temp"):
        os.makedirs(os.path.join(point_dir, d))
    own = "temp/" + fl.work_directory_name(os.path.join(point_dir, "app"))
    for path, (ino, size, mode, tail) in sorted(entries.items()):
        if path.split("/")[:2] == ["temp", work_name]:
            path = own + path[len("temp/" + work_name):]
        target = os.path.join(point_dir, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if path == "app/tvqlupd" and size is None:
            # The program as it was: linked, as the installations are.
            os.link(os.path.join(template_app, "tvqlupd"), target)
            continue
        fl.write_file(target, contents.of(ino, size, tail))
        if mode is not None:
            os.chmod(target, mode)
    for work in glob.glob(os.path.join(point_dir, "temp", "tvqlupd-*")):
        os.chmod(work, 0o700)


class Checker:
    def __init__(self, tools, site, template, scratch, ref, contents):
        self.tools, self.site, self.template = tools, site, template
        self.scratch, self.ref, self.contents = scratch, ref, contents

    def check(self, numbered):
        number, (key, (what, entries, kind, _)) = numbered
        point_dir = os.path.join(self.scratch, "s%d" % number)
        materialise(entries, self.contents, point_dir, self.template, self.ref.work_name)
        app, temp = os.path.join(point_dir, "app"), os.path.join(point_dir, "temp")
        verdict = fl.check_installation(self.ref, app)
        rc, err = fl.run_updater(self.tools, self.site, app, temp, os.path.join(point_dir, "log"))
        if rc is None:
            verdict.add("hang", "the run on this state did not end within %d s" % fl.RUN_TIMEOUT)
        after = fl.check_installation(self.ref, app, after_follow_up=True, temp=temp)
        if after.problems and rc:
            verdict.add("follow-up failed", "exit %s: %s" % (rc, " | ".join(err.split("\n")[-4:])))
        for category, detail in after.problems:
            verdict.add(category, "after a clean run: " + detail)
        shutil.rmtree(point_dir, ignore_errors=True)
        return what, kind, verdict


def reference(tools, site, template, scratch, plant_args=()):
    """The clean run traced, its reference and its model; plant_args are
    strace options that plant a fault in it."""
    ref_dir = os.path.join(scratch, "reference")
    app, temp, log = fl.place_installation(template, ref_dir)
    before, before_modes = tree_files(ref_dir)
    trace_path = os.path.join(scratch, "trace")
    rc, err = fl.run_updater(tools, site, app, temp, log,
                             ["-y", "-s", "0", "-o", trace_path, "-e", "trace=" + TRACED]
                             + list(plant_args))
    if rc != 0:
        raise SystemExit("the clean run failed (%s): %s" % (rc, err[-2000:]))
    after, after_modes = tree_files(ref_dir)
    ref = fl.Reference(fl.snapshot(os.path.join(scratch, "fixture", "app")), fl.snapshot(app),
                       fl.temp_names(temp))
    ref.work_name = fl.work_directory_name(app)
    if not os.path.isdir(os.path.join(temp, ref.work_name)):
        raise SystemExit("the clean run's work directory is not %s: %s"
                         % (ref.work_name, os.listdir(temp)))
    pre_entries = {path: n + 1 for n, path in enumerate(sorted(before)) if path != "account.log"}
    model = TraceModel(trace_path, ref_dir, pre_entries, before_modes)
    model.pre_entries = pre_entries
    return ref, model, before, after, after_modes


def summarise(results, ops, n_states, sampled, minutes, jobs):
    unsafe = collections.defaultdict(list)
    by_kind = collections.OrderedDict()
    bad = 0
    for what, kind, verdict in results:
        row = by_kind.setdefault(kind, collections.Counter())
        row["checked"] += 1
        if verdict.problems:
            bad += 1
            row["unsafe"] += 1
            for category, detail in verdict.problems:
                unsafe[category].append((what, detail))
    op_kinds = collections.Counter(op.kind for op in ops)
    lines = ["", "power loss: %d operations traced, %d distinct crash states, %d checked%s, "
             "%d safe, %d unsafe; %.1f minutes, %d at a time"
             % (len(ops), n_states, len(results), sampled, len(results) - bad, bad, minutes, jobs),
             "  operations: " + ", ".join("%s %d" % kv for kv in sorted(op_kinds.items())),
             "  %-28s %7s %7s" % ("state", "checked", "unsafe")]
    for kind, row in sorted(by_kind.items()):
        lines.append("  %-28s %7d %7d" % (kind, row["checked"], row["unsafe"]))
    for category in sorted(unsafe, key=lambda c: -len(unsafe[c])):
        lines.append("")
        lines.append("unsafe, %s: %d" % (category, len(unsafe[category])))
        for what, detail in unsafe[category]:
            lines.append("  " + (what if len(what) < 200 else what[:197] + "..."))
            lines.append("    -> " + detail)
    return "\n".join(lines), bad


def choose(states, limit, seed):
    """The states to check: all of them up to limit; beyond it, every state
    with an application directory no other state has, and of the states that
    differ from those only below TEMP a sample drawn with seed. Returns the
    states and what the sampling was."""
    if len(states) <= limit:
        return states, ""
    first, rest, apps = [], [], set()
    for state in states:
        app = tuple(item for item in state[0] if item[0].startswith("app/"))
        (rest if app in apps else first).append(state)
        apps.add(app)
    drawn = random.Random(seed).sample(rest, max(0, min(len(rest), limit - len(first))))
    return first + drawn, (" (all %d application-directory states, %d of %d others drawn with "
                           "--seed %d)" % (len(first), len(drawn), len(rest), seed))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--max-states", type=int, default=1800)
    parser.add_argument("--seed", type=int, default=int(os.environ.get("TVQ_FAULTS_SEED", "0"))
                        or int(time.time()) % 100000)
    clock = fl.Stopwatch()
    options, tools, scratch, _, site, template = fl.prepare(parser)
    ref, model, before, after, after_modes = reference(tools, site, template, scratch)
    fl.self_check(ref, template, scratch)
    contents = Contents(model, before, after, tree_files(site)[0])
    crash = CrashStates(model)
    check_model(crash, contents, after, after_modes)
    all_states = crash.states()
    states, sampled = choose(all_states, options.max_states, options.seed)
    print("%d operations, %d states to check%s" % (len(model.ops), len(states), sampled), flush=True)
    checker = Checker(tools, site, template, scratch, ref, contents)
    results = list(fl.run_parallel(list(enumerate(states)), checker.check, options.jobs))
    text, bad = summarise(results, model.ops, len(all_states), sampled, clock.minutes(),
                          options.jobs)
    fl.report(text, os.path.join(options.work, "summary.txt"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
