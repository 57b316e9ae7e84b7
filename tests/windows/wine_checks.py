"""The Windows distribution under Wine, as a Windows user meets it (scripts/test-windows.sh).

    python3 wine_checks.py DIST_DIR LINUX_ZIRVOSRV SERVICE_CONTROL_EXE WORK_DIR MSI

MSI is the installer package of the distribution.

The environment is already that of the run: a fresh WINEPREFIX, French locale, no
display, ODBCINI naming WORK_DIR/odbc.ini. Every Wine call has a time limit; each check
prints "ok" or "ÉCHEC" and the script exits 1 when one failed.
"""

import os
import pty
import re
import select
import shutil
import sqlite3
import subprocess
import sys
import termios
import time

DIST, LINUX_EXE, CONTROL, WORK, MSI = sys.argv[1:6]
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PREFIX = os.environ["WINEPREFIX"]
# A folder name outside Windows-1252: every check below runs from it.
INSTALL_DIR = os.path.join(PREFIX, "drive_c", "Program Files", "Zirvo Łódź")
WIN_EXE = "C:\\Program Files\\Zirvo Łódź\\ZirvoSrv.exe"
PLANTED = os.path.join(os.path.dirname(CONTROL), "PlantedLibrary.dll")
PLANT_MARK = os.path.join(PREFIX, "drive_c", "planted-loaded.txt")
# Where the packaged OpenSSL would look for its configuration, and where the DLLs of
# before looked for it (the current drive's root, open to every user).
OPENSSL_CONFS = [os.path.join(PREFIX, "drive_c", *parts, "openssl.cnf") for parts in (
    ("Program Files", "Common Files", "ZirvoSrv", "OpenSSL", "ssl"), ("usr", "local", "ssl"))]
WIN_CONTROL = "C:\\ZirvoServiceControl.exe"
SERVICE = "ZirvoService"
DISPLAY = "Quenzar - Service de gestion des SMS"
REPORT_DATE = "03/02/2025 14:05:09"
failures = []


def check(condition, what, detail=""):
    print(("ok     " if condition else "ÉCHEC  ") + what + ("" if condition else " : " + str(detail)),
          flush=True)
    if not condition:
        failures.append(what)
    return condition


def wine(*arguments, data=None, timeout=120, debug="-all"):
    env = dict(os.environ, WINEDEBUG=debug)
    try:
        done = subprocess.run(["wine", *arguments], input=data, capture_output=True,
                              timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        return -1, b"", b"(temps limite)"
    return done.returncode, done.stdout, done.stderr


def control(*arguments, timeout=90):
    code, out, err = wine(WIN_CONTROL, *arguments, timeout=timeout)
    return code, out.decode("utf-8").replace("\r\n", "\n").splitlines()


def planted_loads():
    """The planted libraries loaded since the last call (their paths), forgotten after."""
    if not os.path.exists(PLANT_MARK):
        return []
    with open(PLANT_MARK, encoding="utf-8") as f:
        loads = f.read().split()
    os.remove(PLANT_MARK)
    return loads


def plant_openssl_configuration():
    """An openssl.cnf naming a provider module (the planted library) wherever OpenSSL
    could read one by itself. (A backslash is an escape there: the path has slashes.)
    A build without OPENSSL_INIT_NO_LOAD_CONFIG loads the module at its first TLS
    connection (seen with -check)."""
    module = os.path.join(PREFIX, "drive_c", "planted", "module.dll")
    os.makedirs(os.path.dirname(module), exist_ok=True)
    shutil.copy(PLANTED, module)
    for path in OPENSSL_CONFS:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("openssl_conf = init\n[init]\nproviders = providers\n"
                    "[providers]\nplanted = planted\n[planted]\n"
                    "module = C:/planted/module.dll\nactivate = 1\n")


def registration():
    code, config = control("config", SERVICE)
    return code, config, dict(line.split("=", 1) for line in config if "=" in line)


def status_fields(line):
    return {k: int(v) for k, v in (part.split("=") for part in line.split() if "=" in part)}


def linux_scramble(text):
    done = subprocess.run([LINUX_EXE, "-scramble"], input=(text + "\n").encode("utf-8"),
                          capture_output=True, timeout=30)
    return done.returncode, done.stdout.decode().strip(), done.stderr.decode("utf-8")


def console_scramble(text):
    """Runs -scramble with its standard input on a Wine console (a pseudo-terminal),
    types the text and Enter; standard output and error go to pipes."""
    master, slave = pty.openpty()
    env = dict(os.environ, WINEDEBUG="-all")
    process = subprocess.Popen(["wine", WIN_EXE, "-scramble"], stdin=slave,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    # Typed before Wine's console has taken the terminal over, Enter would reach it as a
    # line feed (the terminal's own line editing) instead of a carriage return.
    deadline = time.monotonic() + 60
    while termios.tcgetattr(master)[3] & termios.ICANON and time.monotonic() < deadline:
        time.sleep(0.05)
    os.close(slave)
    os.write(master, text.encode("utf-8") + b"\r")
    echoed = b""
    while process.poll() is None and time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            try:
                echoed += os.read(master, 4096)
            except OSError:
                break
    if process.poll() is None:
        process.kill()
    out, err = process.communicate(timeout=30)
    os.close(master)
    return process.returncode, out.decode("cp1252").strip(), err.decode("cp1252")


def log_bytes(directory):
    return file_bytes(directory, "ZirvoSrv.log")


def file_bytes(directory, name):
    path = os.path.join(directory, name)
    return open(path, "rb").read() if os.path.exists(path) else b""


def log_messages(data, encoding):
    return [line.split(" : ", 1)[1] for line in data.decode(encoding).split("\r\n") if line]


def wait_for_log(directory, text, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if text in log_bytes(directory):
            return True
        time.sleep(0.2)
    return False


def make_database(path, member, password):
    db = sqlite3.connect(path)
    db.executescript(open(os.path.join(ROOT, "src/db/schema/sqlite.sql"), encoding="utf-8").read())
    for n, sms_id in enumerate(["cycle-1", "cycle-2", "cycle-3", "cycle-4"], start=1):
        db.execute("INSERT INTO SMS_SENDED (SMS_ID, SEND_DATE_TIME, FOURNISSEUR, MEMBER_ID,"
                   " PASSWORD) VALUES (?, strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'),"
                   " 1, ?, ?)", (sms_id, member, password))
        db.execute("INSERT INTO SMS_SENDED_DELIVERY (SMS_SENDED_ID, DELIVERED) VALUES (?, 0)",
                   (n,))
    db.commit()
    db.close()


def delivery_rows(path):
    db = sqlite3.connect(path)
    rows = db.execute("SELECT s.SMS_ID, d.DELIVERED, d.DELIVERED_DATE_TIME, d.DELIVERED_MESSAGE"
                      " FROM SMS_SENDED s JOIN SMS_SENDED_DELIVERY d"
                      " ON d.SMS_SENDED_ID = s.SMS_SENDED_ID ORDER BY s.SMS_ID").fetchall()
    db.close()
    return rows


def write_settings(directory, database, gateway_port):
    # Written as an operator would with Notepad: Windows-1252 and CR LF (ASCII here).
    text = ("[Main]\r\nDebugMode=1\r\nInterval=2\r\n[ODBC]\r\nSQLServerDriver=SQLite3\r\n"
            "[Endpoints]\r\nGatewayHost=127.0.0.1:%d\r\n[DBKERNEL]\r\nServerName=%s\r\n"
            "DatabaseName=VARNOX\r\n" % (gateway_port, database))
    with open(os.path.join(directory, "ZirvoSrv.ini"), "wb") as f:
        f.write(text.encode("cp1252"))


def run_windows_cycle(database):
    """Starts the installed service, waits for the end of its first cycle, stops it."""
    code, lines = control("start", SERVICE, "90")
    if not check(code == 0 and lines and status_fields(lines[-1]).get("state") == 4,
                 "cycle : service démarré", lines):
        return False
    finished = wait_for_log(INSTALL_DIR, b"Fin de traitement", 120)
    code, lines = control("control", SERVICE, "1", "60")
    check(code == 0 and status_fields(lines[-1]).get("state") == 1, "cycle : service arrêté", lines)
    return check(finished, "cycle : fin de traitement journalisée",
                 log_bytes(INSTALL_DIR).decode("cp1252")[-2000:])


def run_linux_cycle(directory, database, gateway_port):
    shutil.copy(LINUX_EXE, os.path.join(directory, "ZirvoSrv"))
    write_settings(directory, database, gateway_port)
    env = dict(os.environ, ZIRVOSRV_RUNTIME_DIR=os.path.join(directory, "run"),
               ZIRVOSRV_EVENTLOG=os.path.join(directory, "evenements.log"))
    process = subprocess.Popen([os.path.join(directory, "ZirvoSrv"), "-console"], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        finished = wait_for_log(directory, b"Fin de traitement", 60)
    finally:
        process.terminate()
        process.wait(timeout=30)
    return finished


def msiexec(*arguments, debug="-all"):
    code, _, err = wine("msiexec", *arguments, "/qn", timeout=240, debug=debug)
    return code, err.decode("utf-8", "replace")


def package_table(package, table):
    done = subprocess.run(["msiinfo", "export", package, table], capture_output=True, text=True,
                          timeout=30)
    return [line.split("\t") for line in done.stdout.splitlines()[3:]]


# Wine hands only the low byte of msiexec's exit code (1603, installation failed) on.
EXIT_INSTALL_FAILURE = 1603 & 0xFF


def refused_by(arguments, package):
    """Silent, Wine's msiexec neither shows nor logs a launch condition's message (Windows
    logs it): its trace names the condition that failed, the package gives its message."""
    code, trace = msiexec(*arguments, debug="-all,+msi")
    checked = trace.find("ACTION_LaunchConditions")
    halted = trace.find('Execution halted, action L"LaunchConditions"', checked)
    failed = re.findall(r'MSI_EvaluateConditionW 0 <- L"(.*)"', trace[checked:halted])
    failed = failed if checked >= 0 and halted >= 0 else []
    messages = dict(package_table(package, "LaunchCondition"))
    return code, messages.get(failed[-1], "") if failed else "(pas de condition en échec)"


def product_installed(package):
    code = dict(package_table(package, "Property"))["ProductCode"]
    return wine("reg", "query", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                + code)[0] == 0


def wait_for_state(state, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        code, lines = control("status", SERVICE)
        if code == 0 and status_fields(lines[-1]).get("state") == state:
            return True
        time.sleep(0.5)
    return False


def stop_and_settle():
    """Stops the service and waits until its process has written its last log lines, which
    come after it reports that it stopped."""
    control("control", SERVICE, "1", "60")
    deadline, seen = time.monotonic() + 30, None
    while time.monotonic() < deadline and seen != log_bytes(INSTALL_DIR):
        seen = log_bytes(INSTALL_DIR)
        time.sleep(2)


def package_checks(linux_rows):
    """The installer package. Wine's msiexec does not wait for a service to stop before
    replacing its files, and Wine never replaces a running executable: the service is
    stopped through the manager before the upgrade and the removal (ServiceControl does it
    on Windows). The package installs into its own default folder."""
    global INSTALL_DIR, WIN_EXE
    INSTALL_DIR = os.path.join(PREFIX, "drive_c", "Program Files", "Zirvo SMS")
    WIN_EXE = "C:\\Program Files\\Zirvo SMS\\ZirvoSrv.exe"
    shutil.rmtree(INSTALL_DIR, ignore_errors=True)
    # The same files packaged again as the next version, twice (two builds of one version).
    version = dict(package_table(MSI, "Property"))["ProductVersion"].split(".")
    next_version = ".".join(version[:2] + [str(int(version[2]) + 1)])
    packages = [MSI, os.path.join(WORK, "suivante.msi"), os.path.join(WORK, "recompilee.msi")]
    for path in packages[1:]:
        subprocess.run([os.path.join(ROOT, "scripts/package-msi.sh"), next_version, path],
                       check=True, stdout=subprocess.DEVNULL, timeout=120)
    for path in packages:
        shutil.copy(path, os.path.join(PREFIX, "drive_c"))
    older, newer, rebuilt = ("C:\\" + os.path.basename(path) for path in packages)
    program = ["ZirvoSrv.exe", "libcrypto-3-x64.dll", "libssl-3-x64.dll", "LICENSE-OpenSSL.txt",
               "LISEZMOI.txt", "guide-exploitation.html"]

    code, trace = msiexec("/i", older)
    check(code == 0, "paquet : installation silencieuse", (code, trace[-2000:]))
    check(all(file_bytes(INSTALL_DIR, f) == file_bytes(DIST, f) != b"" for f in program),
          "paquet : fichiers", os.listdir(INSTALL_DIR))
    code, config, settings = registration()
    # Wine's installer writes the image path without the quotes of Windows.
    check((settings.get("display"), settings.get("start"), settings.get("type"),
           settings.get("account"), settings.get("path", "").strip('"')) ==
          (DISPLAY, "2", "16", "NT SERVICE\\" + SERVICE, WIN_EXE), "paquet : service inscrit",
          config)
    check(wait_for_state(4, 60), "paquet : service démarré")

    control("control", SERVICE, "1", "60")
    code, member, _ = linux_scramble("cabinet-wine")
    code, password, _ = linux_scramble("motdepasse")
    database = os.path.join(WORK, "Varnox-paquet.db")
    make_database(database, member, password)
    write_settings(INSTALL_DIR, database, int(open(os.path.join(WORK, "gateway.port")).read()))
    run_windows_cycle(database)
    check(delivery_rows(database) == linux_rows, "paquet : lignes comme sous Linux",
          delivery_rows(database))
    stop_and_settle()

    # By hand: a setting and the service's account (services.msc, "Connexion").
    ini, log = (os.path.join(INSTALL_DIR, f) for f in ("ZirvoSrv.ini", "ZirvoSrv.log"))
    text = open(ini, "rb").read()
    open(ini, "wb").write(text.replace(b"Interval=2\r\n", b"Interval=3600\r\n"))
    check(control("account", SERVICE, "NT AUTHORITY\\LocalService")[0] == 0 and
          open(ini, "rb").read() != text, "paramètres et compte changés à la main")
    kept = (open(ini, "rb").read(), open(log, "rb").read())
    code, trace = msiexec("/i", newer)
    check(code == 0 and wait_for_state(4, 60), "mise à jour silencieuse, service redémarré",
          (code, trace[-2000:]))
    check(not product_installed(MSI) and product_installed(packages[1]),
          "mise à jour : ancienne version remplacée")
    check(registration()[2].get("account") == "NT AUTHORITY\\LocalService",
          "mise à jour : compte conservé")
    # The restarted service appends its lines to the log and records its reading of the
    # settings in their section [Execution]; the rest is the operator's, byte for byte.
    operator = [re.sub(rb"\[Execution\]\r\n([^[][^\r\n]*\r\n)*", b"", data)
                for data in (kept[0], open(ini, "rb").read())]
    check(operator[0] == operator[1] and open(log, "rb").read().startswith(kept[1]),
          "mise à jour : paramètres et journal intacts", operator)

    for arguments, package, message in (
            (("/i", rebuilt), packages[2], "est déjà installée : l'installation est refusée"),
            (("/i", older), MSI, "Une version plus récente de ZirvoSrv est déjà installée")):
        code, said = refused_by(arguments, package)
        check(code == EXIT_INSTALL_FAILURE and message in said, "refus : " + message, (code, said))

    stop_and_settle()
    kept = (open(ini, "rb").read(), open(log, "rb").read())
    code, trace = msiexec("/x", newer)
    check(code == 0 and control("config", SERVICE)[1][0].startswith("error=1060"),
          "désinstallation silencieuse, service supprimé", (code, trace[-2000:]))
    left = sorted(os.listdir(INSTALL_DIR))
    check(not set(program) & set(left) and
          (open(ini, "rb").read(), open(log, "rb").read()) == kept,
          "désinstallation : programme supprimé, paramètres et journal conservés", left)
    code, said = refused_by(("/x", newer), packages[1])
    check(code == EXIT_INSTALL_FAILURE and "n'est pas installé" in said,
          "seconde désinstallation refusée avec son message", (code, said))


def main():
    shutil.copy(CONTROL, os.path.join(PREFIX, "drive_c", "ZirvoServiceControl.exe"))
    shutil.copytree(DIST, INSTALL_DIR)
    # Wine ends its service manager with the last program of the session and starts the
    # automatic services again with the next one, as at a boot: one program holds the
    # session for the whole run, so that the service runs only when a check starts it.
    holder = subprocess.Popen(["wine", WIN_CONTROL, "hold", "1200"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    # The first program to ask for the service manager starts it.
    control("status", SERVICE)
    try:
        return checks()
    finally:
        holder.kill()


def checks():
    # 1. -scramble: the Linux program's output for the same text, piped and typed.
    for text in ["MotDePasse-2025", "é", "ç", "€", "Sécurité ç€ !"]:
        code, expected, _ = linux_scramble(text)
        check(code == 0 and expected, "Linux -scramble %r" % text, expected)
        code, out, err = wine(WIN_EXE, "-scramble", data=text.encode("cp1252") + b"\r\n")
        if (code, out, err) == (1, b"", b""):
            # Every failure of -scramble writes its reason on standard error, so a silent
            # exit 1 is Wine failing to start the program (seen once in many runs): once more.
            code, out, err = wine(WIN_EXE, "-scramble", data=text.encode("cp1252") + b"\r\n")
        check((code, out.decode().strip()) == (0, expected),
              "-scramble par un tube %r" % text, (code, out, err))
        code, out, err = console_scramble(text)
        check((code, out) == (0, expected), "-scramble tapé à la console %r" % text,
              (code, out, err))
    for text in ["Łódź", "日本"]:
        code, out, err = console_scramble(text)
        check(code == 1 and out == "" and "Windows-1252" in err,
              "-scramble refuse %r à la console" % text, (code, out, err))
        code, out, err = linux_scramble(text)
        check(code == 1 and out == "" and "Windows-1252" in err,
              "Linux -scramble refuse %r" % text, (code, out, err))

    # 2. Install and uninstall, with their console output (no desktop for boxes).
    code, out, err = wine(WIN_EXE, "-install", "-silent")
    check((code, out) == (0, b""), "-install -silent", (code, out, err))
    code, config, settings = registration()
    check(code == 0 and settings.get("display") == DISPLAY, "nom affiché", config)
    check(settings.get("start") == "2", "démarrage automatique", config)
    check(settings.get("type") == "16", "processus propre (SERVICE_WIN32_OWN_PROCESS)", config)
    check(settings.get("path") == '"%s"' % WIN_EXE, "chemin de l'image entre guillemets", config)
    # Wine knows no account "ZirvoService": the installation falls back to the service's
    # virtual account, never to the system's (Wine records it without running under it).
    check(settings.get("account") == "NT SERVICE\\ZirvoService",
          "sans compte ZirvoService : compte virtuel NT SERVICE\\ZirvoService", config)
    code, out, err = wine(WIN_EXE, "-uninstall", "-silent")
    check((code, out) == (0, b""), "-uninstall -silent", (code, out, err))
    code, config = control("config", SERVICE)
    check(code == 2 and config and config[0].startswith("error=1060"), "service supprimé", config)
    code, out, err = wine(WIN_EXE, "-uninstall", "-silent")
    message = err.decode("cp1252")
    check(code == 1 and out == b"" and message.startswith(
        'Service "%s" failed to uninstall with error: "System Error.  Code: 1060.\r\n' % DISPLAY)
        and len(message.rstrip()) > 110, "second -uninstall : erreur système, code 1",
        (code, message))
    code, out, err = wine(WIN_EXE, "-install")
    check(code == 0 and out.decode("cp1252").startswith("Service installed successfully")
          and "compte virtuel « NT SERVICE\\ZirvoService »" in out.decode("cp1252"),
          "-install sans -silent : message à la console, compte nommé", (code, out, err))
    # The grants alone, as an installer package runs them; an unknown account fails.
    code, out, err = wine(WIN_EXE, "-permissions", "-silent")
    code2, out2, err2 = wine(WIN_EXE, "-permissions", "compte-inexistant")
    check((code, out) == (0, b"") and code2 == 1 and
          "n'ont pas pu être accordés" in err2.decode("cp1252"),
          "-permissions : 0 pour le compte virtuel, 1 et un message pour un compte inconnu",
          (code, out, err, code2, out2, err2))

    # 3. Start, pause, interrogate, continue and stop through the service manager.
    code, lines = control("start", SERVICE, "90")
    seen = [status_fields(line) for line in lines if line.startswith("state=")]
    pending = [s for s in seen if s["state"] == 2]
    check(code == 0 and seen and seen[-1]["state"] == 4 and seen[-1]["controls"] == 7,
          "démarré, arrêt et pause acceptés", lines)
    checkpoints = [s["checkpoint"] for s in pending]
    check(pending and checkpoints == sorted(checkpoints) and checkpoints[0] >= 1
          and all(s["controls"] == 0 for s in pending),
          "points de contrôle croissants à partir de 1 pendant le démarrage", lines)
    for what, arguments, final in (("pause", ("2",), 7), ("reprise", ("3",), 4)):
        if what == "reprise":
            code, lines = control("control", SERVICE, "4", "10")
            check(code == 0 and status_fields(lines[0][6:]).get("state") == 7,
                  "interrogation en pause : en pause", lines)
        code, lines = control("control", SERVICE, *arguments, "60")
        states = [status_fields(line.replace("reply ", ""))["state"] for line in lines
                  if "state=" in line]
        # The pending state in between may be too short for a poll to see it.
        check(code == 0 and states and states[-1] == final and
              set(states) <= {4, 5, 6, 7}, what, lines)
    code, lines = control("control", SERVICE, "1", "60")
    states = [status_fields(line.replace("reply ", ""))["state"] for line in lines
              if "state=" in line]
    check(code == 0 and states[-1] == 1 and set(states) <= {1, 3, 4}, "arrêt", lines)
    messages = log_messages(log_bytes(INSTALL_DIR), "cp1252")
    expected = ["TZirvoService.ServiceStart...", "TZirvoService.ServiceExecute...",
                "Service SMS mis en pause...", "ZirvoService en cours (ServiceContinue)...",
                "TZirvoService.Stop..."]
    check([m for m in messages if m in expected] == expected,
          "lignes du journal pour démarrage, pause, reprise, arrêt", messages)
    deadline = time.monotonic() + 90
    while messages[-1:] != ["TZirvoService.ServiceDestroy..."] and time.monotonic() < deadline:
        time.sleep(0.2)
        messages = log_messages(log_bytes(INSTALL_DIR), "cp1252")
    check(messages[-1:] == ["TZirvoService.ServiceDestroy..."], "fin du processus", messages)

    # 4. One whole cycle on the embedded default, compared with the Linux program.
    code, member, _ = linux_scramble("cabinet-wine")
    code, password, _ = linux_scramble("motdepasse")
    port = int(open(os.path.join(WORK, "gateway.port")).read())
    windows_db = os.path.join(WORK, "windows", "Varnox.db")
    linux_dir = os.path.join(WORK, "linux")
    linux_db = os.path.join(linux_dir, "Varnox.db")
    for path in (windows_db, linux_db):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        make_database(path, member, password)
    before = delivery_rows(windows_db)
    os.replace(os.path.join(INSTALL_DIR, "ZirvoSrv.log"),
               os.path.join(INSTALL_DIR, "ZirvoSrv-controles.log"))
    write_settings(INSTALL_DIR, windows_db, port)
    plant_openssl_configuration()
    planted_loads()
    # Wine keeps no access list: it shows one made from the Unix mode (the owner, SYSTEM,
    # and Everyone ("WD") from the bits for others) and turns a list it is given back into
    # a mode. So what it keeps is whether everyone may read: an Everyone entry set before
    # the rewrite of the cycle must still be there after it, where a file of the service's
    # own (the log it creates) has none.
    settings_path = os.path.join(INSTALL_DIR, "ZirvoSrv.ini")
    os.chmod(settings_path, 0o644)
    _, acl_before = control("acl", WIN_EXE[:-4] + ".ini")
    run_windows_cycle(windows_db)
    _, acl_after = control("acl", WIN_EXE[:-4] + ".ini")
    _, acl_log = control("acl", WIN_EXE[:-4] + ".log")
    check(acl_before == acl_after and "(A;;0x1200a9;;;WD)" in "".join(acl_before)
          and acl_log and "WD)" not in acl_log[0] and "error" not in acl_log[0],
          "paramètres réécrits : même liste d'accès ; journal créé sans « Tout le monde »",
          (acl_before, acl_after, acl_log))
    messages = log_messages(log_bytes(INSTALL_DIR), "cp1252")
    loaded = [m for m in messages if m.startswith("Bibliothèque TLS chargée : OpenSSL 3.")]
    check(len(loaded) == 1 and loaded[0].endswith("Zirvo ?ód?\\libssl-3-x64.dll)"),
          "une ligne nomme la bibliothèque TLS chargée, celle du dossier du programme", loaded)
    code, out, err = wine(WIN_EXE, "-check", timeout=120)
    gateway = [line for line in out.decode("cp1252", "replace").splitlines()
               if "Passerelle SMS" in line]
    unjudged = [line for line in out.decode("cp1252", "replace").splitlines()
                if "pu être vérifiés" in line]
    print("       -check, droits non vérifiés : %r" % unjudged)
    check(planted_loads() == [] and gateway and ": OK" in gateway[0],
          "openssl.cnf déposé (C:\\usr\\local\\ssl, Common Files) : module jamais chargé"
          " (cycle, puis -check et sa connexion TLS)", (gateway, err[-300:]))
    check(run_linux_cycle(linux_dir, linux_db, port), "cycle Linux terminé",
          log_bytes(linux_dir).decode("utf-8")[-2000:])
    windows_rows, linux_rows = delivery_rows(windows_db), delivery_rows(linux_db)
    print("       lignes Windows : %r" % windows_rows)
    check(windows_rows != before and windows_rows == linux_rows,
          "lignes mises à jour comme sous Linux", (windows_rows, linux_rows))
    data = log_bytes(INSTALL_DIR)
    check(data.endswith(b"\r\n") and b"\n" not in data.replace(b"\r\n", b""),
          "journal en CR LF", data[-200:])
    lines = data.decode("cp1252").split("\r\n")[:-1]
    check(all(re.match(r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d : ", line) for line in lines),
          "dates françaises (jj/mm/aaaa hh:mm:ss)", lines[:3])
    accented = [line for line in lines if re.search("[éèàçù]", line)]
    try:
        data.decode("utf-8")
        utf8 = True
    except UnicodeDecodeError:
        utf8 = False
    check(accented and not utf8, "journal en Windows-1252", accented[:2])
    linux_log = log_bytes(linux_dir)
    print("       journal Windows : %d lignes, Linux : %d lignes" % (
        len(lines), len(linux_log.split(b"\r\n")) - 1))

    # 5. Strict verification of the gateway's certificate against the machine's ROOT store:
    # refused while the test root is unknown to Windows, accepted once it is added there.
    saved_settings = open(os.path.join(INSTALL_DIR, "ZirvoSrv.ini"), "rb").read()
    trusted_port = int(open(os.path.join(WORK, "trusted-gateway.port")).read())
    write_settings(INSTALL_DIR, windows_db, port)
    strict = open(os.path.join(INSTALL_DIR, "ZirvoSrv.ini"), "rb").read().replace(
        b"GatewayHost=127.0.0.1:%d\r\n" % port,
        b"GatewayHost=localhost:%d\r\nGatewayTlsVerification=2\r\n" % trusted_port)
    with open(os.path.join(INSTALL_DIR, "ZirvoSrv.ini"), "wb") as f:
        f.write(strict)
    for trusted in (False, True):
        if trusted:
            code, lines = control("trust-root", "Z:" + os.path.join(WORK, "root.der"))
            check(code == 0, "racine de test ajoutée au magasin ROOT de l'ordinateur", lines)
        code, out, err = wine(WIN_EXE, "-check", timeout=180)
        lines = out.decode("cp1252", "replace").replace("\r\n", "\n").splitlines()
        step = [i for i, line in enumerate(lines) if line.startswith("6/7 ")]
        gateway_lines = lines[step[0]:step[0] + 2] if step else lines
        if trusted:
            check(step and " : OK - " in lines[step[0]] and lines[step[0] + 1].startswith(
                "    TLS : certificat de localhost:%d vérifié, émis par /CN=Zirvo test root"
                % trusted_port),
                "-check strict : certificat accepté par le magasin ROOT", gateway_lines)
        else:
            check(step and "ÉCHEC" in lines[step[0]] and "certificate verify failed" in
                  lines[step[0]], "-check strict : racine inconnue de Windows refusée",
                  gateway_lines)
    with open(os.path.join(INSTALL_DIR, "ZirvoSrv.ini"), "wb") as f:
        f.write(saved_settings)

    # 6. The same cycle without the OpenSSL DLLs.
    code, member, _ = linux_scramble("cabinet-wine")
    os.remove(windows_db)
    make_database(windows_db, member, password)
    before = delivery_rows(windows_db)
    for dll in ("libcrypto-3-x64.dll", "libssl-3-x64.dll"):
        os.remove(os.path.join(INSTALL_DIR, dll))
    os.replace(os.path.join(INSTALL_DIR, "ZirvoSrv.log"),
               os.path.join(INSTALL_DIR, "ZirvoSrv-cycle.log"))
    run_windows_cycle(windows_db)
    messages = log_messages(log_bytes(INSTALL_DIR), "cp1252")
    check(any(m.endswith("Could not load SSL library.") for m in messages),
          "sans les DLL : « Could not load SSL library. »", messages)
    check(delivery_rows(windows_db) == before, "sans les DLL : aucune ligne changée",
          delivery_rows(windows_db))
    # The same DLL names planted in a PATH folder and in the working directory of -check:
    # the default search order reaches them (the control program loads them), the
    # program's never does.
    tools = os.path.join(PREFIX, "drive_c", "tools")
    workdir = os.path.join(PREFIX, "drive_c", "travail")
    for folder, names in ((tools, ("libcrypto-3-x64.dll", "libssl-3-x64.dll")),
                          (workdir, ("libeay32.dll", "ssleay32.dll"))):
        os.makedirs(folder, exist_ok=True)
        for name in names:
            shutil.copy(PLANTED, os.path.join(folder, name))
    env = dict(os.environ, WINEDEBUG="-all", WINEPATH="C:\\tools")
    for name in ("libcrypto-3-x64.dll", "libeay32.dll"):
        subprocess.run(["wine", os.path.join(PREFIX, "drive_c", "ZirvoServiceControl.exe"),
                        "load", name], cwd=workdir, env=env, capture_output=True, timeout=60)
    reachable = planted_loads()
    done = subprocess.run(["wine", WIN_EXE, "-check"], cwd=workdir, env=env,
                          capture_output=True, timeout=120)
    report = done.stdout.decode("cp1252", "replace")
    check(len(reachable) == 2 and planted_loads() == [] and "Could not load SSL library" in report,
          "DLL déposées dans PATH et le dossier courant : jamais chargées par -check",
          (reachable, report[-600:]))

    # 7. Started outside the service manager: the dispatcher fails.
    code, out, err = wine(WIN_EXE, debug="-all,err+eventlog", timeout=60)
    events = [line for line in err.decode("utf-8", "replace").splitlines()
              if "eventlog" in line]
    print("       journal d'événements : %r" % events)
    check(code == 1 and len(events) == 1 and "ReportEvent" in events[0],
          "hors du gestionnaire : une entrée d'erreur et le code de sortie 1", (code, err))

    code, out, err = wine(WIN_EXE, "-uninstall", "-silent")
    check(code == 0, "désinstallation finale", (code, out, err))

    package_checks(linux_rows)
    if failures:
        print("%d vérification(s) Windows en échec : %s" % (len(failures), failures))
        return 1
    print("Vérifications Windows sous Wine réussies.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
