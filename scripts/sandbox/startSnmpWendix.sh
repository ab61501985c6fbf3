#!/bin/sh
# The sandbox's "/mnt/bin/startSnmpWendix.sh": Halvorn runs it (in the background) at start-up
# when the setting "enSNMPAgent" is "1". Starts Wendix under $PONMC_ROOT with the sandbox's
# net-snmp configuration: listening on udp:127.0.0.1:1161 only, community public read-only
# and private read-write, both from 127.0.0.1 only. Wendix is supervised as on a card: when it
# ends it is started again after a short pause, and the sandbox's terminal is told.
#   WENDIX      the agent program (default: $PONMC_ROOT/mnt/bin/Wendix)
#   WENDIX_PORT the listening port (default: 1161)
#   WENDIX_CACHE_TIMEOUT  seconds of the agent's table caches, its -C option (default: the
#               agent's own, 120 s and more)
# Files under $PONMC_ROOT: etc/snmp/ (configuration, written when missing), var/lib/snmp/
# (net-snmp's persistent files), log/wendix.log (the agent's output), run/wendix.pid (the
# supervising loop; ending it ends the agent).
# A Wendix this script started earlier (Halvorn restarted) is stopped first, so that the
# new one can bind the port.
set -eu
: "${PONMC_ROOT:?PONMC_ROOT must name the sandbox root}"
wendix=${WENDIX:-$PONMC_ROOT/mnt/bin/Wendix}
port=${WENDIX_PORT:-1161}
cache=${WENDIX_CACHE_TIMEOUT:+-C $WENDIX_CACHE_TIMEOUT}
conf=$PONMC_ROOT/etc/snmp
persist=$PONMC_ROOT/var/lib/snmp
mkdir -p "$conf" "$persist" "$PONMC_ROOT/run" "$PONMC_ROOT/log"
pidfile=$PONMC_ROOT/run/wendix.pid
log=$PONMC_ROOT/log/wendix.log

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

# One line on the sandbox's own output (its terminal), whatever Halvorn did with ours.
say() {
    sandbox=$(cat "$PONMC_ROOT/run/sandbox.pid" 2>/dev/null) || return 0
    printf 'sandbox: %s\n' "$*" >> "/proc/$sandbox/fd/1" 2>/dev/null || true
}

if [ -f "$pidfile" ]; then
    old=$(cat "$pidfile")
    # Only our own loop: the number may belong to another process by now.
    if [ -n "$old" ] && tr '\0' ' ' < "/proc/$old/cmdline" 2>/dev/null | grep -q startSnmpWendix; then
        kill "$old" 2>/dev/null || true
        n=0
        while kill -0 "$old" 2>/dev/null && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
    fi
    rm -f "$pidfile"
fi

# The supervising loop lives as long as the sandbox that started Halvorn: a sandbox that has
# stopped (or was killed hard) leaves no agent behind.
owner=$(cat "$PONMC_ROOT/run/sandbox.pid" 2>/dev/null || true)
(
    child=""
    trap '[ -n "$child" ] && kill "$child" 2>/dev/null; exit 0' TERM INT
    while [ -z "$owner" ] || kill -0 "$owner" 2>/dev/null; do
        SNMPCONFPATH=$conf SNMP_PERSISTENT_DIR=$persist \
            "$wendix" -f -L $cache "udp:127.0.0.1:$port" >> "$log" 2>&1 &
        child=$!
        rc=0
        wait "$child" || rc=$?
        # A stopping sandbox or a reboot ends the agent on purpose.
        [ -e "$PONMC_ROOT/run/stopping" ] && exit 0
        [ -e "$PONMC_ROOT/run/rebooting" ] && exit 0
        { [ -z "$owner" ] || kill -0 "$owner" 2>/dev/null; } || exit 0
        say "Wendix ended (status $rc); starting it again in 2 s"
        sleep 2
    done
) &
echo $! > "$pidfile"
