#!/usr/bin/env python3
"""One whole delivery cycle of ZirvoSrv against its floor, measured in the same run.

For every case (messages N, accounts A, file system) it creates the embedded database
(SQLite, the project's schema script) with N open messages over A accounts, starts an
HTTPS stand-in of the SMS gateway on 127.0.0.1, then

- runs the floor (ZirvoCycleFloor: the same selection, POST bodies and updates, nothing
  else) on one copy of the database;
- runs the real ZirvoSrv -console on another copy for two cycles: the first does the
  work and is timed from its first to its last log line, less the two one-second waits
  every cycle makes; the second, with nothing left to check and nothing changed in the
  settings, is the steady state whose fsync calls on the settings file are counted
  (strace attached for that cycle only).

It prints per case: cycle time, floor, ratio, the CPU time (user + system) of both
processes for the same work, which a loaded machine disturbs far less than the wall
clock, peak resident memory of both, requests and connections, the fsync calls of the steady-state cycle, and the 100 000 / 10 000 growth.
Run by hand from the repository root after building ZirvoSrv and ZirvoCycleFloor:

    python3 bench/cycle_bench.py [--build build] [--messages 10000,100000]
                                 [--accounts 1,100] [--fs tmpfs,disk] [--repeat R]
                                 [--profile perf.data]   (floor: perf.data.plancher)

With --repeat R each case runs R times and the fastest service run and fastest floor
run are printed: on a machine shared with other work, the fastest run is the one least
disturbed by it.
"""

import argparse
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import demo_gateway  # noqa: E402  (the demonstration's gateway stand-in)

FILE_SYSTEMS = {"tmpfs": "/dev/shm", "disk": "/var/tmp"}
MESSAGE_TEXT = ("Bonjour, nous vous rappelons votre rendez-vous du cabinet demain à 9 h 30. "
                "Merci de prévenir en cas d'empêchement au 01 23 45 67 89. Le secrétariat.")


class Gateway:
    """The demonstration's gateway stand-in (every id reported delivered), counting what it
    serves."""

    def __init__(self, workdir):
        cert, key = os.path.join(workdir, "gw.pem"), os.path.join(workdir, "gw.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        self.counts = demo_gateway.Counts()
        self.server = demo_gateway.start_gateway(cert, key, counts=self.counts)
        self.port = self.server.server_address[1]

    @property
    def requests(self):
        return self.counts.requests

    @property
    def connections(self):
        return self.counts.connections

    def reset(self):
        self.counts.requests = self.counts.connections = 0

    def stop(self):
        self.server.shutdown()


def scramble(binary, text):
    return subprocess.run([binary, "-scramble"], input=text + "\n", capture_output=True,
                          text=True, check=True).stdout.strip()


def create_database(path, messages, accounts, binary):
    db = sqlite3.connect(path)
    with open(os.path.join(ROOT, "src/db/schema/sqlite.sql"), encoding="utf-8") as f:
        db.executescript(f.read())
    logins = [(scramble(binary, f"cabinet-{a:03d}"), scramble(binary, f"motdepasse-{a:03d}"))
              for a in range(accounts)]
    start = time.time() - messages - 3600
    rows = []
    for i in range(messages):
        member, password = logins[i % accounts]
        sent = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(start + i)) + ".000"
        rows.append((i + 1, f"{70000000 + i}", sent, member, password, f"+336{i:08d}"))
    db.executemany("INSERT INTO SMS_SENDED (SMS_SENDED_ID, SMS_ID, SEND_DATE_TIME, FOURNISSEUR,"
                   " MEMBER_ID, PASSWORD, PHONE_NUMBER, MESSAGE_TEXT)"
                   " VALUES (?, ?, ?, 1, ?, ?, ?, '" + MESSAGE_TEXT.replace("'", "''") + "')", rows)
    db.executemany("INSERT INTO SMS_SENDED_DELIVERY (SMS_SENDED_ID, DELIVERED) VALUES (?, 0)",
                   ((i + 1,) for i in range(messages)))
    db.commit()
    db.close()


def delivered_rows(path):
    db = sqlite3.connect(path)
    count = db.execute("SELECT count(*) FROM SMS_SENDED_DELIVERY WHERE DELIVERED = 1"
                       " AND DELIVERED_DATE_TIME IS NOT NULL AND DELIVERED_MESSAGE IS NULL"
                       ).fetchone()[0]
    db.close()
    return count


def run_floor(build, database, gateway, profile=None):
    gateway.reset()
    command = [os.path.join(build, "bench/ZirvoCycleFloor"), database, str(gateway.port)]
    if profile:
        command = ["perf", "record", "-g", "-q", "-o", profile + ".plancher", "--"] + command
    floor = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    output = floor.stdout.read()
    floor.wait()
    if floor.returncode != 0:
        raise RuntimeError(f"le plancher a échoué ({floor.returncode})")
    values = dict(word.split("=") for word in output.split())
    return {"seconds": float(values["floor"]), "select": float(values["select"]),
            "post": float(values["post"]), "update": float(values["update"]),
            "rss": int(values["peak_kib"]) / 1024.0,
            "rss_executed": int(values["executed_peak_kib"]) / 1024.0,
            "cpu": float(values["cpu"]),
            "requests": gateway.requests, "connections": gateway.connections}


def cpu_seconds(pid):
    """User and system time of a running process so far, all its threads."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class LogWatch:
    """Notes when lines containing given texts first appear in the service's log."""

    def __init__(self, path):
        self.path, self.offset, self.pending = path, 0, ""

    def wait_for(self, text, timeout, after=0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                with open(self.path, "rb") as f:
                    f.seek(self.offset)
                    data = f.read()
            except FileNotFoundError:
                data = b""
            now = time.monotonic()
            self.offset += len(data)
            self.pending += data.decode("utf-8", "replace")
            while "\n" in self.pending:
                line, self.pending = self.pending.split("\n", 1)
                if text in line:
                    return now
            time.sleep(0.002)
        raise RuntimeError(f"« {text} » n'est pas apparu dans {self.path}")


def run_service(build, workdir, database, gateway, timeout, profile=None):
    service_dir = os.path.join(workdir, "service")
    os.makedirs(service_dir)
    binary = os.path.join(service_dir, "ZirvoSrv")
    shutil.copy(os.path.join(build, "ZirvoSrv"), binary)
    ini = os.path.join(service_dir, "ZirvoSrv.ini")
    with open(ini, "w", encoding="utf-8") as f:
        f.write("[Main]\nDebugMode=1\nInterval=2\n[ODBC]\nSQLServerDriver=SQLite3\n"
                f"[Endpoints]\nGatewayHost=127.0.0.1:{gateway.port}\n"
                f"[DBKERNEL]\nServerName={database}\nDatabaseName=VARNOX\n")
    with open(os.path.join(workdir, "odbc.ini"), "w") as f:
        f.write(f"[QuenzarMySQLDB]\nDriver=SQLite3\nDatabase={workdir}/quenzar-mysql.db\n")
    env = dict(os.environ, LC_ALL="fr_FR.UTF-8", ODBCINI=os.path.join(workdir, "odbc.ini"),
               ZIRVOSRV_RUNTIME_DIR=os.path.join(workdir, "run"),
               ZIRVOSRV_EVENTLOG=os.path.join(workdir, "evenements.log"))
    log = LogWatch(os.path.join(service_dir, "ZirvoSrv.log"))
    gateway.reset()
    service = subprocess.Popen([binary, "-console"], env=env, stdout=subprocess.DEVNULL)
    try:
        start = log.wait_for("Exécution du timer", 30)
        cpu_start = cpu_seconds(service.pid)
        # The check starts after two one-second waits: time enough for perf to attach.
        profiler = profile and subprocess.Popen(
            ["perf", "record", "-g", "-o", profile, "-p", str(service.pid)],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        end = log.wait_for("Fin de traitement", timeout)
        cpu = cpu_seconds(service.pid) - cpu_start
        if profiler:
            profiler.send_signal(signal.SIGINT)
            profiler.wait()
        with open(f"/proc/{service.pid}/status") as f:
            rss = next(int(l.split()[1]) for l in f if l.startswith("VmHWM")) / 1024.0
        requests, connections = gateway.requests, gateway.connections
        # The steady-state cycle: strace is attached only now, so the timed cycle runs
        # untraced.
        trace = os.path.join(workdir, "steady.strace")
        tracer = subprocess.Popen(["strace", "-f", "-y", "-o", trace, "-e",
                                   "trace=fsync,fdatasync,rename,renameat,renameat2",
                                   "-p", str(service.pid)], stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        log.wait_for("Exécution du timer", 30)
        log.wait_for("Fin de traitement", 60)
        tracer.send_signal(signal.SIGINT)
        tracer.wait()
    finally:
        service.send_signal(signal.SIGTERM)
        service.wait()
    syncs = renames = 0
    with open(trace) as f:
        for line in f:
            if "fsync(" in line or "fdatasync(" in line:
                if "ZirvoSrv.ini" in line or f"<{service_dir}>" in line:
                    syncs += 1
            elif "rename" in line and "ZirvoSrv.ini" in line:
                renames += 1
    return {"seconds": end - start - 2.0, "cpu": cpu, "rss": rss, "requests": requests,
            "connections": connections, "syncs": syncs, "renames": renames}


def run_case(build, messages, accounts, fs, gateway, timeout, profile=None):
    with tempfile.TemporaryDirectory(prefix="zirvo-cycle-", dir=FILE_SYSTEMS[fs]) as work:
        source = os.path.join(work, "source.db")
        create_database(source, messages, accounts, os.path.join(build, "ZirvoSrv"))
        floor_db, service_db = (os.path.join(work, n) for n in ("floor.db", "varnox.db"))
        shutil.copy(source, floor_db)
        shutil.copy(source, service_db)
        floor = run_floor(build, floor_db, gateway, profile)
        service = run_service(build, work, service_db, gateway, timeout, profile)
        for name, path in (("plancher", floor_db), ("service", service_db)):
            if delivered_rows(path) != messages:
                raise RuntimeError(f"{name} : {delivered_rows(path)} lignes remises"
                                   f" sur {messages}")
    return floor, service


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--messages", default="10000,100000")
    parser.add_argument("--accounts", default="1,100")
    parser.add_argument("--fs", default="tmpfs,disk")
    parser.add_argument("--repeat", type=int, default=1,
                        help="runs per case; the fastest service and floor runs are kept")
    parser.add_argument("--profile", help="perf record of the service's timed cycle into"
                        " this file, and of the floor into FILE.plancher (with one case)")
    parser.add_argument("--timeout", type=float, default=3600, help="secondes par cycle")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    cases = [(int(n), int(a), fs) for fs in args.fs.split(",") for a in args.accounts.split(",")
             for n in args.messages.split(",")]
    print(f"# {time.strftime('%Y-%m-%d %H:%M:%S')}  charge moyenne au départ : "
          f"{' '.join(open('/proc/loadavg').read().split()[:3])}  processeurs : {os.cpu_count()}")
    print(f"{'cas':<22}{'cycle s':>9}{'plancher s':>11}{'ratio':>7}{'CPU svc':>8}{'CPU pl.':>8}"
          f"{'ratio':>6}{'RSS svc':>9}"
          f"{'RSS pl.':>9}{'RSS exéc.':>10}{'req':>6}{'conn':>6}{'fsync ini':>10}{'écritures ini':>14}"
          f"  plancher : sélection/POST/mises à jour s")
    results = {}
    with tempfile.TemporaryDirectory(prefix="zirvo-gw-") as gwdir:
        gateway = Gateway(gwdir)
        for messages, accounts, fs in cases:
            floor = service = None
            cpu = [float("inf"), float("inf")]  # the least CPU time of floor and service
            for _ in range(args.repeat):
                f, s = run_case(build, messages, accounts, fs, gateway, args.timeout,
                                args.profile and os.path.abspath(args.profile))
                floor = f if floor is None or f["seconds"] < floor["seconds"] else floor
                service = s if service is None or s["seconds"] < service["seconds"] else service
                cpu[0] = min(cpu[0], f["cpu"])
                cpu[1] = min(cpu[1], s["cpu"])
            floor["cpu"], service["cpu"] = cpu
            results[(messages, accounts, fs)] = service["seconds"]
            name = f"{messages} msg/{accounts} cpt/{fs}"
            print(f"{name:<22}{service['seconds']:9.3f}{floor['seconds']:11.3f}"
                  f"{service['seconds'] / floor['seconds']:7.3f}{service['cpu']:8.2f}"
                  f"{floor['cpu']:8.2f}{service['cpu'] / floor['cpu']:6.2f}{service['rss']:8.1f}M"
                  f"{floor['rss']:8.1f}M{floor['rss_executed']:9.1f}M"
                  f"{service['requests']:6d}{service['connections']:6d}"
                  f"{service['syncs']:10d}{service['renames']:14d}"
                  f"  {floor['select']:.3f}/{floor['post']:.3f}/{floor['update']:.3f}"
                  f" (req {floor['requests']}, conn {floor['connections']})", flush=True)
        gateway.stop()
    for (messages, accounts, fs), seconds in results.items():
        if messages == 100000 and (10000, accounts, fs) in results:
            print(f"croissance 100 000 / 10 000, {accounts} cpt/{fs} : "
                  f"{seconds / results[(10000, accounts, fs)]:.2f} x")
    print(f"# charge moyenne à la fin : {' '.join(open('/proc/loadavg').read().split()[:3])}")


if __name__ == "__main__":
    sys.exit(main())
