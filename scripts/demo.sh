#!/usr/bin/env bash
# Runs ZirvoSrv on its embedded default: an SQLite database standing for the desktop
# application's SQL Server base, in a folder of its own under /tmp. The service runs in
# the foreground (-console), runs one timer cycle, is paused, continued and stopped, and
# the log and the settings file it wrote are shown.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null

demo=$(mktemp -d /tmp/zirvosrv-demo.XXXXXX)
cp build/ZirvoSrv "$demo/"
python3 - "$demo/Varnox.db" src/db/schema/sqlite.sql <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.executescript(open(sys.argv[2], encoding="utf-8").read())
db.execute("INSERT INTO SMS_SENDED (SMS_ID, SEND_DATE_TIME) VALUES ('demo-1', datetime('now'))")
db.execute("INSERT INTO SMS_SENDED_DELIVERY (SMS_SENDED_ID, DELIVERED) VALUES (1, 0)")
db.commit()
PY
cat > "$demo/ZirvoSrv.ini" <<INI
[Main]
DebugMode=1
Interval=2
[ODBC]
SQLServerDriver=SQLite3
[DBKERNEL]
ServerName=$demo/Varnox.db
DatabaseName=VARNOX
INI

export ZIRVOSRV_RUNTIME_DIR="$demo/run" ZIRVOSRV_EVENTLOG="$demo/evenements.log"
echo "== ZirvoSrv -console dans $demo (pause, reprise, arrêt)"
"$demo/ZirvoSrv" -console &
pid=$!
sleep 1; kill -USR1 "$pid"; sleep 1; kill -USR2 "$pid"; sleep 1; kill -TERM "$pid"
wait "$pid"
echo
echo "== Journal ($demo/ZirvoSrv.log)"
cat "$demo/ZirvoSrv.log"
echo
echo "== Paramètres écrits ($demo/ZirvoSrv.ini)"
cat "$demo/ZirvoSrv.ini"
echo
echo "Le cycle s'arrête à l'ouverture de la base MySQL du fabricant tant que la source de"
echo "données ODBC QuenzarMySQLDB n'est pas configurée sur la machine ; la vérification des"
echo "statuts SMS auprès de la passerelle n'est pas encore branchée sur le cycle."
