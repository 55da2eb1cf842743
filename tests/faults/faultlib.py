"""Shared parts of the fault sweeps.

A whole update site made with the built tvqpublish, throw-away installations
of the built tvqlupd, runs of it under strace (counting calls, injecting
faults) with its designed waits compressed by libfaketime, and the invariants
that every run, whatever happened to it, must leave behind.
"""

import collections
import concurrent.futures
import os
import re
import resource
import shutil
import signal
import stat
import subprocess
import sys
import time

# The designed waits of a run (about 15 s) shrink by this factor.
FAKETIME_RATE = 500
# Over HTTP by less: a transfer's real time, multiplied, counts against the
# program's transfer budget.
HTTP_FAKETIME_RATE = 50
RUN_TIMEOUT = 90

SETTINGS_NAME = "tvqlupd.INI"
# The run lock's file: the installation's, not one of its files.
LOCK_NAME = ".tvqlupd.lock"
RECORD_KEY = "LIVEUPDATE.LASTUPDATEINFO"
UPDATE_ID = "TVQ2026-03-01"
NEW_RECORD = '<update id="%s">' % UPDATE_ID
OLD_SETTINGS = [
    '[LiveUpdate]',
    'LiveUpdate.lastUpdateInfo=<update id="TVQ2025-06-01">',
    'LiveUpdate.installationInfo=0',
    'Main.UserName=Tester',
    'Main.Colour=blue',
    'View.Zoom=125',
    'View.Toolbar=1',
]
OLD_DATE = 1735732800  # 2025-01-01
# The flags of an open that may change the file.
WRITE_FLAGS = re.compile(r"O_WRONLY|O_RDWR|O_CREAT|O_TRUNC")
CAUSES = {"ENOSPC": "No space left on device", "EIO": "Input/output error"}


def content(tag, size):
    """Printable content of the given size, different for every tag."""
    seed = ("%s:" % tag).encode()
    out = bytearray()
    n = 0
    while len(out) < size:
        out += seed + str(n).encode() + b"\n"
        n += 1
    return bytes(out[:size])


# Name, old size (None: the update brings a new file), new size.
UPDATE_FILES = [
    ("part01.dat", 40, 90), ("part02.dat", 700, 1200), ("part03.dat", 3000, 2500),
    ("part04.dll", 5000, 9000), ("part05.dll", None, 600), ("help.txt", 200, 300),
    ("part07.dat", 16, 17), ("part08.dat", 9000, 12000), ("readme.txt", None, 450),
    ("part10.bin", 100, 20000), ("part11.bin", 64, 64), ("part12.bin", None, 1500),
]
OLD_MAIN_APP = b"#!/bin/sh\n# tvq 1.0, the old main application\nexit 0\n"
NEW_MAIN_APP = b"#!/bin/sh\n# tvq 2.0, the new main application, packed\nexit 0\n" + b"#" * 300 + b"\n"
NEW_UPDATER_MARK = b"\n# tvqlupd 2.0, the new updater\n"


class Tools:
    """The built programs and the system tools the sweeps use."""

    def __init__(self, build_dir):
        self.tvqlupd = os.path.join(build_dir, "tvqlupd")
        self.site_server = os.path.join(build_dir, "tests", "site_server")
        self.tvqpublish = os.path.join(build_dir, "tvqpublish")
        self.strace = shutil.which("strace") or "/usr/bin/strace"
        self.mscompress = shutil.which("mscompress") or "/usr/bin/mscompress"
        self.faketime = shutil.which("faketime") or "/usr/bin/faketime"
        self.strip = shutil.which("strip") or "/usr/bin/strip"
        for path in (self.tvqlupd, self.tvqpublish, self.strace, self.mscompress, self.faketime,
                     self.strip):
            if not os.path.exists(path):
                raise SystemExit("missing: " + path)


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def snapshot(directory, keep_lock=False):
    """Relative path -> (content, permission bits) of the regular files below
    directory, without the run lock's file unless keep_lock."""
    out = {}
    for base, dirs, names in os.walk(directory):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(base, name)
            rel = os.path.relpath(path, directory)
            if (rel == LOCK_NAME and not keep_lock) or os.path.islink(path) or not os.path.isfile(path):
                continue
            out[rel] = (read_file(path), stat.S_IMODE(os.lstat(path).st_mode))
    return out


# Files the update brings that are not installed over their namesakes:
# the main application's settings and the updater's ".exe" are set aside
# beside them (".newversion"); the batch file is installed and started after
# a successful run (it does nothing).
SET_ASIDE = [("tvq.ini", b"[tvq]\r\nColour=green\r\n", b"[tvq]\r\nColour=red\r\nNew=1\r\n"),
             ("tvqlupd.exe", b"MZ old updater for the other system\r\n",
              b"MZ new updater for the other system, longer\r\n")]
BATCH = ("tvqlupd.sh", b"#!/bin/sh\n# the update's batch file\nexit 0\n")
# Files in subdirectories of the installation, which no update names: they
# stay as they are, whatever happens to the run.
UNTOUCHED = [("data/view.cfg", b"zoom=125\n"), ("data/fonts/face.bin", b"\x00\x01face" * 40)]


def make_fixture(tools, root, tag=""):
    """Makes root/site (the update, signed) and root/app (the installation
    before it); returns (site, app). Fixtures of another tag have other
    contents under the same names."""
    site, app, pack = (os.path.join(root, d) for d in ("site", "app", "pack"))
    for d in (site, app, pack):
        os.makedirs(d)
    paths = []
    for name, old_size, new_size in UPDATE_FILES:
        write_file(os.path.join(pack, name), content(tag + "new " + name, new_size))
        paths.append(os.path.join(pack, name))
        if old_size is not None:
            write_file(os.path.join(app, name), content(tag + "old " + name, old_size))
    for name, old, new in SET_ASIDE:
        write_file(os.path.join(app, name), old)
        write_file(os.path.join(pack, name), new)
        paths.append(os.path.join(pack, name))
    write_file(os.path.join(pack, BATCH[0]), BATCH[1])
    paths.append(os.path.join(pack, BATCH[0]))
    for name, data in UNTOUCHED:
        os.makedirs(os.path.dirname(os.path.join(app, name)), exist_ok=True)
        write_file(os.path.join(app, name), data)
    # mscompress names its output by appending "_" and wants 16 bytes or more.
    write_file(os.path.join(pack, "tvq.exe"), NEW_MAIN_APP)
    subprocess.run([tools.mscompress, os.path.join(pack, "tvq.exe")], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.rename(os.path.join(pack, "tvq.exe_"), os.path.join(pack, "tvq.ex_"))
    os.remove(os.path.join(pack, "tvq.exe"))
    paths.append(os.path.join(pack, "tvq.ex_"))
    # The updater's own new version under the running program's name, which
    # it is renamed over: the built program without its debugging sections
    # (small, and the follow-up runs run it once installed), marked as new.
    subprocess.run([tools.strip, "-o", os.path.join(pack, "tvqlupd"), tools.tvqlupd], check=True)
    append(os.path.join(pack, "tvqlupd"), NEW_UPDATER_MARK)
    paths.append(os.path.join(pack, "tvqlupd"))
    # Signed: every file's signature is fetched and checked too.
    key = os.path.join(root, "maker.key")
    made = subprocess.run([tools.tvqpublish, "keygen", key, "--unencrypted"], check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    public_key = made.stdout.decode().splitlines()[0].strip()
    subprocess.run([tools.tvqpublish, "add", site, "--id", UPDATE_ID, "--sign", key] + paths,
                   check=True, stdout=subprocess.DEVNULL)
    write_file(os.path.join(app, "tvq.exe"), OLD_MAIN_APP)
    os.chmod(os.path.join(app, "tvq.exe"), 0o755)
    settings = OLD_SETTINGS[:1] + ["LiveUpdate.publicKey=" + public_key] + OLD_SETTINGS[1:]
    write_file(os.path.join(app, SETTINGS_NAME), "".join(l + "\r\n" for l in settings).encode())
    shutil.copy2(tools.tvqlupd, os.path.join(app, "tvqlupd"))
    # Dates well in the past: the rights test touches the settings file and
    # restores its date, with one more open when the date changed; a date of
    # the current second would make the count of calls depend on the clock.
    for base, _, names in os.walk(app):
        for name in names:
            os.utime(os.path.join(base, name), (OLD_DATE, OLD_DATE))
    return site, app


def place_installation(template_app, point_dir):
    """A fresh copy of the installation in point_dir: app/, temp/ and the log's path."""
    app, temp = os.path.join(point_dir, "app"), os.path.join(point_dir, "temp")
    shutil.rmtree(point_dir, ignore_errors=True)
    os.makedirs(temp)
    # The program is linked, not copied: it is large, and never written (its
    # new version is renamed over it).
    shutil.copytree(template_app, app, copy_function=shutil.copy2,
                    ignore=lambda d, names: ["tvqlupd"])
    os.link(os.path.join(template_app, "tvqlupd"), os.path.join(app, "tvqlupd"))
    return app, temp, os.path.join(point_dir, "account.log")


def fnv1a_hex(text):
    """The program's hash of a text: 64-bit FNV-1a, as 16 hexadecimal digits."""
    value = 0xcbf29ce484222325
    for byte in text.encode():
        value = ((value ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % value


def work_directory_name(app):
    """The name of the work directory a run of the installation in app uses
    below TEMP: named after this account and the installation's directory."""
    key = fnv1a_hex("%d:%s" % (os.geteuid(), fnv1a_hex(os.path.realpath(app))))
    return "tvqlupd-" + key


def updater_env(temp):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "LC_ALL", "LC_MESSAGES", "http_proxy", "https_proxy",
                        "PROGRAMFILES", "LD_PRELOAD", "FAKETIME", "FAKETIME_SHARED",
                        "LOCALAPPDATA")}
    # File dates stay real: the rights test reads them. A work directory
    # that cannot be made in TEMP goes to the cache place, below it too.
    env.update({"TEMP": temp, "LANG": "C", "NO_FAKE_STAT": "1",
                "XDG_CACHE_HOME": os.path.join(temp, "cache")})
    return env


def clear_stale_faketime_ipc(shm="/dev/shm"):
    """Removes the semaphores and shared memory that faketime wrappers which
    did not end normally left behind. A new wrapper whose process number
    names a left-over semaphore fails at once ("sem_open: File exists"), and
    the run it was to start never happens."""
    for name in os.listdir(shm):
        m = re.match(r"^(?:sem\.faketime_sem_|faketime_shm_)(\d+)$", name)
        if not m:
            continue
        try:
            os.kill(int(m.group(1)), 0)
            continue  # its wrapper still runs
        except ProcessLookupError:
            pass
        except PermissionError:
            continue
        try:
            os.unlink(os.path.join(shm, name))
        except OSError:
            pass


def updater_argv(tools, site, app, log, strace_args=None):
    """The command of a run of the installation's tvqlupd on the file:// site,
    its waits compressed by libfaketime's rate; under strace with strace_args
    when given."""
    rate = HTTP_FAKETIME_RATE if site.startswith("http:") else FAKETIME_RATE
    argv = [tools.faketime, "-f", "+0 x%d" % rate]
    if strace_args is not None:
        argv += [tools.strace, "-f", "-qq"] + strace_args + ["--"]
    return argv + [os.path.join(app, "tvqlupd"), "/P" + site, "/Log=" + log]


def start_updater(tools, site, app, temp, log, strace_args=None, file_size_limit=None, stderr_file=None):
    """A run (see updater_argv) started in the background: its Popen, its
    standard error piped, or written to stderr_file (an open file) for a run
    that is not read while it runs: a full pipe would stop it. With
    file_size_limit, no file grows past that many bytes: the write that
    would is cut short, the next fails (EFBIG)."""
    clear_stale_faketime_ipc()

    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))

    return subprocess.Popen(updater_argv(tools, site, app, log, strace_args),
                            env=updater_env(temp), cwd=temp, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=stderr_file or subprocess.PIPE,
                            preexec_fn=limit if file_size_limit else None, start_new_session=True)


def finish_updater(run, timeout=RUN_TIMEOUT):
    """Waits for a started run; (exit code or None on a time-out, standard
    error). The faketime wrapper outlives a killed run and removes its shared
    memory; a run that does not end in time is killed with all it started."""
    try:
        _, err = run.communicate(timeout=timeout)
        return run.returncode, (err or b"").decode(errors="replace")
    except subprocess.TimeoutExpired:
        try:
            os.killpg(run.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        _, err = run.communicate()
        return None, (err or b"").decode(errors="replace")


def run_updater(tools, site, app, temp, log, strace_args=None, file_size_limit=None):
    """Runs the installation's tvqlupd (see start_updater) to its end."""
    return finish_updater(start_updater(tools, site, app, temp, log, strace_args,
                                        file_size_limit))


def serve(tools, site, port_file):
    """The project's HTTP test server on 127.0.0.1 serving site: (its Popen,
    its address)."""
    server = subprocess.Popen([tools.site_server, site, port_file], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    for _ in range(400):
        port = (read_file(port_file) or b"").strip()
        if port:
            return server, "http://127.0.0.1:%s/" % port.decode()
        time.sleep(0.025)
    server.kill()
    raise SystemExit("the site server did not start")


def private_tmpfs(directory, size="1g"):
    """Mounts a tmpfs on directory when this process runs in a mount namespace
    of its own (see in_private_mount_namespace), so flushes cost nothing and
    the mount goes with the process. False when it cannot."""
    if os.environ.get("TVQ_FAULTS_NAMESPACE") != "1":
        return False
    os.makedirs(directory, exist_ok=True)
    return subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tvqfaults", directory],
                          stderr=subprocess.DEVNULL).returncode == 0


def in_private_mount_namespace(argv):
    """Re-runs this script in a private mount namespace when it can (as root,
    or in a user namespace of its own otherwise); returns only when it
    cannot or already does."""
    if os.environ.get("TVQ_FAULTS_NAMESPACE") or not shutil.which("unshare"):
        return
    unshare = ["unshare", "-m", "--propagation", "private"]
    if os.geteuid() != 0:
        unshare.insert(1, "-r")
    if subprocess.run(unshare + ["true"], stderr=subprocess.DEVNULL).returncode != 0:
        return
    done = subprocess.run(unshare + [sys.executable] + argv,
                          env=dict(os.environ, TVQ_FAULTS_NAMESPACE="1"))
    sys.exit(done.returncode)


# ---------------------------------------------------------------- settings

def parse_settings(data):
    """(lines, problems): the key lines as (KEY, value) and what is wrong with
    the file's form."""
    problems = []
    if data is None:
        return [], ["settings file missing"]
    if data and not data.endswith(b"\n"):
        problems.append("settings file ends inside a line")
    pairs = []
    for raw in data.decode(errors="replace").splitlines():
        line = raw.rstrip("\r")
        if "=" in line and not line.startswith("["):
            key, value = line.split("=", 1)
            pairs.append((key.strip().upper(), value))
    seen = collections.Counter(k for k, _ in pairs)
    dups = sorted(k for k, n in seen.items() if n > 1)
    if dups:
        problems.append("duplicate key " + ", ".join(dups))
    return pairs, problems


def is_record(value):
    """Whether a LiveUpdate.lastUpdateInfo value records the update."""
    return value is not None and value.startswith(NEW_RECORD)


def settings_text(files):
    """The settings file's content in a snapshot, or None."""
    entry = files.get(SETTINGS_NAME)
    return entry[0] if entry else None


def temp_names(temp):
    """The relative paths below a TEMP directory, the work directory's key
    replaced by KEY (it is named after the installation's directory)."""
    names = set()
    for base, dirs, files in os.walk(temp):
        for name in dirs + files:
            names.add(re.sub(r"tvqlupd-[0-9a-f]{16}", "tvqlupd-KEY",
                             os.path.relpath(os.path.join(base, name), temp)))
    return names


class Reference:
    """What a clean run turns the installation (and its TEMP) into."""

    def __init__(self, before, after, temp_after=None):
        self.before, self.after = before, after
        self.temp_after = temp_after
        self.names = sorted((set(before) | set(after)) - {SETTINGS_NAME})
        self.old_keys = dict(parse_settings(settings_text(before))[0])
        self.new_keys = dict(parse_settings(settings_text(after))[0])
        if not is_record(self.new_keys.get(RECORD_KEY)):
            raise SystemExit("the clean run did not record the update: %r" % self.new_keys)
        # The batch file runs once: a later run removes it before anything else.
        self.once = {BATCH[0]}
        changed = [n for n in self.names if before.get(n) != after.get(n)]
        if len(changed) < len(UPDATE_FILES):
            raise SystemExit("the clean run did not install the update: " + ", ".join(changed))


class Verdict:
    """The state an installation was left in, and what is wrong with it."""

    def __init__(self):
        self.problems = []  # (category, detail)
        self.complete = False
        self.recorded = False

    def add(self, category, detail):
        self.problems.append((category, detail))


def file_problem(name, have, old, new):
    """None when have (content, mode) is the old or the new file, else the
    category and detail of what is wrong with it."""
    if have is None:
        return "torn file", "%s is missing" % name
    if any(have[0] == v[0] for v in (old, new) if v):
        return "wrong mode", "%s has mode %o, its content's version another" % (name, have[1])
    return "torn file", "%s is neither old nor new (%d bytes)" % (name, len(have[0]))


def check_files(ref, v, now):
    """Each file as it was or as the update has it; the names still old."""
    old_names = []
    for name in ref.names:
        have, old, new = now.get(name), ref.before.get(name), ref.after.get(name)
        if have == new:
            continue
        if have == old:
            if name not in ref.once:
                old_names.append(name)
        else:
            v.add(*file_problem(name, have, old, new))
    return old_names


def check_settings(ref, v, text):
    """The settings whole: every key old or new, none lost, none twice."""
    pairs, problems = parse_settings(text)
    for p in problems:
        v.add("settings not whole" if "duplicate" not in p else "duplicate key", p)
    keys = dict(pairs)
    for key, value in keys.items():
        if value not in (ref.old_keys.get(key), ref.new_keys.get(key)):
            v.add("settings not whole", "%s=%s is neither old nor new" % (key, value))
    for key in ref.old_keys.keys() & ref.new_keys.keys():
        if key not in keys:
            v.add("settings not whole", "key %s lost" % key)
    return keys


def check_installation(ref, app, after_follow_up=False, temp=None):
    """Checks the invariants on the application directory app (files by
    content and mode, in subdirectories too); after a follow-up run, also
    that nothing stray is left there or in temp."""
    v = Verdict()
    now = snapshot(app)
    old_names = check_files(ref, v, now)
    keys = check_settings(ref, v, settings_text(now))
    v.recorded = is_record(keys.get(RECORD_KEY))
    if v.recorded and old_names:
        v.add("recorded without its files", "recorded, but still old: " + ", ".join(old_names))
    v.complete = v.recorded and not old_names and not v.problems
    if not after_follow_up:
        return v
    stray = sorted(set(now) - set(ref.names) - {SETTINGS_NAME})
    if stray:
        v.add("stray file", "left in the application directory: " + ", ".join(stray))
    if temp is not None and ref.temp_after is not None:
        left = sorted(temp_names(temp) - ref.temp_after)
        if left:
            v.add("stray file", "left in TEMP: %s%s" % (", ".join(left[:4]),
                                                        " and %d more" % (len(left) - 4)
                                                        if len(left) > 4 else ""))
    if not v.complete:
        v.add("follow-up incomplete", "a clean run after it did not complete the update"
              + (" (still old: %s)" % ", ".join(old_names) if old_names else ""))
    elif keys != ref.new_keys:
        diff = sorted(set(keys.items()) ^ set(ref.new_keys.items()))
        v.add("settings differ", "after the follow-up: %s" % diff)
    return v


def self_check(ref, template, scratch):
    """The invariants must catch what they are for: a torn file, one in a
    subdirectory, a file with another mode, a duplicate key and a record
    without its files, each made on a copy of the installation. Stops the
    sweep when one goes unnoticed."""
    cases = [
        ("torn file", lambda app: write_file(os.path.join(app, ref.names[0]), b"torn")),
        ("torn file", lambda app: write_file(os.path.join(app, UNTOUCHED[0][0]), b"torn")),
        ("wrong mode", lambda app: os.chmod(os.path.join(app, "tvq.exe"), 0o644)),
        ("duplicate key", lambda app: append(os.path.join(app, SETTINGS_NAME),
                                             OLD_SETTINGS[-1].encode() + b"\r\n")),
        ("recorded without its files", lambda app: write_file(
            os.path.join(app, SETTINGS_NAME), settings_text(ref.after))),
    ]
    for category, damage in cases:
        app, _, _ = place_installation(template, os.path.join(scratch, "self-check"))
        damage(app)
        found = [c for c, _ in check_installation(ref, app).problems]
        if category not in found:
            raise SystemExit("self-check: the invariants miss a %s (found %s)" % (category, found))
    shutil.rmtree(os.path.join(scratch, "self-check"))


def append(path, data):
    with open(path, "ab") as f:
        f.write(data)


# ------------------------------------------------------------------ traces

TRACE_LINE = re.compile(r"^(\d+)\s+(\w+)\((.*)\)\s+=\s+(-?\d+|\?)(.*)$")
UNFINISHED = re.compile(r"^(\d+)\s+(.*) <unfinished \.\.\.>$")
RESUMED = re.compile(r"^(\d+)\s+<\.\.\. (\w+) resumed>(.*)$")


def read_trace(path):
    """The calls of an `strace -f -o path` trace in order of entry, as
    (pid, name, args, result, rest); an unfinished call is joined with its
    end, and one that never ended (its process killed) has result "?"."""
    calls, pending = [], {}
    with open(path, errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            m = UNFINISHED.match(line)
            if m:
                start = re.match(r"^(\w+)\((.*)$", m.group(2))
                if start:
                    pending[m.group(1)] = len(calls)
                    calls.append((m.group(1), start.group(1), start.group(2), "?", ""))
                continue
            m = RESUMED.match(line)
            if m and m.group(1) in pending:
                at = pending.pop(m.group(1))
                pid, name, args = calls[at][:3]
                joined = TRACE_LINE.match("%s %s(%s%s" % (pid, name, args, m.group(3)))
                if joined:
                    calls[at] = joined.groups()
                continue
            m = TRACE_LINE.match(line)
            if m:
                calls.append(m.groups())
    return calls


def prepare(parser):
    """Parses the options every sweep takes (--build, --work, --jobs) and more
    the parser was given, and makes the update site and the installation
    template below WORK/scratch, on a private tmpfs when it can be had.
    Returns (options, tools, scratch directory, on tmpfs, site, template)."""
    in_private_mount_namespace(sys.argv)
    parser.add_argument("--build", required=True, help="the build with tvqlupd and tvqpublish")
    parser.add_argument("--work", required=True, help="a directory the sweep may empty")
    # Runs mostly wait (designed waits, flushes): more of them than cores.
    parser.add_argument("--jobs", type=int, default=3 * (os.cpu_count() or 1))
    options = parser.parse_args()
    tools = Tools(options.build)
    shutil.rmtree(options.work, ignore_errors=True)
    os.makedirs(options.work)
    scratch = os.path.join(options.work, "scratch")
    on_tmpfs = private_tmpfs(scratch)
    os.makedirs(scratch, exist_ok=True)
    site, template = make_fixture(tools, os.path.join(scratch, "fixture"))
    return options, tools, scratch, on_tmpfs, site, template


def run_parallel(jobs, work, workers=None):
    """Runs work(job) for every job on a pool sized to the cores; yields results."""
    workers = workers or max(1, os.cpu_count() or 1)
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        for result in pool.map(work, jobs):
            yield result


class Stopwatch:
    def __init__(self):
        self.start = time.monotonic()

    def minutes(self):
        return (time.monotonic() - self.start) / 60.0


def report(text, path, entries_shown=30):
    """Writes the whole summary to path, its coverage (the lines before the
    unsafe groups) to coverage.txt beside it, and prints it with at most
    entries_shown entries (two lines each) of every unsafe group."""
    with open(path, "w") as f:
        f.write(text + "\n")
    coverage = text.split("\nunsafe")[0].strip("\n")
    with open(os.path.join(os.path.dirname(path), "coverage.txt"), "w") as f:
        f.write(coverage + "\n")
    shown, left_out, in_group = [], 0, 0
    for line in text.split("\n"):
        if line.startswith("unsafe"):
            in_group = 0
        elif line.startswith("  "):
            in_group += 1
            if in_group > 2 * entries_shown:
                left_out += 1
                continue
        shown.append(line)
    print("\n".join(shown))
    if left_out:
        print("(%d more lines in %s)" % (left_out, path))
