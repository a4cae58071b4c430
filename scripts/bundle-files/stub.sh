#!/bin/sh
# Downloader @VERSION@ for @ARCH@ with the libraries it needs, in one file
# made by scripts/bundle. The first start unpacks the program once into the
# user's cache folder; every start runs it from there with this file's
# arguments, environment and exit code.
tree='@TREE@'
tools_start=@TOOLS_START@
tools_size=@TOOLS_SIZE@
payload_start=@PAYLOAD_START@
payload_size=@PAYLOAD_SIZE@
payload_sha256='@PAYLOAD_SHA256@'
listing_sum='@LISTING_SUM@'

# A start that cannot get the program ready ends like a shell's "cannot
# execute", apart from every exit code the program itself has.
refuse() {
    printf 'downloader: %s\n' "$*" >&2
    exit 126
}

# What a start checks before it runs anything: the names, kinds and sizes of
# the unpacked files. Whatever is another user's, writable by others, or
# neither a file nor a folder shows up as unsafe, so the sum no longer fits.
# scripts/bundle computes the expected sum with this same function.
tree_listing() {
    (cd "$1" && find . \( ! -user "$2" -o -perm /022 -o ! \( -type f -o -type d \) \) -printf 'unsafe %p\n' \
        -o -type d -printf 'd %p\n' -o -printf 'f %s %p\n') | LC_ALL=C sort | cksum
}

tree_ready() {
    [ -d "$1" ] && [ ! -L "$1" ] && [ "$(tree_listing "$1" "$uid")" = "$listing_sum" ]
}

# Makes the folder of unpacked bundles, or takes it as it is when it is this
# user's own folder, set to mode 0700 like the program's private folder.
private_folder() {
    mkdir -p -- "$(dirname -- "$1")" 2>/dev/null
    mkdir -m 700 -- "$1" 2>/dev/null
    [ -d "$1" ] && [ ! -L "$1" ] || refuse "cannot use $1: it is not a folder"
    set -- "$1" "$(stat -c '%u %a' -- "$1")"
    [ "${2% *}" = "$uid" ] || refuse "cannot use $1: it belongs to another user"
    [ "${2#* }" = 700 ] || chmod 700 -- "$1" || refuse "cannot use $1: cannot set its mode to 0700"
}

unpack() {
    private_folder "$bundles"
    work=$(mktemp -d -- "$bundles/.unpack-XXXXXX") || refuse "cannot unpack into $bundles"
    trap 'rm -rf -- "$work"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    [ "$(stat -L -c %s -- "$0")" = $((payload_start - 1 + payload_size)) ] ||
        refuse "$0 is damaged: it has not the size it was made with"
    sum=$(tail -c "+$payload_start" -- "$0" | sha256sum)
    [ "${sum%% *}" = "$payload_sha256" ] || refuse "$0 is damaged: its checksum does not match"
    mkdir -- "$work/tools" "$work/tree" &&
        tail -c "+$tools_start" -- "$0" | head -c "$tools_size" | tar -x -o -C "$work/tools" -f - &&
        tail -c "+$payload_start" -- "$0" | "$work/tools/xz" -dc | tar -x -o -C "$work/tree" -f - &&
        chmod -R go-w -- "$work/tree" || refuse "cannot unpack into $bundles"
    [ "$(tree_listing "$work/tree" "$uid")" = "$listing_sum" ] || refuse "cannot unpack into $bundles: the files came out wrong"
    # Another start may have finished the same work meanwhile; a folder that
    # is still unusable is moved aside whole, never mixed with the new one.
    if ! tree_ready "$target"; then
        if [ -e "$target" ] || [ -L "$target" ]; then
            mv -T -- "$target" "$work/old" 2>/dev/null || refuse "cannot replace $target"
        fi
        mv -T -- "$work/tree" "$target" 2>/dev/null || tree_ready "$target" || refuse "cannot unpack into $target"
    fi
    rm -rf -- "$work"
    trap - EXIT INT TERM
}

uid=$(id -u)
case ${XDG_CACHE_HOME:-} in
/*) cache=$XDG_CACHE_HOME ;;
*)
    [ -n "${HOME:-}" ] || refuse "neither XDG_CACHE_HOME nor HOME is set"
    cache=$HOME/.cache
    ;;
esac
bundles=$cache/downloader-bundle
target=$bundles/$tree

if [ "$(stat -c '%u %a' -- "$bundles" 2>/dev/null)" != "$uid 700" ] || [ -L "$bundles" ] || ! tree_ready "$target"; then
    unpack
fi
exec "$target/downloader" "$@"
exit 126
