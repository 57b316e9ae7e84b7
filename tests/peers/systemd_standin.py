"""Plays systemd for one ZirvoSrv process, with the Python standard library only.

The stand-in copies the executable into a directory of its own (so that the log and
settings files beside it land there), receives the sd_notify datagrams on a unix
datagram socket it binds in that directory, sends the control signals, and reads what
the process prints. The process is killed when the stand-in closes, also when a test
fails half-way, and it dies with the stand-in's process should that one be killed.
"""

import ctypes
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

PR_SET_PDEATHSIG = 1


def _die_with_parent():
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def parse_datagram(data):
    """Turns "KEY=value" lines into a dict; values stay text."""
    fields = {}
    for line in data.decode("utf-8").split("\n"):
        if "=" in line:
            key, value = line.split("=", 1)
            fields[key] = value
    return fields


class SystemdStandIn:
    def __init__(self, executable):
        self._temp = tempfile.TemporaryDirectory(prefix="zirvo-standin-")
        self.directory = self._temp.name
        self.executable = os.path.join(self.directory, os.path.basename(executable))
        shutil.copy2(executable, self.executable)
        self.unit_dir = os.path.join(self.directory, "units")
        self.runtime_dir = os.path.join(self.directory, "run")
        self.event_log = os.path.join(self.directory, "events.log")
        os.mkdir(self.unit_dir)
        self.notify_path = os.path.join(self.directory, "notify.sock")
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.socket.bind(self.notify_path)
        self.process = None
        self.datagrams = []

    def environment(self, notify=True, invocation=False, extra=None):
        env = {k: v for k, v in os.environ.items()
               if k not in ("NOTIFY_SOCKET", "INVOCATION_ID")}
        env["ZIRVOSRV_UNIT_DIR"] = self.unit_dir
        env["ZIRVOSRV_RUNTIME_DIR"] = self.runtime_dir
        env["ZIRVOSRV_EVENTLOG"] = self.event_log
        if notify:
            env["NOTIFY_SOCKET"] = self.notify_path
        if invocation:
            env["INVOCATION_ID"] = "0123456789abcdef0123456789abcdef"
        env.update(extra or {})
        return env

    def start(self, *arguments, notify=True, invocation=False, extra_env=None, launcher=()):
        """launcher: a command that executes the program in its own place (same pid)."""
        self.process = subprocess.Popen(
            [*launcher, self.executable, *arguments],
            env=self.environment(notify, invocation, extra_env),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            preexec_fn=_die_with_parent)
        return self.process

    def run(self, *arguments, timeout=30, **kwargs):
        """Runs the program to its end; returns (exit code, stdout bytes, stderr bytes)."""
        self.start(*arguments, **kwargs)
        out, err = self.process.communicate(timeout=timeout)
        return self.process.returncode, out, err

    def next_status(self, timeout=15):
        self.socket.settimeout(timeout)
        data = self.socket.recv(4096)
        fields = parse_datagram(data)
        self.datagrams.append(fields)
        return fields

    def wait_for_state(self, state, timeout=15):
        """Reads datagrams until one reports the state; returns every one read."""
        seen = []
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError("état %d jamais annoncé ; reçu : %r" % (state, seen))
            fields = self.next_status(remaining)
            seen.append(fields)
            if fields.get("X_ZIRVOSRV_STATE") == str(state):
                return seen

    def send(self, signal_number):
        self.process.send_signal(signal_number)

    def wait_exit(self, timeout=15):
        return self.process.wait(timeout=timeout)

    def read(self, name):
        with open(os.path.join(self.directory, name), "rb") as f:
            return f.read()

    def events(self):
        if not os.path.exists(self.event_log):
            return []
        with open(self.event_log, "rb") as f:
            return f.read().decode("utf-8").splitlines()

    def close(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.process is not None:
            for stream in (self.process.stdout, self.process.stderr):
                if stream is not None:
                    stream.close()
        self.socket.close()
        self._temp.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
