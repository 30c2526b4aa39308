"""The end-to-end harness: the programs under Wine and Xvfb against a native simulated frame.

A scenario starts its own tactra-framesim on a free loopback port, runs a program so that it
finds that frame, drives it as a user would (keys through xdotool, message boxes through
msgbox_probe.exe) and checks what the frame received, what the windows show, the registry and the
messages. The scenarios of each program live in their own file (the console's: console_e2e.py
and the modules it runs).

Two transports, one frame model behind both (--transport):
- sim: the program runs with TACTRA_FRAME_SIM and talks to the frame through the simulator host.
- vframe: the program runs unchanged in the virtual-frame prefix (scripts/vframe) and finds the
  frame through Wine's own HID stack: the frame's driver, answered by a bridge that each frame
  starts in front of itself. `ctl unplug` and `ctl plug` then remove and add the frame's devices,
  so the notices come from Wine's plug-and-play.
A scenario names the transports it runs over; its checks are the same for both.
"""

import argparse
import contextlib
import json
import ntpath
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import traceback

# The Wine loader and server of the Windows build under test (set by scripts/with-wine).
WINE = os.environ.get("WINE", "wine")
WINESERVER = os.environ.get("WINESERVER", "wineserver")

CAL_CHANNEL = 4
SETTINGS_CHANNEL = 5
SCREEN = (1024, 768)

TRANSPORTS = ("sim", "vframe")
BOTH, SIM = TRANSPORTS, ("sim",)
REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
VFRAME_SCRIPT = os.path.join(REPO, "scripts", "vframe")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def grid_points_payload():
    """Modes 3 and 4 with the frame's default map (the screen spread evenly over 0..4095) on an
    unrotated display: the border points are the screen's edges and centre, 0, 2048 and 4096 on
    each axis, in grid order (centre, then clockwise from the top-left corner)."""
    points = [(2048, 2048), (0, 0), (2048, 0), (4096, 0), (4096, 2048), (4096, 4096), (2048, 4096),
              (0, 4096), (0, 2048)]
    return b"".join(x.to_bytes(2, "little") + y.to_bytes(2, "little") for x, y in points)


def poll(predicate, timeout, interval=0.25):
    """Whether `predicate` held within `timeout` seconds, asked every `interval`."""
    deadline = time.time() + timeout
    while True:
        if predicate():
            return True
        if time.time() >= deadline:
            return False
        time.sleep(interval)


def wait_until(predicate, timeout, message, interval=0.3):
    check(poll(predicate, timeout, interval), message)


def poll_value(read, accept, timeout, interval=0.25):
    """The first value of `read()` that `accept` takes within `timeout` seconds, asked every
    `interval`; else the last one read, so that the check that follows says what it was."""
    deadline = time.time() + timeout
    while True:
        value = read()
        if accept(value) or time.time() >= deadline:
            return value
        time.sleep(interval)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def windows_path(path):
    """A path of this machine as the prefix sees it (drive Z: is the root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class LastRun:
    """What the last run_windows ran and what its standard error said, for a failure's message."""
    argv, code, said = (), None, ""

    @classmethod
    def describe(cls):
        return "%s: exit %s%s" % (ntpath.basename(cls.argv[0]) if cls.argv else "nothing", cls.code,
                                  ", said %r" % cls.said[-300:] if cls.said else "")


def run_windows(env, argv, timeout=60, cwd=None):
    """Runs a Windows program of the prefix to its end: (exit code, its output). The output goes
    through a file, not a pipe: a Wine process that starts the prefix's services hands them its
    handles, and they would keep a pipe open long after it ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run([WINE, *argv], cwd=cwd or env.bin, env=env.base, stdout=out, stderr=err,
                              timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        LastRun.argv, LastRun.code, LastRun.said = argv, code, err.read().decode("utf-8", "replace").strip()
        return code, out.read().decode("utf-8", "replace")


class ProbeServer:
    """window_probe.exe serving one request a line (window_probe serve): a scenario asks the
    windows dozens of times, and each Wine process's start would cost more than its answer."""

    END = b"end-of-answer "

    def __init__(self):
        self.proc, self.started_with = None, None

    def ask(self, env, argv, timeout=60):
        """(exit code, output) of `window_probe.exe ARGV...` as the one-off probe gives them."""
        if self.proc and (self.proc.poll() is not None or self.started_with != env.base):
            self.stop()  # its server was ended, or the scenario's display or prefix changed
        if not self.proc:
            self.started_with = dict(env.base)
            self.proc = subprocess.Popen([WINE, "window_probe.exe", "serve"], cwd=env.bin, env=env.base,
                                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        LastRun.argv, LastRun.code, LastRun.said = ["window_probe.exe", *argv], None, ""
        try:
            self.proc.stdin.write(("\t".join(str(a) for a in argv) + "\n").encode("utf-8"))
            self.proc.stdin.flush()
        except OSError:
            self.stop()
            return self.ask(env, argv, timeout)
        # Read as it comes, not through a buffered reader: select tells only of what the pipe
        # still holds.
        answer = b""
        deadline = time.time() + timeout
        while True:
            # The answer's last line, once it is whole, is the marker with the code.
            at = (b"\n" + answer).find(b"\n" + self.END)
            if at >= 0 and answer.endswith(b"\n"):
                LastRun.code = int(answer[at + len(self.END):])
                return LastRun.code, answer[:at].decode("utf-8", "replace").replace("\r\n", "\n")
            if not select.select([self.proc.stdout], [], [], max(0.0, deadline - time.time()))[0]:
                self.stop()
                raise subprocess.TimeoutExpired(["window_probe.exe", *argv], timeout)
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:  # the server ended under the request: its prefix's server went
                self.stop()
                LastRun.code, LastRun.said = 1, "the probe's process ended"
                return 1, answer.decode("utf-8", "replace")
            answer += chunk

    def stop(self):
        if self.proc:
            with contextlib.suppress(OSError):
                self.proc.stdin.close()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
            self.proc.stdout.close()
            self.proc = None


class Transport:
    """How a scenario's program reaches its simulated frame."""

    def __init__(self, name, base_env):
        self.name = name
        self.base = dict(base_env)
        if name == "vframe":
            # The prefix scripts/vframe prepares (set by scripts/with-wine).
            prefix = self.base.get("TACTRA_VFRAME_PREFIX")
            if not prefix:
                sys.exit("the virtual frame's prefix is unknown: run the scenarios through scripts/with-wine")
            self.base["WINEPREFIX"] = prefix
        self.base.pop("TACTRA_FRAME_SIM", None)

    def prepare(self):
        """Once per run: the virtual-frame prefix with its driver (quick when it is ready)."""
        if self.name == "vframe":
            out = subprocess.run([VFRAME_SCRIPT, "prepare"], env=self.base, capture_output=True, text=True,
                                 timeout=600)
            check(out.returncode == 0, "the virtual-frame prefix cannot be prepared: %s" %
                  (out.stderr.strip() or out.stdout.strip()))

    def program_env(self, port):
        """The environment of a program that should find the frame served on `port` (None: no
        frame at all)."""
        env = dict(self.base)
        if self.name == "sim":
            env["TACTRA_FRAME_SIM"] = "127.0.0.1:%d" % (port or free_port())
        return env

    def start_bridge(self, port):
        out = subprocess.run([VFRAME_SCRIPT, "start", str(port)], env=self.base, capture_output=True, text=True,
                             timeout=120)
        check(out.returncode == 0, "the bridge did not plug the frame in: %s" % out.stderr.strip())

    def stop_bridge(self):
        subprocess.run([VFRAME_SCRIPT, "stop"], env=self.base, capture_output=True, timeout=120, check=False)


class Env:
    def __init__(self, args):
        self.bin = os.path.abspath(args.bin)
        self.native_bin = os.path.abspath(args.native_bin)
        self.artifacts = os.path.abspath(args.artifacts)
        os.makedirs(self.artifacts, exist_ok=True)
        self.framesim = os.path.join(self.native_bin, "tactra-framesim")
        environment = dict(os.environ)
        environment.setdefault("WINEDEBUG", "-all")
        self.transport = Transport(getattr(args, "transport", "sim"), environment)
        self.base = self.transport.base
        self.probes = ProbeServer()

    # The probe's commands that post to the window: the program handles them after the probe
    # has returned. The scenarios take their next look a process start later, as they always
    # have; a look at once could come before the program handled the message.
    POSTING = {"post", "tab", "click", "select", "slide", "spin", "taskbar-created"}

    def probe(self, window, *argv, timeout=60, at_once=False, own_process=False):
        """(exit code, output) of window_probe.exe WINDOW ARGV...; `at_once` for a caller that waits
        for what its posts do itself, `own_process` for a probe process of its own."""
        if (argv and argv[0] in self.POSTING and not at_once) or own_process:
            return run_windows(self, ["window_probe.exe", window, *argv], timeout=timeout)
        return self.probes.ask(self, [window, *argv], timeout)

    def wine(self, *argv, env=None, cwd=None, **kw):
        return subprocess.Popen([WINE, *argv], cwd=cwd or self.bin, env=env or self.base, **kw)

    def reg(self, *argv):
        """reg.exe of the prefix; its output."""
        return run_windows(self, ["reg", *argv])[1]

    def reg_add_dword(self, key, name, value):
        self.reg("add", key, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f")

    def reg_value(self, key, name):
        """The data of a value as reg.exe prints it, or None when it is missing."""
        for line in self.reg("query", key, "/v", name).splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0] == name:
                return parts[2].strip() if len(parts) == 3 else ""
        return None

    def settle(self, timeout=60):
        """Waits until every Wine process of the prefix has ended; ends them after `timeout`
        (one left over by a scenario that failed)."""
        self.probes.stop()
        try:
            subprocess.run([WINESERVER, "-w"], env=self.base, check=False, timeout=timeout)
        except subprocess.TimeoutExpired:
            subprocess.run([WINESERVER, "-k"], env=self.base, check=False)


class Frame:
    """One simulated frame on its own port, and over the virtual frame the bridge before it."""

    def __init__(self, env, mode, touch="auto", extra=(), screen=SCREEN):
        self.env = env
        self.bridged = False
        # On a port of its own choosing, which it announces: no other process can take it between
        # a choice made here and the simulator's bind.
        fd, output = tempfile.mkstemp(prefix="framesim-")
        try:
            with os.fdopen(fd, "wb") as out:
                self.proc = subprocess.Popen(
                    [env.framesim, "serve", "--port", "0", "--mode", str(mode), "--touch", touch,
                     "--screen", "%dx%d" % screen, *extra], stdout=out, stderr=subprocess.STDOUT)
            self.port = None
            if not poll(lambda: self._announced_port(output), 10, 0.05) or self.port is None:
                self.stop()
                raise Failure("simulator did not start")
        finally:
            os.remove(output)
        if env.transport.name == "vframe":
            self.bridged = True
            try:
                env.transport.start_bridge(self.port)
            except Failure:
                self.stop()
                raise

    def _announced_port(self, output):
        with open(output, "rb") as f:
            found = re.search(rb"serving on 127\.0\.0\.1:(\d+)", f.read())
        self.port = int(found.group(1)) if found else None
        return self.port is not None or self.proc.poll() is not None

    def ctl(self, *argv):
        out = subprocess.run([self.env.framesim, "ctl", "--port", str(self.port), *argv],
                             capture_output=True, text=True, timeout=20)
        return out.stdout

    def dump(self):
        return json.loads(self.ctl("dump"))

    def mark(self):
        """How many reports the frame has received: where since() starts."""
        return len(self.dump()["received"])

    def since(self, mark):
        """(channel, report) of every report the frame received after `mark`, in order."""
        return [(r["channel"], bytes.fromhex(r["report"])) for r in self.dump()["received"][mark:]]

    def received(self, channel):
        """Every report the frame received on a channel, whole, in order."""
        return [bytes.fromhex(r["report"]) for r in self.dump()["received"] if r["channel"] == channel]

    def commands(self, channel):
        """(code, payload bytes) of every report the frame received on a channel."""
        return [(b[1], b[3:3 + b[2]]) for b in self.received(channel)]

    def calibration_commands(self):
        return self.commands(CAL_CHANNEL)

    def wait_for(self, code, timeout, channel=CAL_CHANNEL):
        return poll(lambda: any(c == code for c, _ in self.commands(channel)), timeout)

    def stop(self):
        if self.bridged:
            self.env.transport.stop_bridge()
            self.bridged = False
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class Program:
    """A Windows program of the build under test, started against a frame."""

    # The variable that names the file the program notes its start-up steps in.
    STARTUP_LOG_VARIABLE = None
    _runs = 0

    def __init__(self, env, exe, port, args=(), extra_env=None, cwd=None, startup_log=None, output=None):
        """The program, finding the frame served on `port` (None: there is none); its start-up
        steps go to `startup_log`, a new file, and what Wine says of it to the file `output`
        (None: nowhere)."""
        self.env = env
        # The window class Wine gives is the file's name, also for a Windows path (C:\...).
        self.classname = ntpath.basename(exe).lower()
        run_env = env.transport.program_env(port)
        run_env.update(extra_env or {})
        # Every run notes its start-up steps, so that a run that never showed its window says
        # how far it came.
        if not startup_log and self.STARTUP_LOG_VARIABLE:
            Program._runs += 1
            # The suite's lanes share the artifacts folder: the process's id keeps their logs apart.
            startup_log = os.path.join(env.artifacts, "steps-%s-%d-%d.log" % (self.classname, os.getpid(),
                                                                             Program._runs))
        self.startup_log = startup_log
        if startup_log:
            if os.path.exists(startup_log):
                os.remove(startup_log)
            run_env[self.STARTUP_LOG_VARIABLE] = startup_log
        self.proc = env.wine(exe, *args, env=run_env, cwd=cwd, stdout=output or subprocess.DEVNULL,
                             stderr=subprocess.STDOUT if output else subprocess.DEVNULL)

    def visible_windows(self):
        """(window id, width, height, title) of the program's visible top-level windows."""
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--classname", self.classname],
                             capture_output=True, text=True)
        found = []
        for wid in out.stdout.split():
            geometry = subprocess.run(["xdotool", "getwindowgeometry", wid], capture_output=True,
                                      text=True).stdout
            size = (0, 0)
            for line in geometry.splitlines():
                if "Geometry:" in line:
                    w, h = line.split("Geometry:")[1].strip().split("x")
                    size = (int(w), int(h))
            title = subprocess.run(["xdotool", "getwindowname", wid], capture_output=True,
                                   text=True).stdout.strip()
            found.append((wid, size[0], size[1], title))
        return found

    def wait_window(self, accept, timeout):
        """The first visible window for which accept(width, height, title) holds, or None."""
        deadline = time.time() + timeout
        while True:
            for wid, w, h, title in self.visible_windows():
                if accept(w, h, title):
                    return wid
            if time.time() >= deadline:
                return None
            time.sleep(0.2)

    def state(self):
        """What a failure should tell of the program: its end or its last start-up step, and the
        titles of its visible windows."""
        code = self.proc.poll()
        said = ["ended with exit code %d" % code if code is not None else "running"]
        if self.startup_log and os.path.exists(self.startup_log):
            with open(self.startup_log) as f:
                steps = [line.split("-ms=")[0] for line in f if "-ms=" in line]
            said.append("last start-up step %s" % (steps[-1] if steps else "none"))
        windows = ["%dx%d %r" % (w, h, t) for _, w, h, t in self.visible_windows()]
        said.append("windows: %s" % (", ".join(windows) or "none"))
        said.append("X windows of its class: %s" % (", ".join(self.x_windows()) or "none"))
        return "; ".join(said)

    def x_windows(self):
        """How the X server has each window of the program's class: its size and map state, the
        hidden ones too (a window Wine has not mapped yet, or has mapped at another size)."""
        out = subprocess.run(["xdotool", "search", "--classname", self.classname], capture_output=True,
                             text=True).stdout
        found = []
        for wid in out.split():
            info = subprocess.run(["xwininfo", "-id", wid], capture_output=True, text=True).stdout
            fields = dict(line.strip().split(": ", 1) for line in info.splitlines() if ": " in line)
            found.append("%s %sx%s %s" % (wid, fields.get("Width", "?"), fields.get("Height", "?"),
                                          fields.get("Map State", "?")))
        return found

    def key_to(self, wid, name):
        # Without a window manager the window needs the input focus before it gets keys.
        subprocess.run(["xdotool", "windowfocus", "--sync", wid], check=False, timeout=10)
        # Press and release at once: a program that ends on the press must not leave the key down.
        subprocess.run(["xdotool", "key", "--delay", "0", "--window", wid, name], check=False, timeout=10)

    def wait_exit(self, timeout):
        try:
            self.proc.wait(timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(5)


def startup_overhead(log, step, fixed_ms):
    """Milliseconds from the process's start to the start-up step `step` beyond the program's
    fixed pauses, as its start-up log tells; None without it."""
    if not os.path.exists(log):
        return None
    with open(log) as f:
        for line in f:
            if line.startswith(step + "-ms="):
                return int(line.split("=")[1]) - fixed_ms
    return None


@contextlib.contextmanager
def program_alone(env, exe, module):
    """A copy of the program alone in a folder of its own, and another folder that holds the
    language module `module`: (the copy's path, that folder)."""
    folder = tempfile.mkdtemp(prefix="alone-")
    planted = tempfile.mkdtemp(prefix="planted-")
    try:
        shutil.copy(os.path.join(env.bin, exe), folder)
        shutil.copy(os.path.join(env.bin, module), planted)
        yield os.path.join(folder, exe), planted
    finally:
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(planted, ignore_errors=True)


def probe_box(env, module, timeout_ms):
    args = ["msgbox_probe.exe", str(timeout_ms)] + ([module] if module else [])
    code, out = run_windows(env, args, timeout=timeout_ms / 1000 + 30)
    if code != 0:
        raise Failure("no message box appeared")
    return out


def dismiss_owned_box(env, module, timeout_ms=15000):
    """Closes the next message box; returns (text id, caption id, owner: run, none or other)."""
    out = probe_box(env, module, timeout_ms)
    ids = {}
    owner = None
    for line in out.splitlines():
        if line.startswith("text-id="):
            for part in line.split():
                k, v = part.split("=")
                ids[k] = int(v)
        elif line.startswith("owner="):
            owner = line.split("=", 1)[1].strip()
    return ids.get("text-id"), ids.get("caption-id"), owner


def dismiss_box(env, module, timeout_ms=15000):
    """Closes the next message box; returns (text id, caption id)."""
    return dismiss_owned_box(env, module, timeout_ms)[:2]


def screenshot(env, name):
    if env.transport.name != "sim":
        name = "%s-%s" % (env.transport.name, name)
    path = os.path.join(env.artifacts, name)
    subprocess.run(["import", "-display", os.environ.get("DISPLAY", ":99"), "-window", "root", path],
                   check=False, timeout=20)
    return path


def colour_count(png, box, rgb):
    """How many pixels of colour rgb the box (x, y, w, h) of a screenshot holds."""
    x, y, w, h = box
    out = subprocess.run(["convert", png, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "-format", "%c",
                          "histogram:info:-"], capture_output=True, text=True).stdout
    want = "#%02X%02X%02X" % rgb
    total = 0
    for line in out.splitlines():
        if want in line.upper():
            total += int(line.split(":")[0].strip())
    return total


def compare_across_transports(env, name, reports, built_from):
    """Keeps the reports a scenario's frame received, and compares them with the other
    transport's from the same build where that run left them; a note for the scenario's line."""
    mine = os.path.join(env.artifacts, "received-%s-%s.txt" % (name, env.transport.name))
    with open(mine, "w") as f:
        f.write("\n".join(r.hex() for r in reports) + "\n")
    other = "vframe" if env.transport.name == "sim" else "sim"
    theirs = os.path.join(env.artifacts, "received-%s-%s.txt" % (name, other))
    if os.path.exists(theirs) and os.path.getmtime(theirs) > os.path.getmtime(built_from):
        with open(theirs) as f, open(mine) as g:
            check(f.read() == g.read(), "the frame received other bytes over %s than over %s" %
                  (env.transport.name, other))
        return "same bytes as over %s" % other
    return ""


def tools_present(env, *tools):
    """Whether every program named is in the build's bin folder; says which one is not."""
    for tool in tools:
        if not os.path.exists(os.path.join(env.bin, tool)):
            print("missing %s in %s" % (tool, env.bin))
            return False
    return True


# The window probe's layout lines (window_probe.exe WINDOW layout): rectangles on the screen.

def rect(text):
    left, top, right, bottom = (int(v) for v in text.split(","))
    return left, top, right, bottom


def overlap(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def inside(a, outer):
    return a[0] >= outer[0] and a[1] >= outer[1] and a[2] <= outer[2] and a[3] <= outer[3]


def parse_layout(out):
    """{"window": fields, "tabs": fields, "tab": [fields], "page": [fields], "control": [fields]}
    of the probe's layout lines; "rect", "display" as tuples, "text-size" as (w, h)."""
    layout = {"tab": [], "page": [], "control": []}
    for line in out.splitlines():
        kind, _, rest = line.partition(" ")
        text = None
        if " text=" in rest or rest.startswith("text="):
            rest, _, text = rest.partition("text=")
        fields = dict(part.partition("=")[::2] for part in rest.split())
        for key in ("rect", "display"):
            if key in fields:
                fields[key] = rect(fields[key])
        if "text-size" in fields:
            fields["text-size"] = tuple(int(v) for v in fields["text-size"].split(","))
        if text is not None:
            fields["text"] = text
        if kind in ("window", "tabs"):
            layout[kind] = fields
        elif kind in layout:
            layout[kind].append(fields)
    return layout


def timed(run):
    """Marks a scenario whose checks bound how long the program takes to answer: the suite runs
    such scenarios alone (--timed only), the others beside other lanes (--timed none)."""
    run.timed = True
    return run


def part_of(text):
    """K/N with 1 <= K <= N."""
    k, _, n = text.partition("/")
    if not (k.isdigit() and n.isdigit() and 1 <= int(k) <= int(n)):
        raise argparse.ArgumentTypeError("not K/N: %r" % text)
    return int(k), int(n)


def run_scenarios(scenarios, prepare=None, argv=None, finish=None):
    """Runs every scenario (name, run[, transports]) of the chosen transport (or those whose name
    contains --only, and of those timed or not as --timed says, and of those --part's share), each
    on its own; the exit code. `finish(env, code)` runs after them."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--native-bin", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--only", default="")
    parser.add_argument("--transport", choices=TRANSPORTS, default="sim",
                        help="simulator host (sim) or Wine's HID stack with the virtual frame (vframe)")
    parser.add_argument("--timed", choices=("all", "only", "none"), default="all",
                        help="the scenarios that bound the program's answer times, the others, or all")
    parser.add_argument("--part", default="1/1", type=part_of,
                        help="K/N: every Nth of the chosen scenarios from the Kth on, so that N lanes share them")
    args = parser.parse_args(argv)
    env = Env(args)
    if not os.access(env.framesim, os.X_OK):
        print("missing %s: build the native tree first (scripts/build native)" % env.framesim)
        return 1
    try:
        env.transport.prepare()
    except Failure as e:
        print("FAIL  %s" % e)
        return 1
    if prepare and not prepare(env):
        if finish:
            finish(env, 1)
        return 1
    print("transport: %s" % env.transport.name, flush=True)
    chosen = [s for s in scenarios
              if not (args.only and args.only not in s[0])
              and env.transport.name in (s[2] if len(s) > 2 else SIM)
              and (args.timed == "all" or getattr(s[1], "timed", False) == (args.timed == "only"))]
    part, parts = args.part
    failures = ran = 0
    for name, run, *_ in chosen[part - 1::parts]:
        ran += 1
        began = time.time()
        try:
            note = run(env)
            result = "PASS  %-32s %5.1f s  %s" % (name, time.time() - began, note or "")
            print(result, flush=True)
        except Exception as e:  # a failed scenario must not stop the others
            failures += 1
            result = "FAIL  %-32s %5.1f s  %s" % (name, time.time() - began, e)
            print(result, flush=True)
            if not isinstance(e, Failure):
                traceback.print_exc()
            screenshot(env, "failure-%s.png" % name.split(",")[0].replace(" ", "-"))
        # The suite's record of every scenario's time, for sharing the lanes out (scripts/test).
        if os.environ.get("TACTRA_SCENARIO_LOG"):
            with open(os.environ["TACTRA_SCENARIO_LOG"], "a") as log:
                log.write("%s %s %s\n" % (os.path.basename(sys.argv[0]), env.transport.name, result.rstrip()))
    env.probes.stop()
    # A selection that runs nothing is a mistake in the suite, not a pass.
    print("%d scenario(s) failed" % failures if failures else "all %d scenarios passed" % ran if ran else
          "no scenario chosen")
    code = 1 if failures or not ran else 0
    if finish:
        finish(env, code)
    return code


if __name__ == "__main__":
    sys.exit("run a program's scenarios, not the harness")
