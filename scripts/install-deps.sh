#!/bin/sh
# Installs the Debian packages the build and the tests need, only those missing.
set -e
PKGS="build-essential cmake ninja-build pkg-config libcjson-dev libsnmp-dev libssl-dev \
libgtest-dev libgmock-dev googletest clang libclang-rt-14-dev tar iproute2 procps \
iputils-ping perl-base"
# The web server and its browser tests (playwright-core itself comes from npm at test time).
PKGS="$PKGS libmicrohttpd-dev chromium"
command -v node >/dev/null 2>&1 || PKGS="$PKGS nodejs npm"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
