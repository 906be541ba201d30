# Sourced by the scripts: installs the Debian packages the build needs, only
# those that are missing.
ombrix_install_missing() {
  local need=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || need+=("$pkg")
  done
  if ((${#need[@]})); then
    echo "installing: ${need[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
  fi
}
OMBRIX_PACKAGES=(cmake g++ make pkg-config libgtest-dev libbenchmark-dev nlohmann-json3-dev libqrcodegencpp-dev)
# An independent QR decoder, for the test that reads generated symbols back.
OMBRIX_TEST_PACKAGES=(zbar-tools)
