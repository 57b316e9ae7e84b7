#!/usr/bin/env bash
# Runs ZirvoSrv on its embedded default: an SQLite database standing for the desktop
# application's SQL Server base, in a folder of its own under /tmp. The service runs in
# the foreground (-console) against a local stand-in of the SMS gateway, runs one timer
# cycle that brings the delivery status of three messages up to date, is paused,
# continued and stopped; the log, the updated rows and the settings file are shown.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null

demo=$(mktemp -d /tmp/zirvosrv-demo.XXXXXX)
cp build/ZirvoSrv "$demo/"
member=$(echo "cabinet-demo" | build/ZirvoSrv -scramble)
password=$(echo "motdepasse" | build/ZirvoSrv -scramble)

# The desktop application's database, with three messages waiting for their reports.
python3 - "$demo/Varnox.db" src/db/schema/sqlite.sql "$member" "$password" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.executescript(open(sys.argv[2], encoding="utf-8").read())
for n, sms_id in enumerate(["demo-1", "demo-2", "demo-3"], start=1):
    db.execute("INSERT INTO SMS_SENDED (SMS_ID, SEND_DATE_TIME, FOURNISSEUR, MEMBER_ID, PASSWORD)"
               " VALUES (?, strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'), 1, ?, ?)",
               (sms_id, sys.argv[3], sys.argv[4]))
    db.execute("INSERT INTO SMS_SENDED_DELIVERY (SMS_SENDED_ID, DELIVERED) VALUES (?, 0)", (n,))
db.commit()
PY

# The maker's MySQL database is only opened by the service: an SQLite file behind the
# data source QuenzarMySQLDB stands for it.
cat > "$demo/odbc.ini" <<INI
[QuenzarMySQLDB]
Driver=SQLite3
Database=$demo/quenzar-mysql.db
INI

# The SMS gateway: a local HTTPS stand-in with a certificate made for the occasion.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost \
  -keyout "$demo/gateway.key" -out "$demo/gateway.pem" >/dev/null 2>&1
python3 scripts/demo_gateway.py "$demo/gateway.pem" "$demo/gateway.key" "$demo/gateway.port" 30 \
  demo-2=UNDELIV demo-3=QUEUE &
gateway=$!
trap 'kill "$gateway" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$demo/gateway.port" ] && break; sleep 0.1; done

cat > "$demo/ZirvoSrv.ini" <<INI
[Main]
DebugMode=1
Interval=2
[ODBC]
SQLServerDriver=SQLite3
[Endpoints]
GatewayHost=127.0.0.1:$(cat "$demo/gateway.port")
[DBKERNEL]
ServerName=$demo/Varnox.db
DatabaseName=VARNOX
INI

export LC_ALL=fr_FR.UTF-8 ODBCINI="$demo/odbc.ini"
export ZIRVOSRV_RUNTIME_DIR="$demo/run" ZIRVOSRV_EVENTLOG="$demo/evenements.log"
echo "== ZirvoSrv -console dans $demo : un cycle, puis pause, reprise et arrêt"
"$demo/ZirvoSrv" -console &
pid=$!
for _ in $(seq 100); do
  grep -q "Fin de traitement" "$demo/ZirvoSrv.log" 2>/dev/null && break
  sleep 0.1
done
kill -USR1 "$pid"; sleep 0.5; kill -USR2 "$pid"; sleep 0.5; kill -TERM "$pid"
wait "$pid"
echo
echo "== Journal ($demo/ZirvoSrv.log)"
cat "$demo/ZirvoSrv.log"
echo
echo "== Statuts de remise dans la base"
python3 - "$demo/Varnox.db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
rows = db.execute("SELECT s.SMS_ID, d.DELIVERED, d.DELIVERED_DATE_TIME, d.DELIVERED_MESSAGE"
                  " FROM SMS_SENDED s JOIN SMS_SENDED_DELIVERY d"
                  " ON d.SMS_SENDED_ID = s.SMS_SENDED_ID ORDER BY s.SMS_ID")
for sms_id, delivered, when, message in rows:
    print(f"{sms_id} : remis={delivered} date={when} message={message}")
PY
echo
echo "== Paramètres écrits ($demo/ZirvoSrv.ini)"
cat "$demo/ZirvoSrv.ini"
