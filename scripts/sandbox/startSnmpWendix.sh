#!/bin/sh
# The sandbox's "/mnt/bin/startSnmpWendix.sh": Halvorn runs it (in the background) at start-up
# when the setting "enSNMPAgent" is "1". Starts Wendix under $PONMC_ROOT with the sandbox's
# net-snmp configuration: listening on udp:127.0.0.1:1161 only, community public read-only
# and private read-write, both from 127.0.0.1 only.
#   WENDIX      the agent program (default: $PONMC_ROOT/mnt/bin/Wendix)
#   WENDIX_PORT the listening port (default: 1161)
# Files under $PONMC_ROOT: etc/snmp/ (configuration, written when missing), var/lib/snmp/
# (net-snmp's persistent files), wendix.log (the agent's output), wendix.pid.
# A Wendix this script started earlier (Halvorn restarted) is stopped first, so that the
# new one can bind the port.
set -eu
: "${PONMC_ROOT:?PONMC_ROOT must name the sandbox root}"
wendix=${WENDIX:-$PONMC_ROOT/mnt/bin/Wendix}
port=${WENDIX_PORT:-1161}
conf=$PONMC_ROOT/etc/snmp
persist=$PONMC_ROOT/var/lib/snmp
pidfile=$PONMC_ROOT/wendix.pid
mkdir -p "$conf" "$persist"

if [ ! -f "$conf/Wendix.conf" ]; then
    cat > "$conf/Wendix.conf" <<CONF
# Wendix in the sandbox: loopback only.
rocommunity public 127.0.0.1
rwcommunity private 127.0.0.1
dontLogTCPWrappersConnects yes
CONF
fi
# The agent needs no MIB files; without this net-snmp looks for its default list.
[ -f "$conf/snmp.conf" ] || echo "mibs :" > "$conf/snmp.conf"

if [ -f "$pidfile" ]; then
    old=$(cat "$pidfile")
    if [ -n "$old" ] && [ "$(cat "/proc/$old/comm" 2>/dev/null)" = "Wendix" ]; then
        kill "$old" 2>/dev/null || true
        n=0
        while kill -0 "$old" 2>/dev/null && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
    fi
    rm -f "$pidfile"
fi

SNMPCONFPATH=$conf SNMP_PERSISTENT_DIR=$persist \
    "$wendix" -f -L "udp:127.0.0.1:$port" >> "$PONMC_ROOT/wendix.log" 2>&1 &
echo $! > "$pidfile"
