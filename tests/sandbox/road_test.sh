#!/bin/bash
# The whole chassis as `make run` starts it: eight simulated cards provisioned, their ONUs
# online, then the road of one change end to end, through the command-line client and
# through SNMP, a reboot, a backup, a factory reset and a restore, a stop and a second start.
#   road_test.sh BUILD_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")/../.." && pwd)
# ONUs that stay put: the road follows one of them.
export SANDBOX_CHURN=0 SANDBOX_ONUS=2-6
. "$HERE/tests/sandbox/lib.sh"

ONU_OID=1.3.6.1.4.1.32473.3.2.6.3.2.1
snmp() { "$1" -v2c -c "$2" -t 3 -r 1 -Oqv "127.0.0.1:$SANDBOX_SNMP_PORT" "${@:3}"; }
table_file() { cat "$ROOT/mnt/db/json/onutable.json" 2>/dev/null | sed 's/},{/}\n{/g'; }
# The row of our ONU, from Halvorn's answer or from its table file.
onu_row() { cli get /onutable | sed 's/},{/}\n{/g' | grep "\"qvCfgONUPhysicalID\":\"$MAC\""; }
row_has() { onu_row | grep -q "\"$1\":\"$2\""; }
file_has() { table_file | grep "\"$MAC\"" | grep -q "\"$1\":\"$2\""; }
sim_shows() { sim onus "$SLOT" | grep -q "$MAC/$PON/$1"; }
snmp_name_is() { [ "$(snmp snmpget public "$ONU_OID.37.$SLOT.$PON.$INDEX" 2>/dev/null)" = "\"$1\"" ]; }
setting_is() { cli get /systeminfo | grep -q "\"$1\":\"$2\""; }
slots_online() { [ "$(cli get /slottable | grep -o '"qvSlotStatus":"1"' | wc -l)" -eq "$1" ]; }
onus_online_at_least() { [ "$(cli get /onutable | grep -o '"qvCfgONULinkStatus":"1"' | wc -l)" -ge "$1" ]; }
reboots() { grep -c 'halvorn starting again after the reboot' "$OUT" || true; }
reboots_above() { [ "$(reboots)" -gt "$1" ]; }
after_reboot() {
  local before=$1
  until_true 60 "the daemons restarted after the reboot" reboots_above "$before"
  until_true 60 "Halvorn answers after the reboot" cli get /slottable
}

step "start the sandbox"
start_sandbox
grep -q 'first run: seeding' "$OUT" || fail "no first-run seed"
slots_online 8 || fail "not every slot online"
[ "$(sim status | grep -o 'enabled=1' | wc -l)" -eq 8 ] || fail "not every card provisioned"
[ "$(cli get /olttable | grep -o '"qvCfgOLTMac":"02:4f:4c:54:00:0[1-8]"' | wc -l)" -eq 8 ] || fail "OLT MACs missing"

row=$(cli get /onutable | sed 's/},{/}\n{/g' | awk '/"qvCfgONULinkStatus":"1"/ && !n++')
ID=$(json_value id <<< "$row")
SLOT=$(json_value qvCfgONUSlotIndex <<< "$row")
PON=$(json_value qvCfgONUPonIndex <<< "$row")
INDEX=$(json_value qvCfgONUIndex <<< "$row")
MAC=$(json_value qvCfgONUPhysicalID <<< "$row")
[ -n "$ID" ] && [ -n "$MAC" ] || fail "no online ONU in the table"
# Every ONU but ours (which is disabled below) must come back after the restore.
ONLINE=$(( $(cli get /onutable | grep -o '"qvCfgONULinkStatus":"1"' | wc -l) - 1 ))
step "following ONU $MAC: row $ID, slot $SLOT, PON $PON, index $INDEX"

step "disable it through the command-line client"
cli set "/onutable/$ID" '{"qvCfgONUEnabled":"0"}' > /dev/null
until_true 20 "the simulated card shows the link disabled" sim_shows disabled
until_true 20 "onutable.json holds the ONU disabled" file_has qvCfgONUEnabled 0

step "rename it through SNMP"
snmp snmpset private "$ONU_OID.37.$SLOT.$PON.$INDEX" s "road test" > /dev/null ||
  fail "snmpset of the ONU name"
until_true 20 "Halvorn shows the new name" row_has qvCfgONUName "road test"
until_true 20 "onutable.json holds the new name" file_has qvCfgONUName "road test"
snmp_name_is "road test" || fail "snmpget of the name"
# A read-only column stays so.
snmp snmpset private "$ONU_OID.11.$SLOT.$PON.$INDEX" s "x" > /dev/null 2>&1 && fail "column 11 was writable"

step "reboot: the daemons restart with the configuration intact"
n=$(reboots)
cli set /systeminfo '{"reboot":"1"}' > /dev/null
after_reboot "$n"
until_true 60 "every slot online again after the reboot" slots_online 8
row_has qvCfgONUName "road test" || fail "name lost in the reboot"
row_has qvCfgONUEnabled 0 || fail "disabled state lost in the reboot"
sim_shows disabled || fail "the link was enabled again by the reboot"
until_true 30 "the SNMP agent serves the name after the reboot" snmp_name_is "road test"

step "backup"
cli set /systeminfo '{"backup":"1"}' > /dev/null
until_true 30 "the backup archive is written" test -s "$ROOT/tmp/backupConfig.bin"
until_true 30 "the backup flag returns to 0" setting_is backup 0
cp "$ROOT/tmp/backupConfig.bin" "$ROOT/kept-backup.tar"

step "factory reset: the configuration is gone"
n=$(reboots)
cli set /systeminfo '{"resetFactory":"1"}' > /dev/null
after_reboot "$n"
setting_is oltIpAddr 127.0.1.1 && fail "the chassis address survived the factory reset"
table_file | grep -q 'road test' && fail "the ONU name survived the factory reset"
cli get /onutable | grep -q 'road test' && fail "Halvorn still shows the name after the factory reset"

step "restore the backup: the configuration is back"
cp "$ROOT/kept-backup.tar" "$ROOT/tmp/restoreConfig.bin"
n=$(reboots)
cli set /systeminfo '{"restoreBackup":"1"}' > /dev/null
after_reboot "$n"
setting_is oltIpAddr 127.0.1.1 || fail "the chassis address was not restored"
until_true 90 "every slot online again after the restore" slots_online 8
until_true 60 "the other ONUs online again after the restore" onus_online_at_least "$ONLINE"
row_has qvCfgONUName "road test" || fail "the name was not restored"
row_has qvCfgONUEnabled 0 || fail "the disabled state was not restored"
sim_shows disabled || fail "the link is not disabled after the restore"

step "no daemon ended on its own so far; one killed is started again"
if grep 'ended (status' "$OUT"; then fail "a daemon ended during the road"; fi
old_pid=$(cat "$ROOT/run/quenrik.pid")
kill -KILL "$old_pid"
until_true 20 "the sandbox says that Quenrik ended" grep -q 'quenrik ended (status 137); starting it again' "$OUT"
quenrik_again() { local p; p=$(cat "$ROOT/run/quenrik.pid") && [ "$p" != "$old_pid" ] && kill -0 "$p"; }
until_true 20 "Quenrik runs again" quenrik_again
requests=$(sim requests 1 | awk '{print $2}')
requests_above() { [ "$(sim requests 1 | awk '{print $2}')" -gt "$requests" ]; }
until_true 30 "the new Quenrik talks to card 1" requests_above
until_true 90 "every slot online with the new Quenrik" slots_online 8

step "stop: everything ends, the files stay"
stop_sandbox
sleep 0.5
if pgrep -f "$ROOT" > /dev/null; then fail "processes left: $(pgrep -af "$ROOT")"; fi
[ -s "$ROOT/mnt/db/json/onutable.json" ] || fail "the table files were not kept"

step "second start: the configuration is found again"
: > "$OUT"
start_sandbox
grep -q 'first run' "$OUT" && fail "the second start seeded again"
row_has qvCfgONUName "road test" || fail "name lost across the restart of the sandbox"
step "done"
