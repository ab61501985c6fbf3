#!/bin/bash
# Runs the whole chassis on this machine, the way a card runs it, with nothing changed outside
# the sandbox folder:
#   - the line-card simulator with eight OLTs on 127.0.2.1-8 and ONUs that come and go;
#   - Halvorn, Quenrik and the web server, each supervised as on a card: a daemon that ends is
#     started again after a short pause, and the sandbox says so;
#   - Wendix, started by Halvorn through "/mnt/bin/startSnmpWendix.sh" when "enSNMPAgent" is
#     "1", on udp 127.0.0.1:1161 (communities public and private);
#   - stand-ins for the platform: ip and the NTP script record their calls in commands.log,
#     ping answers from the simulator's state, "/sbin/reboot" restarts the daemons.
# The sandbox folder (PONMC_ROOT) is kept between runs: a second run finds its configuration
# again. On the first run the settings and the OLT table are seeded so that the simulated
# cards are reachable (chassis address 127.0.1.1, OLT n at 127.0.2.n).
#
#   scripts/sandbox.sh [BUILD_DIR]
# Environment:
#   SANDBOX_ROOT      the sandbox folder (default: sandbox/ in the checkout)
#   SANDBOX_SECONDS   end the sandbox after this many seconds (default: run until Ctrl-C)
#   SANDBOX_ONUS      ONUs per PON port, "MIN-MAX" or a number (default 4-32)
#   SANDBOX_CHURN     seconds between ONU departures/returns and alarms (default 20; 0 = none)
#   SANDBOX_WEB_PORT  port of the web server on 127.0.0.1 (default 8080)
#   SANDBOX_SNMP_PORT port of the SNMP agent on 127.0.0.1 (default 1161)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
root=${SANDBOX_ROOT:-$here/sandbox}
mkdir -p "$root"
root=$(cd "$root" && pwd)
standins="$here/tests/fixtures/standins"
sandbox_scripts="$here/scripts/sandbox"
web_port=${SANDBOX_WEB_PORT:-8080}
snmp_port=${SANDBOX_SNMP_PORT:-1161}
onus=${SANDBOX_ONUS:-4-32}
churn=${SANDBOX_CHURN:-20}
start_time=$(date +%s.%N)

halvorn="$build/halvorn/Halvorn"
quenrik="$build/quenrik/Quenrik"
wendix="$build/wendix/Wendix"
web="$build/tools/web/ponmc-web"
sim="$build/tools/olt-sim/olt-sim"
cli="$build/tools/ponmc-cli/ponmc-cli"
for f in "$halvorn" "$quenrik" "$sim" "$cli"; do
  [ -x "$f" ] || { echo "sandbox: $f is missing; run 'make build' first" >&2; exit 1; }
done

say() { printf 'sandbox: %s\n' "$*"; }

# The process of a PID file left by an earlier run is still that run's only if it had started
# by the time the file was written: after the machine restarted, or long after, the number
# may name any other process, which must not be signalled.
still_ours() {  # pidfile
  local pid stat ticks start written
  pid=$(cat "$1" 2>/dev/null) && [ -n "$pid" ] || return 1
  stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
  ticks=$(printf '%s' "${stat##*) }" | cut -d' ' -f20)
  start=$(( $(awk '/^btime/ {print $2}' /proc/stat) + ticks / $(getconf CLK_TCK) ))
  written=$(stat -c %Y "$1") || return 1
  [ "$start" -le $(( written + 1 )) ]
}

# A sandbox still running from a shell that was killed hard holds the fixed ports.
if [ -f "$root/run/sandbox.pid" ] && still_ours "$root/run/sandbox.pid"; then
  say "another sandbox runs in $root (pid $(cat "$root/run/sandbox.pid")); stop it first" >&2
  exit 1
fi
for f in "$root"/run/*.pid; do
  [ -f "$f" ] && still_ours "$f" && kill "$(cat "$f")" 2>/dev/null || true
done
rm -rf "$root/run"
mkdir -p "$root/run" "$root/log"
echo $$ > "$root/run/sandbox.pid"

first_run=0
[ -e "$root/.seeded" ] || first_run=1
"$standins/install.sh" "$root"
# The sandbox's own platform: a reboot that restarts the daemons, the real start script of the
# SNMP agent (with the sandbox's listening address and communities).
install -m 755 "$sandbox_scripts/reboot" "$root/sbin/reboot"
if [ -x "$wendix" ] && [ -f "$sandbox_scripts/startSnmpWendix.sh" ]; then
  install -m 755 "$sandbox_scripts/startSnmpWendix.sh" "$root/mnt/bin/startSnmpWendix.sh"
fi
[ -s "$root/mnt/.fwversion" ] || echo "sandbox" > "$root/mnt/.fwversion"

export PONMC_ROOT="$root"
export PATH="$root/bin:$PATH"
# The sandbox's start script of the agent finds it here, and its port.
export WENDIX="$wendix" WENDIX_PORT="$snmp_port"

# Supervises one daemon: runs it, and when it ends starts it again after a short pause.
# A reboot (see scripts/sandbox/reboot) ends the daemons on purpose; the loop then says so.
supervise() {
  local name=$1 rc
  shift
  trap 'exit 0' TERM
  # $$ is the sandbox itself: a sandbox killed hard leaves no loop restarting its daemons.
  while kill -0 $$ 2>/dev/null; do
    # Line-buffered, so the log shows what the daemon printed up to the moment it ended.
    stdbuf -oL -eL "$@" >> "$root/log/$name.log" 2>&1 &
    echo $! > "$root/run/$name.pid"
    rc=0
    wait $! || rc=$?
    [ -e "$root/run/stopping" ] && exit 0
    if [ -e "$root/run/rebooting" ]; then
      say "$name starting again after the reboot"
      sleep 1
    else
      say "$name ended (status $rc); starting it again in 2 s"
      sleep 2
    fi
  done
}

sups=()
cleanup() {
  trap - EXIT INT TERM USR1
  touch "$root/run/stopping"
  # The supervisors first (so nothing is started again), then every job of this shell (the
  # simulator, the waits), then the daemons the supervisors ran.
  for pid in "${sups[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in $(jobs -p); do kill "$pid" 2>/dev/null || true; done
  for f in "$root"/run/*.pid; do
    [ -f "$f" ] || continue
    [ "$f" = "$root/run/sandbox.pid" ] && continue
    kill "$(cat "$f")" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$root/run"
  say "stopped; the sandbox's files stay in $root for the next run"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# "/sbin/reboot" of the sandbox sends USR1: the daemons end and their supervisors start them
# again, the way a card comes back from a reboot with its stored configuration.
reboot_daemons() {
  say "reboot requested: restarting Halvorn, Quenrik, Wendix and the web server"
  touch "$root/run/rebooting"
  for name in halvorn quenrik web wendix; do
    [ -f "$root/run/$name.pid" ] && kill "$(cat "$root/run/$name.pid")" 2>/dev/null || true
  done
  ( sleep 3; rm -f "$root/run/rebooting" ) &
}
trap reboot_daemons USR1

# Simulator: ONUs per port between the bounds, a few leaving and returning, occasional alarms.
# The seed is kept with the sandbox, so the chassis has the same ONUs at every start.
[ -s "$root/seed" ] || date +%s > "$root/seed"
"$sim" --olts 8 --onus "$onus" --churn "$churn" --seed "${SANDBOX_SEED:-$(cat "$root/seed")}" \
  --control "$root/olt-sim.ctl" --no-stdin >> "$root/log/olt-sim.log" 2>&1 &
echo $! > "$root/run/olt-sim.pid"
for _ in $(seq 100); do [ -S "$root/olt-sim.ctl" ] && break; sleep 0.05; done
[ -S "$root/olt-sim.ctl" ] || { say "the simulator did not start; see $root/log/olt-sim.log" >&2; exit 1; }

supervise halvorn "$halvorn" &
sups+=($!)
for _ in $(seq 200); do [ -s "$root/tmp/web.ipc" ] && [ -s "$root/tmp/snmp.ipc" ] && break; sleep 0.05; done

if [ "$first_run" = 1 ]; then
  # First run: the chassis address and the OLT addresses of the simulated cards, set through
  # the API as an operator would, so the daemon checks and stores them itself.
  say "first run: seeding the chassis address 127.0.1.1 and OLT addresses 127.0.2.1-8"
  "$cli" --timeout 20 set /systeminfo "{\"oltIpAddr\":\"127.0.1.1\",\"webPort\":\"$web_port\"}" > /dev/null
  for s in 1 2 3 4 5 6 7 8; do
    "$cli" --timeout 20 set "/olttable/$s" "{\"qvCfgOLTIpAddress\":\"127.0.2.$s\"}" > /dev/null
  done
  for _ in $(seq 100); do [ -s "$root/mnt/db/json/olttable.json" ] && break; sleep 0.1; done
  touch "$root/.seeded"
fi

supervise quenrik "$quenrik" &
sups+=($!)
if [ -x "$web" ]; then
  supervise web "$web" --listen 127.0.0.1 --port "$web_port" --static "$here/tools/web/www" &
  sups+=($!)
fi

cat <<INFO
sandbox: running in $root
  olt-sim   8 OLTs on 127.0.2.1-8:14113, ONUs per PON port: $onus, control: $root/olt-sim.ctl
  Halvorn   API on $root/tmp/web.ipc and snmp.ipc        log: $root/log/halvorn.log
  Quenrik   line-card manager, source 127.0.1.1:14113     log: $root/log/quenrik.log
  Wendix    SNMP on udp 127.0.0.1:$snmp_port, communities public (read) and private (write)
  web       http://127.0.0.1:$web_port/ (administrator of /privatestore; factory default user mzpw, password mzpw)
  platform  calls of ip, NTP, reboot recorded in $root/commands.log

Try, in another shell:
  export PONMC_ROOT=$root
  $cli get /slottable
  $cli get /onutable/1
  $cli set /onutable/1 '{"qvCfgONUName":"flat 12"}'
  snmpwalk -v2c -c public 127.0.0.1:$snmp_port 1.3.6.1.4.1.32473
  snmpset -v2c -c private 127.0.0.1:$snmp_port 1.3.6.1.4.1.32473.3.2.6.3.2.1.37.1.0.1 s "flat 12"
  $sim --ctl $root/olt-sim.ctl status 1
  $sim --ctl $root/olt-sim.ctl onus 1        # also: leave 1 MAC, return 1 MAC, restart 1, silent 1 on|off, help
Ctrl-C stops everything; the configuration stays for the next run.
INFO

# Start-up time: until all eight simulated cards are enabled (provisioned), none of them has
# an ONU still waiting to register, and every ONU the simulator has online shows online in
# Halvorn's table. Prints the ONUs online on the cards, or 0 while they are not all there.
onus_online_sim() {
  local n=0 olt list
  for olt in 1 2 3 4 5 6 7 8; do
    "$sim" --ctl "$root/olt-sim.ctl" status "$olt" 2>/dev/null | grep -q ' enabled=1 ' || { echo 0; return; }
    list=$("$sim" --ctl "$root/olt-sim.ctl" onus "$olt" 2>/dev/null || true)
    case "$list" in *"/offline"*) echo 0; return ;; esac
    n=$(( n + $(printf '%s\n' "$list" | grep -o '/online' | wc -l || true) ))
  done
  echo "$n"
}
onus_online_table() {
  { "$cli" --timeout 5 get /onutable 2>/dev/null || true; } | grep -o '"qvCfgONULinkStatus":"1"' | wc -l || true
}
wait_all_online() {
  local want have
  for _ in $(seq 300); do
    want=$(onus_online_sim)
    have=$(onus_online_table)
    if [ "$want" -gt 0 ] && [ "$have" -ge "$want" ]; then
      say "all $have ONUs online, $(awk -v a="$start_time" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s after the start"
      return 0
    fi
    sleep 1
  done
  say "not every ONU came online within 5 minutes ($have of $want); see the logs in $root/log"
}
wait_all_online

# Waits are interrupted by a reboot (USR1); the sandbox goes on until its time is up or Ctrl-C.
end=$(( $(date +%s) + ${SANDBOX_SECONDS:-315360000} ))
while [ "$(date +%s)" -lt "$end" ]; do
  sleep $(( end - $(date +%s) )) &
  wait $! || true
done
