"""ZirvoSrv as a real process under a stand-in for systemd (tests/peers).

Run by ctest with ZIRVOSRV_EXECUTABLE naming the built program; each test case copies
it into a directory of its own.
"""

import concurrent.futures
import glob
import hashlib
import json
import os
import shutil
import signal
import socket
import sqlite3
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

# The source tree stays clean: no byte-code cache beside the stand-in.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "peers"))
from systemd_standin import SystemdStandIn  # noqa: E402

EXECUTABLE = os.environ.get("ZIRVOSRV_EXECUTABLE", "")
PEERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers")
SCHEMA = os.path.join(PEERS, "..", "..", "src", "db", "schema", "sqlite.sql")
DISPLAY = "Quenzar - Service de gestion des SMS"


def states(datagrams):
    return [int(d["X_ZIRVOSRV_STATE"]) for d in datagrams]


def read_text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def field(datagrams, name):
    return [d.get(name) for d in datagrams]


def sqlite_odbc_driver():
    found = glob.glob("/usr/lib/*/odbc/libsqlite3odbc.so") + glob.glob("/usr/lib/odbc/libsqlite3odbc.so")
    return os.environ.get("ZIRVO_SQLITE3_ODBC_DRIVER") or (found[0] if found else "")


def make_certificate(folder, cert_name, key_name):
    """A self-signed certificate for localhost; its elliptic-curve key takes no time to make."""
    cert, key = os.path.join(folder, cert_name), os.path.join(folder, key_name)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
                    "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    return cert, key


class StalledGateway:
    """An HTTPS gateway on 127.0.0.1 that takes the request, sends the head and the first
    report line of a longer body, and then holds the connection without a word more."""

    def __init__(self, directory):
        cert, key = make_certificate(directory, "gw.pem", "gw.key")
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(cert, key)
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.requested = threading.Event()
        self.closing = threading.Event()
        self.requests = 0
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        held = []
        while not self.closing.is_set():
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            try:
                conn.settimeout(10)
                tls = self.context.wrap_socket(conn, server_side=True)
                data = b""
                while b"\r\n\r\n" not in data:
                    data += tls.recv(65536)
                line = "attente-1|07/12/2026 10:00:00|DELIVRD\r\n"
                tls.sendall(("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                             "Content-Length: 4000\r\n\r\n" + line).encode("ascii"))
                held.append(tls)
                self.requests += 1
                self.requested.set()
            except (OSError, ssl.SSLError):
                conn.close()
        for tls in held:
            tls.close()
        self.listener.close()

    def close(self):
        self.closing.set()
        self.thread.join()


def snapshot(directory):
    """Every file under the directory with its content digest, mode and change time."""
    found = {}
    for root, dirs, files in os.walk(directory):
        for name in dirs + files:
            path = os.path.join(root, name)
            info = os.lstat(path)
            digest = None
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            found[os.path.relpath(path, directory)] = (digest, info.st_mode, info.st_mtime_ns)
    return found


def start_peer(folder, name, replies, tls=False):
    """tests/peers/http_peer.py on a free loopback port, the last reply repeated."""
    script = os.path.join(folder, name + ".json")
    with open(script, "w") as f:
        json.dump([{"reply": r} for r in replies], f)
    records = os.path.join(folder, name + "-records")
    os.mkdir(records)
    command = [sys.executable, os.path.join(PEERS, "http_peer.py"), "--repeat-last",
               "--port-file", os.path.join(folder, name + ".port"), "--record-dir", records,
               "--script", script, "--time-limit", "90"]
    if tls:
        command += ["--cert", os.path.join(folder, "cert.pem"),
                    "--key", os.path.join(folder, "key.pem")]
    process = subprocess.Popen(command)
    port_file = os.path.join(folder, name + ".port")
    deadline = time.monotonic() + 15
    while not os.path.exists(port_file):
        if time.monotonic() > deadline:
            raise TimeoutError("le pair %s n'a pas démarré" % name)
        time.sleep(0.05)
    with open(port_file) as f:
        return process, int(f.read()), records


def practice_with_a_waiting_message(s, gateway_port):
    """A SQLite practice base beside the stand-in's program with one message waiting
    ("attente-1"), the MySQL data source on SQLite, settings in debug mode with a
    one-second interval and the gateway on a loopback port; gives the base's path and the
    environment the service needs."""
    driver = sqlite_odbc_driver()
    if not driver:
        raise unittest.SkipTest("pilote ODBC SQLite introuvable")

    def scrambled(text):
        out = subprocess.run([s.executable, "-scramble"], input=(text + "\n").encode(),
                             capture_output=True, check=True).stdout
        return out.decode().strip()

    database = os.path.join(s.directory, "Varnox.db")
    db = sqlite3.connect(database)
    with open(SCHEMA, encoding="utf-8") as f:
        db.executescript(f.read())
    db.execute("INSERT INTO SMS_SENDED (SMS_ID, SEND_DATE_TIME, FOURNISSEUR, MEMBER_ID, PASSWORD)"
               " VALUES ('attente-1', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'), 1, ?, ?)",
               (scrambled("cabinet"), scrambled("secret")))
    db.execute("INSERT INTO SMS_SENDED_DELIVERY (SMS_SENDED_ID, DELIVERED) VALUES (1, 0)")
    db.commit()
    db.close()
    with open(os.path.join(s.directory, "odbcinst.ini"), "w") as f:
        f.write("[SQLite3]\nDriver=%s\n" % driver)
    with open(os.path.join(s.directory, "odbc.ini"), "w") as f:
        f.write("[QuenzarMySQLDB]\nDriver=SQLite3\nDatabase=%s\n"
                % os.path.join(s.directory, "quenzar.db"))
    with open(os.path.join(s.directory, "ZirvoSrv.ini"), "w") as f:
        f.write("[Main]\nDebugMode=1\nInterval=1\n[ODBC]\nSQLServerDriver=SQLite3\n"
                "[Endpoints]\nGatewayHost=127.0.0.1:%d\n[DBKERNEL]\nServerName=%s\n"
                "DatabaseName=VARNOX\n" % (gateway_port, database))
    return database, {"ODBCSYSINI": s.directory, "ODBCINSTINI": "odbcinst.ini",
                      "ODBCINI": os.path.join(s.directory, "odbc.ini")}


class ServiceProcessTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.path.isfile(EXECUTABLE), "ZIRVOSRV_EXECUTABLE manquant")
        self.standin = SystemdStandIn(EXECUTABLE)
        self.addCleanup(self.standin.close)

    def log_lines(self, standin=None):
        text = (standin or self.standin).read("ZirvoSrv.log").decode("utf-8")
        self.assertTrue(text.endswith("\r\n"))
        return [line.split(" : ", 1)[1] for line in text.split("\r\n") if line]

    def test_systemd_lifecycle(self):
        s = self.standin
        s.start()
        seen = s.wait_for_state(4)
        # An upgrade replaces the running binary by a rename: the log keeps its file.
        shutil.copy2(s.executable, s.executable + ".new")
        os.replace(s.executable + ".new", s.executable)
        s.send(signal.SIGUSR1)
        seen += s.wait_for_state(7)
        s.send(signal.SIGUSR2)
        seen += s.wait_for_state(4)
        record = dict(line.split("=", 1) for line in
                      read_text(os.path.join(s.runtime_dir, "ZirvoService.status")).splitlines())
        self.assertEqual(record["State"], "4")
        self.assertEqual(record["ControlsAccepted"], "7")
        self.assertEqual(record["Pid"], str(s.process.pid))
        s.send(signal.SIGTERM)
        seen += s.wait_for_state(1)
        self.assertEqual(s.wait_exit(), 0)
        self.assertEqual(s.process.stdout.read(), b"")
        self.assertEqual(s.process.stderr.read(), b"")

        self.assertEqual(states(seen), [2, 2, 2, 4, 6, 7, 5, 4, 3, 1])
        # The first report of the process counts as a repeat of start pending.
        self.assertEqual(field(seen, "X_ZIRVOSRV_CHECKPOINT"),
                         ["1", "2", "3", "0", "0", "0", "0", "0", "0", "0"])
        self.assertEqual(field(seen, "X_ZIRVOSRV_CONTROLS_ACCEPTED"),
                         ["0", "0", "0", "7", "7", "7", "7", "7", "7", "7"])
        self.assertEqual(field(seen, "STATUS"), [
            "Le service est en cours de démarrage"] * 3 + [
            "Le service est démarré",
            "Le service est en train d'être relancé après une opération pause",
            "Le service est en pause",
            "Le service est en train d'être relancé après une opération continue",
            "Le service est démarré",
            "Le service est en cours d'arrêt",
            "Le service est stoppé"])
        self.assertEqual(field(seen, "READY"), [None] * 3 + ["1"] + [None] * 3 + ["1", None, None])
        self.assertEqual(field(seen, "STOPPING"), [None] * 8 + ["1", None])
        for d in seen:
            pending = d["X_ZIRVOSRV_STATE"] in ("2", "3", "5", "6")
            self.assertEqual(d.get("EXTEND_TIMEOUT_USEC"), "5000000" if pending else None)

        self.assertEqual(self.log_lines(), [
            "TZirvoService.ServiceCreate...",
            "TZirvoService.ServiceStart...",
            "Lecture de la configuration...",
            # A first run writes default settings, which hold no SQL Server password.
            "!! LireConfiguration : mot de passe de connexion MSSQL vide après décodage",
            "TZirvoService.ServiceExecute...",
            "Service SMS mis en pause...",
            "ZirvoService en cours (ServiceContinue)...",
            "TZirvoService.Stop...",
            "TZirvoService.ServiceDestroy...",
        ])
        self.assertEqual(s.events(), [])
        settings = read_text(os.path.join(s.directory, "ZirvoSrv.ini"))
        self.assertIn("LastMessage2=LireConfiguration() terminée.\n", settings)
        for name in ("ZirvoSrv.ini", "ZirvoSrv.log"):
            self.assertEqual(os.stat(os.path.join(s.directory, name)).st_mode & 0o777, 0o600, name)
        self.assertTrue(os.path.isdir(os.path.join(s.directory, "Private")))
        self.assertIn("State=1\n", read_text(os.path.join(s.runtime_dir, "ZirvoService.status")))

    def test_stop_during_a_stalled_gateway_request(self):
        s = self.standin
        gateway = StalledGateway(s.directory)
        self.addCleanup(gateway.close)

        database, env = practice_with_a_waiting_message(s, gateway.port)
        s.start(extra_env=env)
        s.wait_for_state(4)
        self.assertTrue(gateway.requested.wait(30), self.log_lines())
        # The service now waits for the rest of a reply that does not come.
        time.sleep(0.5)
        s.send(signal.SIGTERM)
        seen = s.wait_for_state(1, timeout=20)
        # Stopped is heard only once the cycle has gone through its closing block.
        log_at_stopped = self.log_lines()
        self.assertEqual(s.wait_exit(timeout=10), 0)

        pending = seen[:-1]
        self.assertGreaterEqual(len(pending), 2)
        self.assertEqual(states(pending), [3] * len(pending))
        self.assertEqual(field(pending, "X_ZIRVOSRV_CHECKPOINT"),
                         [str(n) for n in range(len(pending))])
        self.assertTrue(any(line.startswith("Fin de traitement. Timer actif, toutes les 1 secondes")
                            for line in log_at_stopped), log_at_stopped)
        lines = self.log_lines()
        abandoned = "Erreur : Requête abandonnée : l'arrêt du service a été demandé."
        self.assertIn(abandoned, lines)
        after_stop = lines[lines.index("TZirvoService.Stop..."):]
        self.assertIn(abandoned, after_stop)
        self.assertTrue(any(line.startswith("Timer.Finally atteint à ") for line in after_stop))
        finished = [i for i, line in enumerate(after_stop) if line.startswith("Fin de traitement.")]
        self.assertEqual(len(finished), 1)
        self.assertLess(finished[0], after_stop.index("TZirvoService.ServiceDestroy..."))
        # One cycle only: none began during or after the stop.
        self.assertEqual(len([l for l in lines if l.startswith("Exécution du timer à ")]), 1)
        self.assertEqual(gateway.requests, 1)
        db = sqlite3.connect(database)
        self.assertEqual(db.execute("SELECT DELIVERED, DELIVERED_DATE_TIME, DELIVERED_MESSAGE"
                                    " FROM SMS_SENDED_DELIVERY").fetchall(), [(0, None, None)])
        db.close()
        self.assertEqual(s.events(), [])

    def test_handler_failures_go_to_the_event_log(self):
        s = self.standin
        make_certificate(s.directory, "cert.pem", "key.pem")
        report = "attente-1|07/12/2026 10:00:00|DELIVRD\r\n"
        gateway, port, _ = start_peer(s.directory, "gw", [
            "HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s" % (len(report), report)], tls=True)
        self.addCleanup(gateway.wait)
        self.addCleanup(gateway.kill)
        database, env = practice_with_a_waiting_message(s, port)
        # Every log line fails to be written from the very start, as on a full disk.
        log = os.path.join(s.directory, "ZirvoSrv.log")
        os.symlink("/dev/full", log)
        s.start(extra_env=env)
        seen = s.wait_for_state(4)
        # Lines are lost, neither requests nor the work: the cycle updates its row, and the
        # service pauses, continues, stops.
        deadline = time.monotonic() + 30
        while sqlite3.connect(database).execute("SELECT DELIVERED FROM SMS_SENDED_DELIVERY"
                                                ).fetchall() != [(1,)]:
            self.assertLess(time.monotonic(), deadline, s.events())
            time.sleep(0.2)
        time.sleep(2.5)  # further cycles on the full disk
        s.send(signal.SIGUSR1)
        seen += s.wait_for_state(7)
        s.send(signal.SIGUSR2)
        seen += s.wait_for_state(4)
        os.remove(log)  # the disk has room again
        s.send(signal.SIGTERM)
        seen += s.wait_for_state(1)
        self.assertEqual(s.wait_exit(), 0)
        # A stop during a cycle is pending until the cycle ends.
        self.assertEqual(states(seen)[:9] + states(seen)[-1:], [2, 2, 2, 4, 6, 7, 5, 4, 3, 1])
        self.assertIn("TZirvoService.Stop...", self.log_lines())
        # The system's text follows the locale ctest gives (fr_FR.UTF-8). Said once per
        # process, not per lost line or cycle, and once when lines are written again.
        self.assertEqual(s.events(), [
            "ZirvoService: Erreur d'écriture dans le journal %s : Aucun espace disponible sur "
            "le périphérique. Les lignes du journal sont perdues tant que l'écriture échoue."
            % log, "ZirvoService: Écriture dans le journal %s rétablie : les lignes écrites "
            "pendant la panne sont perdues." % log])

    def test_copies_a_killed_process_left_are_removed_at_the_next_start(self):
        s = self.standin
        if not shutil.which("strace") or os.geteuid() != 0:
            self.skipTest("strace et root requis")
        # Killed at its first rename: the first copy of the settings (a first run's
        # defaults), the status record having no folder.
        s.run(launcher=("strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=rename", "-e",
                        "inject=rename:signal=SIGKILL"),
              extra_env={"ZIRVOSRV_RUNTIME_DIR": "/dev/null/run"})
        orphans = [os.path.join(s.directory, n) for n in os.listdir(s.directory)
                   if n.startswith("ZirvoSrv.ini")] + [s.directory + "/ZirvoSrv_result.txt.tmpq7Zk2P"]
        self.assertEqual(len(orphans), 2, orphans)
        # The reply copy's as its writer names it; not theirs: another system's name, an
        # operator's backup, a link, another account's file.
        kept = ["ZirvoSrv.ini.tmp0123456789abcdef", "ZirvoSrv.ini.backup",
                "ZirvoSrv.ini.tmpLien01", "ZirvoSrv.ini.tmpAutre1"]
        for name in orphans[1:] + kept[:2] + kept[3:]:
            open(os.path.join(s.directory, name), "w").close()
        os.symlink(orphans[1], os.path.join(s.directory, kept[2]))
        os.chown(os.path.join(s.directory, kept[3]), os.geteuid() + 1, -1)
        s.start()
        s.wait_for_state(4)
        s.send(signal.SIGTERM)
        s.wait_for_state(1)
        self.assertEqual(s.wait_exit(), 0)
        lines = self.log_lines()
        self.assertEqual(lines[lines.index("TZirvoService.ServiceStart...", 3) + 1:][:2], [
            "Copies temporaires laissées par un arrêt brutal supprimées : " + ", ".join(orphans),
            "Lecture de la configuration..."])
        self.assertEqual(sorted(n for n in os.listdir(s.directory) if n.startswith("ZirvoSrv.")),
                         sorted(["ZirvoSrv.ini", "ZirvoSrv.log"] + kept))

    def test_control_storm_ends_with_the_stopped_report(self):
        s = self.standin
        s.start()
        s.wait_for_state(4)
        storm = [signal.SIGUSR2, signal.SIGUSR1, signal.SIGUSR1] + [signal.SIGHUP] * 40 + [
            signal.SIGUSR2, signal.SIGUSR2, signal.SIGPWR, signal.SIGHUP, signal.SIGTERM,
            signal.SIGINT, signal.SIGUSR1, signal.SIGUSR2, signal.SIGUSR1]
        for number in storm:
            s.send(number)
        seen = s.wait_for_state(1, timeout=20)
        self.assertEqual(s.wait_exit(), 0)
        self.assertEqual(states(seen)[-1], 1)
        self.assertIn(3, states(seen))
        self.assertEqual(s.events(), [])

    def test_stop_during_start_is_not_lost(self):
        s = self.standin
        s.start()
        first = s.next_status()
        self.assertEqual(first["X_ZIRVOSRV_STATE"], "2")
        s.send(signal.SIGTERM)
        seen = s.wait_for_state(1)
        self.assertEqual(s.wait_exit(), 0)
        self.assertEqual(states(seen)[-2:], [3, 1])

    def test_shutdown_signal(self):
        s = self.standin
        s.start()
        s.wait_for_state(4)
        s.send(signal.SIGPWR)
        seen = s.wait_for_state(1)
        self.assertEqual(states(seen), [3, 1])
        self.assertEqual(s.wait_exit(), 0)
        self.assertIn("ZirvoService en cours d'arrêt...", self.log_lines())

    def test_started_by_systemd_without_notify_socket(self):
        s = self.standin
        s.start(notify=False, invocation=True)
        record = os.path.join(s.runtime_dir, "ZirvoService.status")
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if os.path.exists(record) and "State=4\n" in read_text(record):
                break
            time.sleep(0.02)
        else:
            self.fail("l'état démarré n'a jamais été enregistré")
        s.send(signal.SIGTERM)
        self.assertEqual(s.wait_exit(), 0)
        self.assertIn("State=1\n", read_text(record))

    def test_without_a_locale_dates_and_system_texts_are_french(self):
        # systemd gives a unit no locale: the C conventions stand for French ones.
        no_locale = {name: "" for name in ("LC_ALL", "LC_TIME", "LC_MESSAGES", "LANG",
                                           "LANGUAGE")}
        for extra in ({**no_locale, "LC_ALL": "C"}, no_locale):
            with SystemdStandIn(EXECUTABLE) as s:
                # A runtime folder that cannot be made: each status report's failure
                # goes to the event log with the system's text.
                plain = os.path.join(s.directory, "plain")
                open(plain, "w").close()
                extra["ZIRVOSRV_RUNTIME_DIR"] = os.path.join(plain, "run")
                days = {time.strftime("%d/%m/%Y")}
                s.start(extra_env=extra)
                s.wait_for_state(4)
                s.send(signal.SIGTERM)
                s.wait_for_state(1)
                self.assertEqual(s.wait_exit(), 0)
                days.add(time.strftime("%d/%m/%Y"))
                log = s.read("ZirvoSrv.log").decode("utf-8").split("\r\n")[:-1]
                self.assertTrue(log, extra)
                for line in log:
                    stamp = line.split(" : ", 1)[0]
                    self.assertRegex(stamp, r"^\d\d/\d\d/\d{4}( \d\d:\d\d:\d\d)?$", extra)
                    self.assertIn(stamp[:10], days, extra)
                events = s.events()
                self.assertTrue(events, extra)
                self.assertEqual(set(events), {"ZirvoService: N'est pas un dossier"}, extra)

    def test_outside_any_manager_the_dispatcher_fails(self):
        code, out, err = self.standin.run(notify=False)
        self.assertNotEqual(code, 0)
        self.assertEqual(self.standin.events(), [
            "ZirvoSrv: Le processus de service n'a pas pu se connecter au contrôleur de service"])
        self.assertEqual(self.log_lines(), ["TZirvoService.ServiceCreate...",
                                            "TZirvoService.ServiceDestroy..."])
        self.assertEqual(err, b"", "no terminal, no hint")
        # On a terminal the operator also reads what the program is and how to run it.
        leader, follower = os.openpty()
        self.addCleanup(os.close, leader)
        done = subprocess.run([self.standin.executable], stderr=follower, timeout=30,
                              env=self.standin.environment(notify=False))
        os.close(follower)
        self.assertEqual(done.returncode, 1)
        self.assertIn("ZirvoSrv est un service : le gestionnaire de services le démarre",
                      os.read(leader, 4096).decode("utf-8"))
        # An option the program does not know gets the usage text, and nothing else runs.
        for option in ("-chek", "--help", "/?"):
            code, out, err = self.standin.run(option, notify=False)
            self.assertEqual((code, err), (2, b""), option)
            lines = out.decode("utf-8").splitlines()
            self.assertRegex(lines[0], r"^ZirvoSrv \d+\.\d+(\.\d+)? : ", option)
            self.assertTrue([line for line in lines if line.startswith("  -check ")], lines)
        self.assertEqual(len(self.log_lines()), 4, "no service object for a wrong option")

    def test_console_mode_stops_on_ctrl_c(self):
        s = self.standin
        s.start("-console", notify=False)
        lines = []
        while "ZirvoService : Le service est démarré" not in lines:
            line = s.process.stdout.readline().decode("utf-8")
            self.assertTrue(line, "sortie terminée avant le démarrage : %r" % lines)
            lines.append(line.rstrip("\n"))
        s.send(signal.SIGINT)
        self.assertEqual(s.wait_exit(), 0)
        rest = s.process.stdout.read().decode("utf-8").splitlines()
        self.assertEqual(rest, ["ZirvoService : Le service est en cours d'arrêt",
                                "ZirvoService : Le service est stoppé"])
        self.assertEqual(lines[0], "ZirvoService : Le service est en cours de démarrage")

    def stop_after_two_cycles(self, s, settings):
        """Waits for the service's second cycle to end, stops it; returns the log lines and
        the seconds from the running report to the end of that cycle."""
        s.wait_for_state(4)
        running = time.monotonic()
        while s.read("ZirvoSrv.log").count(b"Fin de traitement. Timer actif") < 2:
            self.assertLess(time.monotonic() - running, 30, "moins de deux cycles")
            time.sleep(0.05)
        elapsed = time.monotonic() - running
        s.send(signal.SIGTERM)
        s.wait_for_state(1)
        self.assertEqual(s.wait_exit(), 0)
        self.assertEqual(s.read("ZirvoSrv.ini"), settings, "le fichier est resté tel quel")
        return self.log_lines(s), elapsed

    def check_unwritable_settings_run(self, s, lines, elapsed):
        failure = ("Erreur lors de la lecture de la configuration - étape 1 : Unable to write to "
                   + os.path.join(s.directory, "ZirvoSrv.ini"))
        cycles = len([line for line in lines
                      if line.startswith("Fin de traitement. Timer actif, toutes les 2 secondes à ")])
        # Cycles 2 s apart (not every second, as with an interval never applied).
        self.assertIn(cycles, (2, 3), lines)
        self.assertGreaterEqual(elapsed, 3.5, lines)
        self.assertEqual(lines.count(failure), 1 + cycles, "une ligne au démarrage et par cycle")
        self.assertFalse([line for line in lines
                          if line.startswith("Erreur lors de la lecture de la configuration : ")])

    # A settings file that cannot be written stops nothing: the values read are used, the
    # interval applied, the failure logged once per cycle.
    def test_unwritable_settings_file_or_folder(self):
        # A read-only file, and beside it a writable file in a folder the service cannot
        # write: root, as CI runs, is made subject to the folder's permissions.
        file_case, folder_case = self.standin, SystemdStandIn(EXECUTABLE)
        self.addCleanup(folder_case.close)
        absent = os.path.join(file_case.directory, "absent.db").encode()
        settings = (b"[Main]\r\nDebugMode=1\r\nInterval=2\r\n[ODBC]\r\nSQLServerDriver=SQLite3\r\n"
                    b"[DBKERNEL]\r\nServerName=" + absent + b"\r\n")
        for s in (file_case, folder_case):
            with open(os.path.join(s.directory, "ZirvoSrv.ini"), "wb") as f:
                f.write(settings)
        os.chmod(os.path.join(file_case.directory, "ZirvoSrv.ini"), 0o444)
        for name in ("ZirvoSrv.log", "events.log"):
            open(os.path.join(folder_case.directory, name), "wb").close()
        os.mkdir(folder_case.runtime_dir)
        os.chmod(folder_case.directory, 0o555)
        self.addCleanup(os.chmod, folder_case.directory, 0o755)
        file_case.start()
        folder_case.start(launcher=("setpriv", "--bounding-set=-dac_override,-dac_read_search")
                          if os.geteuid() == 0 else ())
        # Both run side by side; only the waiting is done in threads.
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            runs = [pool.submit(self.stop_after_two_cycles, s, settings)
                    for s in (file_case, folder_case)]
            for s, run in zip((file_case, folder_case), runs):
                self.check_unwritable_settings_run(s, *run.result())
        self.assertEqual(sorted(os.listdir(folder_case.directory)),
                         sorted([os.path.basename(folder_case.executable), "ZirvoSrv.ini",
                                 "ZirvoSrv.log", "events.log", "notify.sock", "run", "units"]))

    def test_zero_interval_is_told_at_start(self):
        s = self.standin
        settings = b"[Main]\r\nInterval=0\r\n"
        with open(os.path.join(s.directory, "ZirvoSrv.ini"), "wb") as f:
            f.write(settings)
        for _ in range(2):
            s.start()
            s.wait_for_state(4)
            s.send(signal.SIGTERM)
            s.wait_for_state(1)
            self.assertEqual(s.wait_exit(), 0)
        self.assertEqual(self.log_lines().count(
            "Intervalle nul (clé Interval de la section Main) : aucun cycle ne sera exécuté tant "
            "que l'intervalle n'aura pas été modifié et le service redémarré."), 2)

    def test_install_with_a_missing_account_is_refused(self):
        # A fresh machine has no "ZirvoService" account: the unit runs the service as
        # root (no User= line) and the message says so.
        s = self.standin
        unit = os.path.join(s.unit_dir, "ZirvoService.service")
        for arguments, message in (
                (["-install"], "Service installed successfully\nLe compte « ZirvoService » "
                 "n'existe pas : le service « %s » est installé sous le compte système (root).\n"
                 % DISPLAY),
                (["/INSTALL", "/silent"], "")):
            code, out, err = s.run(*arguments, notify=False)
            self.assertEqual((code, out.decode("utf-8"), err), (0, message, b""), arguments)
            self.assertEqual(os.listdir(s.unit_dir), ["ZirvoService.service"])
            text = read_text(unit)
            self.assertNotIn("User=", text)
            for line in ("WorkingDirectory=%s\n" % s.directory,
                         "# Paramètres : %s\n" % os.path.join(s.directory, "ZirvoSrv.ini"),
                         "# Journal : %s\n" % os.path.join(s.directory, "ZirvoSrv.log"),
                         "Restart=on-failure\n", "RestartSec=30\n"):
                self.assertIn(line, text)
            os.remove(unit)

    def test_uninstall(self):
        s = self.standin
        code, out, err = s.run("-uninstall", notify=False)
        self.assertEqual(code, 1)
        self.assertEqual(err.decode("utf-8"),
                         'Service "%s" failed to uninstall with error: "System Error.  Code: 1060.'
                         "\r\nLe service spécifié n'existe pas en tant que service installé\"\n"
                         % DISPLAY)
        unit = os.path.join(s.unit_dir, "ZirvoService.service")
        for arguments, message in ((["/Uninstall"], b"Service uninstalled successfully\n"),
                                   (["-uninstall", "-SILENT"], b"")):
            with open(unit, "w") as f:
                f.write("[Unit]\n")
            code, out, err = s.run(*arguments, notify=False)
            self.assertEqual((code, out, err), (0, message, b""))
            self.assertFalse(os.path.exists(unit))

    def test_scramble_switch_still_works(self):
        s = self.standin
        s.start("-scramble", notify=False)
        out, err = s.process.communicate(b"", timeout=30)
        # No line to read: the command says so and fails, without starting the service.
        self.assertEqual(s.process.returncode, 1)
        self.assertFalse(os.path.exists(os.path.join(s.directory, "ZirvoSrv.log")))

        # The Windows-1252 bytes of the text are scrambled, as the desktop application does.
        key = bytes.fromhex("8d8d91473cd2cae623a66247c6f2019a82ff86c5e2acb5999a4d841c9f30b03b")

        def scrambled(text):
            plain = text.encode("cp1252")
            return "".join("%02X" % (b if (i + 1) % 32 == 0 else b ^ key[(i + 1) % 32 - 1])
                           for i, b in enumerate(plain))

        self.assertEqual(scrambled("é"), "64")
        for text in ("motdepasse", "é", "ç", "€", "Sécurité ç€ " + "x" * 40):
            done = subprocess.run([s.executable, "-scramble"], input=(text + "\n").encode(),
                                  capture_output=True, timeout=30)
            self.assertEqual((done.returncode, done.stdout, done.stderr),
                             (0, (scrambled(text) + "\n").encode(), b""), text)
        # A character Windows-1252 cannot hold is refused, not scrambled as "?".
        for text in ("Łódź", "日本", "a\udcff"):
            done = subprocess.run([s.executable, "-scramble"],
                                  input=(text + "\n").encode("utf-8", "surrogateescape"),
                                  capture_output=True, timeout=30)
            self.assertEqual((done.returncode, done.stdout), (1, b""), text)
            self.assertIn("ne peut pas représenter : rien n'a été brouillé",
                          done.stderr.decode("utf-8"))

    def test_check_command(self):
        s = self.standin
        d = s.directory
        peers = tempfile.mkdtemp(prefix="zirvo-check-peers-")
        self.addCleanup(shutil.rmtree, peers, True)
        make_certificate(peers, "cert.pem", "key.pem")
        code = subprocess.run([s.executable, "-scramble"], input=b"Sezam-42\n",
                              capture_output=True, check=True).stdout.decode().strip()
        peer_list = [
            start_peer(peers, "code", ["HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s"
                                       % (len(code), code)]),
            start_peer(peers, "refus", ["HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"]),
            start_peer(peers, "passerelle", ["HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"],
                       tls=True)]
        for process, _, _ in peer_list:
            self.addCleanup(process.kill)
        (_, code_port, _), (_, refused_port, _), (_, gateway_port, gateway_records) = peer_list

        db = sqlite3.connect(os.path.join(d, "Varnox.db"))
        with open(SCHEMA, encoding="utf-8") as f:
            db.executescript(f.read())
        # Three messages waiting for two accounts, one already delivered, one too old.
        for sms_id, account, age, delivered in (("a1", "A", 1, 0), ("a2", "A", 2, 0),
                                                 ("b1", "B", 3, 0), ("b2", "B", 1, 1),
                                                 ("old", "A", 900, 0)):
            db.execute("INSERT INTO SMS_SENDED (SMS_ID, SEND_DATE_TIME, MEMBER_ID, PASSWORD) VALUES"
                       " (?, strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', ?), ?, 'P')",
                       (sms_id, "-%d days" % age, account))
            db.execute("INSERT INTO SMS_SENDED_DELIVERY (SMS_SENDED_ID, DELIVERED)"
                       " VALUES (last_insert_rowid(), ?)", (delivered,))
        db.commit()
        db.close()
        with open(os.path.join(d, "odbc.ini"), "w") as f:
            f.write("[QuenzarMySQLDB]\nDriver=SQLite3\nDatabase=%s/Varnox.db\n" % d)
        temporary = os.path.join(peers, "tmp")
        os.mkdir(temporary)
        with socket.socket() as closed:
            closed.bind(("127.0.0.1", 0))
            closed_port = closed.getsockname()[1]
        settings = os.path.join(d, "ZirvoSrv.ini")
        baseline = {"ServerName": d + "/Varnox.db", "AccessCodeHost": "127.0.0.1:%d" % code_port,
                    "GatewayHost": "127.0.0.1:%d" % gateway_port, "Interval": 3600, "UseVarnox": 0,
                    "GatewayTlsVerification": "1"}

        def write_settings(values):
            with open(settings, "w") as f:
                f.write("[Main]\nInterval={Interval}\nUseVarnox_ini={UseVarnox}\n[ODBC]\nSQLServerDriver=SQLite3\n"
                        "[DBConnexion]\nMySQLDBPwd=\n[DBKERNEL]\nServerName={ServerName}\n"
                        "[Endpoints]\nAccessCodeHost={AccessCodeHost}\n"
                        "GatewayHost={GatewayHost}\n"
                        "GatewayTlsVerification={GatewayTlsVerification}\n".format(**values))

        def check(extra_env=None, launcher=()):
            env = s.environment(notify=False, extra={"ODBCINI": d + "/odbc.ini",
                                                     "TMPDIR": temporary, **(extra_env or {})})
            before = snapshot(d)
            done = subprocess.run([*launcher, s.executable, "-check"], env=env, cwd=d,
                                  capture_output=True, timeout=90)
            self.assertEqual(snapshot(d), before, "-check a écrit quelque chose")
            self.assertEqual(os.listdir(temporary), [])
            self.assertEqual(done.stderr, b"")
            lines = done.stdout.decode("utf-8").splitlines()
            steps = {int(l[0]): l for l in lines if l[1:3] == "/7"}
            self.assertEqual(sorted(steps), list(range(1, 8)), lines)
            self.assertTrue(lines[-1].startswith("Bilan : "), lines)
            return done.returncode, steps, lines

        # A running service: every step passes and the service is left alone. Its folder
        # can be crossed by all, as under /opt.
        write_settings(baseline)
        os.chmod(d, 0o755)
        s.start()
        s.wait_for_state(4)
        while b"TZirvoService.ServiceExecute..." not in s.read("ZirvoSrv.log"):
            time.sleep(0.01)
        status, steps, lines = check()
        self.assertEqual(status, 0, lines)
        self.assertTrue(all(" : OK - " in line for line in steps.values()), lines)
        # The settings file as an editor leaves it, readable by all: said, not failed.
        readable = ("le fichier de paramètres %s (tous les utilisateurs, mode 0644)" % settings)
        self.assertIn("    Attention : lisible par d'autres comptes : " + readable + ". ",
                      "\n".join(lines))
        self.assertIn("Sécurité : lisible par d'autres comptes : " + readable,
                      s.read("ZirvoSrv.log").decode("utf-8"))
        self.assertIn("tables SMS_SENDED (5 lignes), SMS_SENDED_DELIVERY (5 lignes), 3 messages "
                      "en attente de statut depuis le ", steps[2])
        self.assertTrue(steps[2].endswith(" pour 2 comptes"), steps[2])
        self.assertEqual(steps[4], "4/7 Code d'accès MySQL : OK - téléchargé depuis "
                         "http://127.0.0.1:%d/connexion (en direct)" % code_port)
        self.assertEqual(steps[7], "7/7 Service « ZirvoService » : OK - installé, état : "
                         "« Le service est démarré »")
        self.assertIn(" : OK - connexion TLS à 127.0.0.1:%d (en direct) et réponse HTTP reçue "
                      "(HTTP/1.1 404 Not Found) : la route est bonne, mais cela ne prouve rien des"
                      " comptes" % gateway_port, steps[6])
        # The self-signed gateway passes in observation, with the verdict on the next line.
        verdict = lines[lines.index(steps[6]) + 1]
        self.assertRegex(verdict, r"^    TLS : le certificat de 127\.0\.0\.1:%d ne serait pas accepté "
                         r"\(self.signed certificate\) ; la connexion continue \(mode observation\)\.$"
                         % gateway_port)
        self.assertNotIn("Sezam-42", "\n".join(lines))
        self.assertNotIn(code, "\n".join(lines))
        for name in os.listdir(gateway_records):
            with open(os.path.join(gateway_records, name), "rb") as f:
                if name == "server-names.txt":
                    self.assertEqual(set(f.read().split()), {b"None"}, "nom de serveur envoyé")
                else:
                    self.assertTrue(f.read().startswith(b"GET / HTTP/1.1\r\n"))
        s.send(signal.SIGTERM)
        self.assertEqual(s.wait_exit(), 0)

        # Each prerequisite missing in turn, the service installed but stopped.
        unit = os.path.join(s.unit_dir, "ZirvoService.service")
        with open(unit, "w") as f:
            f.write("[Unit]\n")
        # Root reads whatever the permissions say: the check runs without that privilege.
        unprivileged = (("setpriv", "--bounding-set=-dac_override,-dac_read_search")
                        if os.geteuid() == 0 else ())
        varnox = os.path.join(d, "Varnox.ini")
        stopped = ("ÉCHEC - installé sous le compte « root », état : « Le service est stoppé ». "
                   "Aucun cycle ne s'exécute tant qu'il est arrêté")
        cases = [
            ("paramètres illisibles", {}, {},
             {1: "ÉCHEC - le fichier %s ne peut pas être lu (ce n'est pas un fichier, ou les "
                 "droits manquent). Le service écrit alors au journal « Erreur lors de la lecture"
                 " de la configuration - étape 1 : Impossible de lire le fichier de paramètres %s"
                 " : … » et poursuit le cycle" % (settings, settings),
              2: "ÉCHEC", 4: "ÉCHEC", 5: "NON VÉRIFIÉ", 6: "ÉCHEC - aucun hôte"}),
            ("Varnox.ini illisible", {"UseVarnox": 1}, {},
             {1: "ÉCHEC - la lecture échoue : Impossible de lire le fichier de paramètres %s : "
                 % varnox, 2: "ÉCHEC"}),
            ("Varnox.ini sans dossier SQL Server", {"UseVarnox": 1}, {},
             {1: "ÉCHEC - la lecture s'arrête sur « Le chemin de la base de données de Quenzar "
                 "SQL n'est pas paramétré (SQLServerDir=[]). Abandon de la procédure. » et le "
                 "cycle avec elle", 2: "NON VÉRIFIÉ", 4: "NON VÉRIFIÉ", 5: "NON VÉRIFIÉ",
              6: "NON VÉRIFIÉ"}),
            ("intervalle nul", {"Interval": 0}, {},
             {1: "ÉCHEC - Interval=0 : aucun cycle ne s'exécutera."}),
            ("base absente", {"ServerName": d + "/absente.db"}, {},
             {2: "ÉCHEC - pilote ODBC « SQLite3 », connexion impossible : "}),
            ("code d'accès refusé", {"AccessCodeHost": "127.0.0.1:%d" % refused_port}, {},
             {4: "ÉCHEC - le téléchargement depuis http://127.0.0.1:%d/connexion (en direct) "
                 "échoue : HTTP/1.1 403 Forbidden" % refused_port, 5: "NON VÉRIFIÉ"}),
            ("source MySQL absente", {}, {"ODBCINI": peers + "/absent.ini"},
             {5: "ÉCHEC - ouverture impossible : "}),
            ("passerelle refusée", {"GatewayHost": "127.0.0.1:%d" % closed_port}, {},
             {6: "ÉCHEC - pas de réponse de https://127.0.0.1:%d/ (en direct) : Socket Error # 111 "
                 % closed_port}),
            ("compte refusé au dernier cycle", {}, {},
             {6: "ÉCHEC - connexion TLS à 127.0.0.1:%d (en direct) et réponse HTTP reçue "
                 "(HTTP/1.1 404 Not Found) : la route est bonne, mais cela ne prouve rien des "
                 "comptes, que seule une demande de statuts éprouve. Depuis son dernier démarrage,"
                 " le service s'est vu refuser un compte 1 fois (le dernier le 07/12/2026 "
                 "10:00:00 : HTTP/1.1 403 Forbidden)" % gateway_port}),
            ("compte du service sans droit d'écriture", {}, {},
             {7: "ÉCHEC - installé sous le compte « nobody », état : « Le service est stoppé ». "
                 "Aucun cycle ne s'exécute tant qu'il est arrêté : démarrez-le (Windows : console "
                 "des services ou « net start ZirvoService » ; Linux : « systemctl start "
                 "ZirvoService »). Le compte du service « nobody » ne peut pas écrire dans le "
                 "dossier %s/ : le service ne pourrait ni y créer son journal" % d}),
            ("passerelle en mode strict", {"GatewayTlsVerification": "2"}, {},
             {6: "ÉCHEC - pas de réponse de https://127.0.0.1:%d/ (en direct) : Error connecting "
                 "with SSL." % gateway_port}),
            ("service non installé", {}, {}, {7: "ÉCHEC - inconnu du gestionnaire de services"}),
        ]
        log = os.path.join(d, "ZirvoSrv.log")
        for name, changes, extra_env, failing in cases:
            with self.subTest(name):
                write_settings({**baseline, **changes})
                launcher = ()
                if name == "paramètres illisibles":
                    os.remove(settings)
                    os.mkdir(settings)
                if name == "Varnox.ini illisible":
                    with open(varnox, "w") as f:
                        f.write("[Database]\nServer=%s\n" % d)
                    os.chmod(varnox, 0)
                    launcher = unprivileged
                if name == "Varnox.ini sans dossier SQL Server":
                    with open(varnox, "w") as f:
                        f.write("[Database]\nServer=\n")
                if name == "compte refusé au dernier cycle":
                    shutil.copy(log, log + ".vu")
                    with open(log, "ab") as f:
                        f.write(b"07/12/2026 09:00:00 : Erreur : HTTP/1.1 401 Unauthorized\r\n"
                                b"07/12/2026 09:30:00 : TZirvoService.ServiceStart...\r\n"
                                b"07/12/2026 10:00:00 : Erreur : HTTP/1.1 403 Forbidden\r\n")
                if name == "compte du service sans droit d'écriture":
                    with open(unit, "w") as f:
                        f.write("[Service]\nUser=nobody\n")
                if name == "service non installé":
                    os.remove(unit)
                status, steps, lines = check(extra_env, launcher)
                self.assertEqual(status, 1, lines)
                for number, line in steps.items():
                    expected = failing.get(number, stopped if number == 7 else "OK - ")
                    self.assertIn(" : " + expected, line, lines)
                if os.path.isdir(settings):
                    os.rmdir(settings)
                if os.path.exists(varnox):
                    os.remove(varnox)
                if os.path.exists(log + ".vu"):
                    os.replace(log + ".vu", log)
                if os.path.exists(unit):
                    with open(unit, "w") as f:
                        f.write("[Unit]\n")

        # Interrupted while it waits on a silent gateway, the check takes its private copy
        # of the settings (scrambled secrets) away with it.
        with socket.socket() as silent:
            silent.bind(("127.0.0.1", 0))
            silent.listen(1)
            write_settings({**baseline, "GatewayHost": "127.0.0.1:%d" % silent.getsockname()[1]})
            env = s.environment(notify=False, extra={"ODBCINI": d + "/odbc.ini",
                                                     "TMPDIR": temporary})
            process = subprocess.Popen([s.executable, "-check"], env=env, cwd=d,
                                       stdout=subprocess.PIPE)
            self.addCleanup(process.kill)
            for line in process.stdout:
                if line.startswith(b"5/7"):
                    break
            self.assertTrue(os.listdir(temporary))
            process.send_signal(signal.SIGTERM)
            self.assertEqual(process.wait(timeout=15), 128 + signal.SIGTERM)
            process.stdout.close()
        self.assertEqual(os.listdir(temporary), [])
        # Its output piped into a command that ends first ("| head -1"): it runs to the end.
        write_settings(baseline)
        process = subprocess.Popen([s.executable, "-check"], env=env, cwd=d,
                                   stdout=subprocess.PIPE)
        self.addCleanup(process.kill)
        process.stdout.readline()
        process.stdout.close()
        self.assertIn(process.wait(timeout=90), (0, 1))
        self.assertEqual(os.listdir(temporary), [])

        # A program folder anyone may write fails the first step; the others still run.
        write_settings(baseline)
        os.chmod(d, 0o777)
        try:
            status, steps, lines = check()
        finally:
            os.chmod(d, 0o755)
        self.assertEqual(status, 1, lines)
        self.assertTrue(steps[1].startswith(
            "1/7 Paramètres : ÉCHEC - modifiable par d'autres comptes que l'administrateur et celui "
            "du service : le dossier du programme %s (tous les utilisateurs, mode 0777) ; "
            "le programme %s/ZirvoSrv (tous les utilisateurs, mode 0777, dossier parent %s) ; "
            % (d, d, d)),
            steps[1])
        self.assertIn(" : OK - ", steps[2])

        # Debug mode and the desktop files: the remarks hold no secret and no part of one.
        varnox_ver = os.path.join(peers, "serveur")
        os.mkdir(varnox_ver)
        sa_password = subprocess.run([s.executable, "-scramble"], input=b"Sa-Secret-77\n",
                                     capture_output=True, check=True).stdout.decode().strip()
        with open(os.path.join(varnox_ver, "Varnox.ver"), "w") as f:
            f.write("[DBKERNEL]\nServerName=%s/Varnox.db\nSAPW=%s\n" % (d, sa_password))
        with open(os.path.join(d, "Varnox.ini"), "w") as f:
            f.write("[Database]\nServer=%s\n" % varnox_ver)
        write_settings(baseline)
        with open(settings) as f:
            text = f.read().replace("[Main]\n", "[Main]\nDebugMode=1\nUseVarnox_ini=1\n")
        with open(settings, "w") as f:
            f.write(text)
        os.chmod(settings, 0o600)
        status, steps, lines = check()
        report = "\n".join(lines)
        self.assertIn(" : OK - ", steps[1])
        self.assertIn(" : OK - ", steps[2])
        self.assertNotIn(sa_password, report)
        self.assertNotIn("Sa-S", report)
        self.assertNotIn("SC.Password", report)
        self.assertNotIn("Attention : lisible", report)
        self.assertIn(";Password=(masqué)", report)


if __name__ == "__main__":
    unittest.main()
