#!/bin/bash
# The chain at the real periods with 10% of the card's requests lost: the simulator with 8 cards
# (ONUS per PON port, default 8), the real Halvorn and Quenrik in a temporary root. Prints the
# time until every card is provisioned (CTC mode on, enabled) and until every ONU is online in
# Halvorn's API, then each card's domains and paths. Asserts nothing (the goal, 3 minutes, is
# printed). Binds the fixed ports: run it inside scripts/netns-run.sh.
#   bench/quenrik/bench_loss.sh BUILD_DIR [ONUS]
set -u
B=$(cd "${1:?build folder}" && pwd)
onus=${2:-8}
here=$(cd "$(dirname "$0")/../.." && pwd)
root=$(mktemp -d /tmp/bench-loss-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$root"' EXIT
"$here/tests/fixtures/standins/install.sh" "$root"
export PONMC_ROOT=$root PATH=$root/bin:$PATH
sim() { "$B/tools/olt-sim/olt-sim" --ctl "$root/olt-sim.ctl" "$@"; }
echo '{"oltIpAddr":"127.0.1.1"}' > "$root/mnt/db/json/systeminfo.json"
rows=""
for s in 1 2 3 4 5 6 7 8; do rows="$rows${rows:+,}{\"qvCfgOLTSlotIndex\":\"$s\",\"qvCfgOLTIpAddress\":\"127.0.2.$s\"}"; done
echo "[$rows]" > "$root/mnt/db/json/olttable.json"
"$B/tools/olt-sim/olt-sim" --olts 8 --onus "$onus" --control "$root/olt-sim.ctl" --no-stdin > "$root/olt-sim.log" 2>&1 &
until sim status > /dev/null 2>&1; do sleep 0.1; done
sim loss all 0.1 > /dev/null
total=$((16 * onus))
start=$(date +%s.%N)
elapsed() { echo "$(date +%s.%N) - $start" | bc; }
"$B/halvorn/Halvorn" > "$root/halvorn.log" 2>&1 &
"$B/quenrik/Quenrik" > "$root/quenrik.log" 2>&1 &
provisioned=""
while :; do
  cards=$(sim status | grep -o 'enabled=1 nvs=0/0 ctc=1' | wc -l)
  if [ -z "$provisioned" ] && [ "$cards" -eq 8 ]; then provisioned=1; printf '8 cards provisioned after %.1f s\n' "$(elapsed)"; fi
  online=$("$B/tools/ponmc-cli/ponmc-cli" --timeout 5 get /onutable 2>/dev/null | grep -o '"qvCfgONULinkStatus":"1"' | wc -l)
  if [ -n "$provisioned" ] && [ "$online" -eq "$total" ]; then
    printf '%d ONUs online after %.1f s (goal: within 180 s)\n' "$total" "$(elapsed)"
    break
  fi
  if [ "$(echo "$(elapsed) > 600" | bc)" = 1 ]; then echo "not done after 600 s: $cards cards provisioned, $online of $total ONUs online"; break; fi
  sleep 1
done
for olt in 1 2 3 4 5 6 7 8; do echo "card $olt: $(sim state $olt | tr ' ' '\n' | grep -E '^(domains|paths)=' | tr '\n' ' ')"; done
