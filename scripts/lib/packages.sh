# shellcheck shell=bash
# The package check that scripts/install-deps, scripts/bundle and
# scripts/bundle-check share; sourced, not run. Uses only dpkg-query, id,
# grep and apt-get (through sudo when not root), so that it works on a bare
# system.

# ensure_packages CALLER PACKAGE...: installs what is missing, quietly when
# nothing is ("name:arm64" is another architecture's package). As a user without sudo it installs nothing, prints the line to
# run as root and returns 1; a failed apt-get returns 1 too.
ensure_packages() {
    local caller=$1 package
    shift
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            {
                echo "$caller: these packages are missing: ${missing[*]}"
                echo "$caller: not root and no sudo here; as root, run:"
                echo "    apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
                echo "$caller: or run this script as root."
            } >&2
            return 1
        fi
        as_root=(sudo DEBIAN_FRONTEND=noninteractive)
    fi
    echo "$caller: installing: ${missing[*]}" >&2
    if ! DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get update -qq >/dev/null ||
        ! DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null; then
        echo "$caller: cannot install ${missing[*]} (apt-get failed)" >&2
        return 1
    fi
}
