#!/usr/bin/env bash
# usage: packaging/check-installed-package.sh DEB
# Installs the package on this machine, checks that man finds its pages and that bash, with
# bash-completion loaded, completes `tolvane ` to its commands, and removes the package again
# whatever happened. For CI and other throw-away machines: it needs root, and refuses to run
# where tolvane is installed already, since it would remove it.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 DEB" >&2
    exit 2
fi
deb=$(realpath "$1")
if [ "$(id -u)" -ne 0 ]; then
    echo "$0: installing a package needs root" >&2
    exit 1
fi

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

if installed tolvane; then
    echo "$0: tolvane is installed here already; this check would remove it" >&2
    exit 1
fi

# What a user's man and bash use; neither comes with a minimal Debian.
missing=()
for package in man-db bash-completion; do
    installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# From here on the package leaves again, however this script ends: a failed installation
# too, whatever state dpkg left it in.
remove_package() {
    dpkg --purge tolvane >/dev/null 2>&1 ||
        dpkg --purge --force-remove-reinstreq tolvane >/dev/null 2>&1 || true
    if dpkg-query -W -f='${Status}' tolvane 2>/dev/null | grep -qv "not-installed"; then
        echo "$0: tolvane could not be removed: dpkg --purge tolvane" >&2
        exit 1
    fi
}
trap remove_package EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "Installing $deb"
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" \
    >/dev/null; then
    echo "$0: $deb did not install" >&2
    exit 1
fi

failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

for page in tolvane TolvaneUploader TolvaneLogger; do
    if path=$(man -w "$page" 2>/dev/null); then
        echo "man -w $page: $path"
    else
        fail "man -w $page finds no page"
    fi
done
if man_errors=$(MANWIDTH=80 man -P cat tolvane 2>&1 >/dev/null) && [ -z "$man_errors" ]; then
    echo "man tolvane: renders without a warning"
else
    fail "man tolvane: ${man_errors:-failed}"
fi

# What bash does on `tolvane <TAB>`: bash-completion's loader finds the completion by the
# command's name, and its function fills COMPREPLY.
workdir=$(mktemp -d)
offered=$(cd "$workdir" && bash --norc --noprofile -c '
    source /usr/share/bash-completion/bash_completion
    _completion_loader tolvane
    function=$(complete -p tolvane 2>/dev/null | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
    [ -n "$function" ] || exit 1
    COMP_WORDS=(tolvane "") COMP_CWORD=1 COMP_LINE="tolvane " COMP_POINT=8
    "$function" tolvane "" tolvane
    printf "%s\n" "${COMPREPLY[@]}"' | sort) || offered=""
rmdir "$workdir"
commands=$(tolvane --help | sed -n '/^Commands:$/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' | sort)
if [ -n "$commands" ] && [ "$offered" = "$commands" ]; then
    echo "bash completes 'tolvane ' to:" $offered
else
    fail "bash completes 'tolvane ' to '$(echo $offered)', not to '$(echo $commands)'"
fi

if [ "$failures" -gt 0 ]; then
    exit 1
fi
echo "The installed package serves man and bash; removing it again"
