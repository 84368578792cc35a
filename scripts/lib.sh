# Shared by the scripts: install what the build needs when it is missing.
# Debian packages every command of the project needs to build and test.
CALVIX_PACKAGES=(g++ cmake ninja-build libgtest-dev qt6-base-dev fonts-liberation clang-14 libclang-rt-14-dev
                 clang-format ccache libfmt-dev poppler-utils cups cups-client cups-filters ser2net)

ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        if [ "$(id -u)" -ne 0 ]; then
            sudo="sudo"
        fi
        $sudo apt-get update
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}
