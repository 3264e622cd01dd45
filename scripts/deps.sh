# Sourced by the run scripts: makes sure the Debian packages the build needs
# are present. As root it installs what is missing; otherwise it prints the
# exact command to run and stops.
qrx_required_packages="cmake make g++ pkg-config libtbb-dev libgtest-dev libgmock-dev libbenchmark-dev libopenmpi-dev openmpi-bin"

qrx_ensure_packages() {
  local missing=()
  local pkg
  for pkg in $qrx_required_packages; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  else
    echo "Missing packages. Install them with:"
    echo "  sudo apt-get install -y ${missing[*]}"
    exit 1
  fi
}
