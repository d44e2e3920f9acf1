# SPDX-License-Identifier: MIT
# Shared by ./test and ./run: package lists, installation, the Wine prefix.

BUILD_PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev
  libbenchmark-dev binutils mingw-w64 libcli11-dev nlohmann-json3-dev libtoml11-dev unixodbc-dev)
WINE_PACKAGES=(wine wine64)
# The line's database for the tests: a throwaway PostgreSQL 15 cluster
# (tests/db/pg_cluster.sh) reached through its ODBC driver and unixODBC.
DB_PACKAGES=(postgresql odbc-postgresql unixodbc)
# The installer's compiler, for ./test's packages; the manual pages' compiler,
# and what checks the Debian package (lintian, man, udevadm, bash-completion).
PACKAGING_PACKAGES=(nsis scdoc lintian man-db udev bash-completion)
# What renders kovra-cli report's page in its test (Chinese text among it),
# and counts the colours of its screenshot.
REPORT_PACKAGES=(chromium fonts-wqy-microhei imagemagick)

# Installs the Debian packages that are not installed yet.
ensure_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# A private 64-bit Wine prefix under build/, made on first use.
wine_env() {
  export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine-prefix}
  # No menu entries on the desktop for shortcuts made inside the prefix.
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
}
