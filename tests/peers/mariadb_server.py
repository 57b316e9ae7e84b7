#!/usr/bin/env python3
"""A MariaDB server for the tests: a fresh data folder, a socket of its own, a port on
127.0.0.1 only.

  start STATE [--watch PID] [--time-limit SECONDS]
      Makes and starts a server in a new temporary folder and, once it answers, writes
      the folder's path to STATE. The folder holds server.sock (the root user, without
      password) and port (its TCP port). The server stops by itself after the time limit,
      and within a second once the watched process is gone (by default the caller: the
      ctest run that starts it as a fixture); its folder goes with it.
  stop STATE
      Stops the server named in STATE, removes its folder and STATE.
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time


def read(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return ""


def alive(pid):
    """Whether the process runs; a zombie (killed, not yet reaped) does not."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def server_pid(folder):
    pid = read(os.path.join(folder, "server.pid"))
    return int(pid) if pid.isdigit() else 0


def stop(folder):
    pid = server_pid(folder)
    if pid and alive(pid):
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + 10
        while alive(pid) and time.monotonic() < deadline:
            time.sleep(0.05)
        if alive(pid):
            os.kill(pid, signal.SIGKILL)
    shutil.rmtree(folder, ignore_errors=True)


def answers(folder):
    return subprocess.run(["mariadb-admin", "--no-defaults", "--socket=" + folder + "/server.sock",
                           "-uroot", "--connect-timeout=2", "ping"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def start_server(folder, time_limit):
    """The server on a free port; started again on another when the port was taken
    between its choice and the server's bind (another process of the run)."""
    log = os.path.join(folder, "server.log")
    for _ in range(4):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        for name in ("server.log", "server.pid"):
            if os.path.exists(os.path.join(folder, name)):
                os.remove(os.path.join(folder, name))
        server = subprocess.Popen(
            ["timeout", str(time_limit), "mariadbd", "--no-defaults", "--user=root",
             "--datadir=" + folder + "/data", "--socket=" + folder + "/server.sock",
             "--port=%d" % port, "--tmpdir=" + folder + "/tmp", "--bind-address=127.0.0.1",
             "--skip-name-resolve", "--pid-file=" + folder + "/server.pid", "--log-error=" + log,
             "--innodb-buffer-pool-size=16M", "--skip-log-bin", "--max-connections=50"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and server.poll() is None:
            if answers(folder):
                return port
            if "Bind on TCP/IP port" in read(log):
                break
            time.sleep(0.05)
        server.terminate()
        server.wait()
        if "Bind on TCP/IP port" not in read(log):
            break
    raise RuntimeError("MariaDB n'a pas démarré :\n" + read(log))


def start(state, watched, time_limit):
    folder = tempfile.mkdtemp(prefix="zirvo-mariadb-")
    try:
        # Its own folder for temporary tables and files: servers of test processes
        # running side by side must not meet in /tmp.
        os.mkdir(os.path.join(folder, "tmp"))
        install = subprocess.run(
            ["mariadb-install-db", "--no-defaults", "--datadir=" + folder + "/data",
             "--tmpdir=" + folder + "/tmp", "--user=root",
             "--auth-root-authentication-method=normal", "--skip-test-db",
             "--skip-name-resolve"],
            env=dict(os.environ, TMPDIR=folder + "/tmp"), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if install.returncode != 0:
            raise RuntimeError("mariadb-install-db a échoué :\n" + install.stdout.decode())
        port = start_server(folder, time_limit)
        with open(os.path.join(folder, "port"), "w") as f:
            f.write("%d\n" % port)
        subprocess.Popen([sys.executable, os.path.abspath(__file__), "watch", folder,
                          "--watch", str(watched)], stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
        with open(state, "w") as f:
            f.write(folder + "\n")
    except BaseException:
        stop(folder)
        raise


def watch(folder, watched):
    """Stops the server once the watched process is gone; removes its folder once the
    server ends, whatever ends it."""
    pid = server_pid(folder)
    while alive(watched) and alive(pid):
        time.sleep(0.5)
    stop(folder)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("action", choices=("start", "stop", "watch"))
    parser.add_argument("path")
    parser.add_argument("--watch", type=int, default=os.getppid())
    parser.add_argument("--time-limit", type=int, default=1800)
    args = parser.parse_args()
    if args.action == "start":
        start(args.path, args.watch, args.time_limit)
    elif args.action == "watch":
        watch(args.path, args.watch)
    else:
        folder = read(args.path)
        if folder:
            stop(folder)
        if os.path.exists(args.path):
            os.remove(args.path)


if __name__ == "__main__":
    main()
