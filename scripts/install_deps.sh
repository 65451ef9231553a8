#!/bin/sh
# Installs the Debian packages that building, testing and the demo need,
# only those that are missing, so a second run costs nothing.
set -eu

packages="cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 xvfb openssl
python3 python3-pytest clang libz-mingw-w64-dev googletest nginx imagemagick fonts-dejavu-core strace
bsdiff squid"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    sudo_command=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo_command="sudo"
    fi
    $sudo_command apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo_command apt-get install -y -qq $missing
fi
