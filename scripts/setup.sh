# Installs with apt-get whatever of the named Debian packages is missing. Sourced by the
# scripts beside it.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        as_root apt-get update
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
    fi
}

# What building and running the client needs.
client_packages=(cmake ninja-build g++ qtbase5-dev qtbase5-dev-tools qtmultimedia5-dev libminiupnpc-dev
    famfamfam-silk famfamfam-flag-png qt5-style-plugin-plastique zlib1g-dev)
