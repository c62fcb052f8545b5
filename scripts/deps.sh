#!/bin/sh
# Installs the Debian packages this project needs, but only those that are missing.
set -e
want="cmake g++ make zlib1g-dev libpng-dev libjpeg-dev clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev pkg-config locales libtinyxml2-dev nlohmann-json3-dev libassimp-dev assimp-testmodels"
[ -n "$VEX_EXTRA_PACKAGES" ] && want="$want $VEX_EXTRA_PACKAGES"
missing=""
for p in $want; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing:$missing"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y $missing
fi

# The writer's locale test needs a locale with a decimal comma; make one when possible.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || \
        echo "note: could not generate de_DE.UTF-8; the locale test will be skipped"
fi
