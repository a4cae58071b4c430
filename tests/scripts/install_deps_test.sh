#!/usr/bin/env bash
# The scripts that install packages, on a machine where some are missing,
# the user is not root and there is no sudo: each must stop with the line to
# run as root, naming what is missing, and call neither sudo nor apt-get.
#   install-deps --package (as scripts/package runs it), with nothing
#       installed: the line holds cmake and file(1), which CPack needs;
#   bundle --unsigned, with everything but patchelf installed: the line
#       holds patchelf.
set -euo pipefail
source_dir="$1"
shims="$(mktemp -d)"
trap 'rm -rf "$shims"' EXIT

# Only these tools are on PATH: no sudo, whatever the machine has. The
# dpkg-query shim reports installed every package but those in $MISSING
# ("all": none is installed).
cat >"$shims/dpkg-query" <<'SHIM'
#!/bin/sh
for package in $MISSING; do
    [ "$package" = all ] || [ "$package" = "$3" ] && exit 1
done
printf 'install ok installed'
SHIM
printf '#!/bin/sh\necho 1000\n' >"$shims/id"
printf '#!/bin/sh\necho "apt-get must not run" >&2\nexit 99\n' >"$shims/apt-get"
chmod +x "$shims"/*
for tool in grep dirname bash; do
    ln -s "$(command -v "$tool")" "$shims/$tool"
done

fail() {
    echo "install_deps_test: $1" >&2
    echo "$output" >&2
    exit 1
}
# CASE: MISSING|SCRIPT ARGUMENTS|WORDS THE LINE MUST HOLD
for case in "all|install-deps --package|file cmake" "patchelf|bundle --unsigned|patchelf"; do
    IFS='|' read -r missing command words <<<"$case"
    status=0
    # shellcheck disable=SC2086 # the command's words
    output="$(MISSING=$missing PATH="$shims" "$(command -v bash)" "$source_dir"/scripts/$command 2>&1)" || status=$?
    [ "$status" -eq 1 ] || fail "$command: exit code $status, not 1"
    case "$output" in *"sudo: command not found"*) fail "$command: sudo was called" ;; esac
    case "$output" in *"apt-get must not run"*) fail "$command: apt-get was called" ;; esac
    line="$(grep -F 'apt-get update && apt-get install -y --no-install-recommends' <<<"$output")" ||
        fail "$command: no apt-get line to run as root"
    for word in $words; do
        grep -qw "$word" <<<"$line" || fail "$command: $word is not in the packages: $line"
    done
done
echo "install_deps_test: ok"
