#!/usr/bin/env bash
# scripts/install-deps --package (as scripts/package runs it) on a machine
# where nothing is installed, the user is not root and there is no sudo: it
# must stop with the line to run as root, and that line must hold file(1),
# which CPack's dependency scan needs.
set -euo pipefail
source_dir="$1"
shims="$(mktemp -d)"
trap 'rm -rf "$shims"' EXIT

# Only these tools are on PATH: no sudo, whatever the machine has.
printf '#!/bin/sh\nexit 1\n' >"$shims/dpkg-query"
printf '#!/bin/sh\necho 1000\n' >"$shims/id"
printf '#!/bin/sh\necho "apt-get must not run" >&2\nexit 99\n' >"$shims/apt-get"
chmod +x "$shims"/*
ln -s "$(command -v grep)" "$shims/grep"

status=0
output="$(PATH="$shims" "$(command -v bash)" "$source_dir/scripts/install-deps" --package 2>&1)" || status=$?
fail() {
    echo "install_deps_test: $1" >&2
    echo "$output" >&2
    exit 1
}
[ "$status" -eq 1 ] || fail "exit code $status, not 1"
case "$output" in *"sudo: command not found"*) fail "sudo was called" ;; esac
case "$output" in *"apt-get must not run"*) fail "apt-get was called" ;; esac
line="$(grep -F 'apt-get update && apt-get install -y --no-install-recommends' <<<"$output")" ||
    fail "no apt-get line to run as root"
grep -qw file <<<"$line" || fail "file(1) is not in the packages: $line"
grep -qw cmake <<<"$line" || fail "the missing packages are not listed: $line"
echo "install_deps_test: ok"
