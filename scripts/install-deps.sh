#!/bin/sh
# Installs the Debian packages the build and the tests need, only those missing.
set -e
PKGS="build-essential cmake ninja-build pkg-config libcjson-dev libsnmp-dev libssl-dev \
libgtest-dev libgmock-dev googletest clang clang-format libclang-rt-14-dev tar iproute2 procps \
iputils-ping perl-base snmp snmpd smitools"
# The web server and its browser tests (playwright-core itself comes from npm at test time).
PKGS="$PKGS libmicrohttpd-dev chromium"
command -v node >/dev/null 2>&1 || PKGS="$PKGS nodejs npm"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# The MIB test fetches the base MIB modules with npm; any Node.js install that has it will do.
command -v npm >/dev/null 2>&1 || missing="$missing npm"
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
# snmpd's package starts the system's SNMP service on port 161; the benchmark runs an snmpd of
# its own. Keep services from starting during the install (unless a policy is already in
# place) and leave snmpd stopped and disabled afterwards.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  trap '$SUDO rm -f "$policy"' EXIT
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
case "$missing" in
  *snmpd*)
    if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
      $SUDO systemctl disable --now snmpd >/dev/null 2>&1 || true
    fi
    if [ -x /etc/init.d/snmpd ]; then $SUDO /etc/init.d/snmpd stop >/dev/null 2>&1 || true; fi
    ;;
esac
