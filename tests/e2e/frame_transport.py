"""How an end-to-end scenario's program reaches its simulated frame, shared by the harnesses.

Two transports, one frame model (tactra-framesim) behind both:

- sim: the program runs with TACTRA_FRAME_SIM and talks to the frame through the simulator host.
- vframe: the program runs unchanged in the virtual-frame prefix (scripts/vframe) and finds the
  frame through Wine's own HID stack: the frame's driver, answered by the bridge, which
  scripts/vframe starts in front of each scenario's frame. `ctl unplug` and `ctl plug` then remove
  and add the frame's devices, so the notices come from Wine's plug-and-play.

A harness adds the option with add_arguments(parser), makes Transport(args.transport, ...) and
creates its frames and program environments through it; the scenarios and their checks stay the
same for both.
"""

import json
import os
import socket
import subprocess
import time

TRANSPORTS = ("sim", "vframe")
REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
VFRAME_SCRIPT = os.path.join(REPO, "scripts", "vframe")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def add_arguments(parser):
    parser.add_argument("--transport", choices=TRANSPORTS, default="sim",
                        help="simulator host (sim) or Wine's HID stack with the virtual frame (vframe)")


class Transport:
    def __init__(self, name, framesim, base_env):
        self.name = name
        self.framesim = framesim
        self.base = dict(base_env)
        if name == "vframe":
            # scripts/vframe decides the prefix from the same variables as scripts/with-wine.
            tree = self.base.get("TACTRA_WIN_TREE", "build/win32")
            self.base["WINEPREFIX"] = self.base.get("TACTRA_VFRAME_PREFIX",
                                                    os.path.join(REPO, tree, "vframe-prefix"))
        self.base.pop("TACTRA_FRAME_SIM", None)

    def prepare(self):
        """Once per run: the virtual-frame prefix with its driver (quick when it is ready)."""
        if self.name == "vframe":
            out = subprocess.run([VFRAME_SCRIPT, "prepare"], env=self.base, capture_output=True,
                                 text=True, timeout=600)
            check(out.returncode == 0, "the virtual-frame prefix cannot be prepared: %s" %
                  (out.stderr.strip() or out.stdout.strip()))

    def program_env(self, port):
        """The environment of a program that should find the frame served on `port` (None: no
        frame at all)."""
        env = dict(self.base)
        if self.name == "sim":
            env["TACTRA_FRAME_SIM"] = "127.0.0.1:%d" % (port or free_port())
        return env

    def frame(self, *serve_args):
        return Frame(self, serve_args)


class Frame:
    """One simulated frame on its own port, and in the vframe transport the bridge before it."""

    def __init__(self, transport, serve_args):
        self.transport = transport
        self.port = free_port()
        self.bridged = False
        self.proc = subprocess.Popen([transport.framesim, "serve", "--port", str(self.port), *serve_args],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while True:
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.2):
                    break
            except OSError:
                if time.time() > deadline:
                    self.stop()
                    raise Failure("simulator did not start")
                time.sleep(0.05)
        if transport.name == "vframe":
            out = subprocess.run([VFRAME_SCRIPT, "start", str(self.port)], env=transport.base,
                                 capture_output=True, text=True, timeout=120)
            self.bridged = True
            if out.returncode != 0:
                self.stop()
                raise Failure("the bridge did not plug the frame in: %s" % out.stderr.strip())

    def ctl(self, *argv):
        out = subprocess.run([self.transport.framesim, "ctl", "--port", str(self.port), *argv],
                             capture_output=True, text=True, timeout=20)
        return out.stdout

    def received(self, channel):
        """Every whole report the frame received on `channel`, in order, as bytes."""
        dump = json.loads(self.ctl("dump"))
        return [bytes.fromhex(r["report"]) for r in dump["received"] if r["channel"] == channel]

    def stop(self):
        if self.bridged:
            subprocess.run([VFRAME_SCRIPT, "stop"], env=self.transport.base, capture_output=True,
                           timeout=120, check=False)
            self.bridged = False
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
