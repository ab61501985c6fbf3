#!/bin/bash
# Runs the system on this machine in a sandbox: a fresh PONMC_ROOT under the build folder,
# stand-ins for ip, ping, uptime, /sbin/reboot and the start scripts (they only record their
# calls in $ROOT/commands.log), the line-card simulator with eight OLTs on 127.0.2.1-8, and
# Halvorn. Nothing touches the host's network configuration; all traffic stays on loopback.
#   scripts/sandbox.sh [BUILD_DIR]      Ctrl-C ends it.  SANDBOX_SECONDS=N ends it after N s.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
root="$build/sandbox"
standins="$here/tests/fixtures/standins"

halvorn="$build/halvorn/Halvorn"
sim="$build/tools/olt-sim/olt-sim"
cli="$build/tools/ponmc-cli/ponmc-cli"
for f in "$halvorn" "$sim" "$cli"; do
  [ -x "$f" ] || { echo "sandbox: $f is missing; run 'make build' first" >&2; exit 1; }
done

# A previous sandbox may still run if its shell was killed hard: its processes hold the fixed ports.
if [ -f "$root/pids" ]; then
  while read -r pid; do kill "$pid" 2>/dev/null || true; done < "$root/pids"
fi
rm -rf "$root"
"$standins/install.sh" "$root"
echo "sandbox" > "$root/mnt/.fwversion"

export PONMC_ROOT="$root"
export PATH="$root/bin:$PATH"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -f "$root/pids"
  echo "sandbox: stopped (root kept in $root)"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

"$sim" --olts 8 --control "$root/olt-sim.ctl" --no-stdin > "$root/olt-sim.log" 2>&1 &
pids+=($!)
"$halvorn" > "$root/halvorn.log" 2>&1 &
pids+=($!)
printf '%s\n' "${pids[@]}" > "$root/pids"

for _ in $(seq 100); do
  [ -s "$root/tmp/web.ipc" ] && [ -s "$root/tmp/snmp.ipc" ] && break
  sleep 0.1
done

cat <<INFO
sandbox: running in $root
  Halvorn         pid ${pids[1]}, output in $root/halvorn.log
  olt-sim         pid ${pids[0]}, 8 OLTs on 127.0.2.1-8:14113, control socket $root/olt-sim.ctl
  system commands recorded in $root/commands.log

Try (in another shell):
  export PONMC_ROOT=$root
  $cli get /slottable
  $cli get /systeminfo
  $cli set /olttable/1 '{"qvCfgOLTName":"rack A"}'
Ctrl-C stops the sandbox.
INFO

if [ -n "${SANDBOX_SECONDS:-}" ]; then
  sleep "$SANDBOX_SECONDS"
else
  wait -n "${pids[@]}" || true
  echo "sandbox: a process ended; see $root/*.log"
fi
