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
listing='@LISTING@'

# A start that cannot get the program ready ends like a shell's "cannot
# execute", apart from every exit code the program itself has.
refuse() {
    printf 'downloader: %s\n' "$*" >&2
    exit 126
}

# What every start checks before it runs anything, in one find: that the
# folder of unpacked bundles (FOLDER) is the user's own with mode 0700, and the
# names, kinds and sizes of the files of TREE in it. Whatever is another
# user's, writable by others, or neither a file nor a folder shows up as
# unsafe, so the listing no longer matches. scripts/bundle makes the expected
# listing with this same function.
tree_listing() { # FOLDER TREE UID
    (cd "$1" 2>/dev/null && find . "$2" \( -path . \( -type d -user "$3" -perm 700 -printf 'private\n' \
        -o -printf 'unsafe .\n' \) -prune \) -o \( ! -user "$3" -o -perm /022 -o ! \( -type f -o -type d \) \) \
        -printf 'unsafe %P\n' -o -type d -printf 'd %P\n' -o -printf 'f %s %P\n' 2>/dev/null) | LC_ALL=C sort
}

tree_ready() { # TREE
    [ ! -L "$bundles/$1" ] && [ "$(tree_listing "$bundles" "$1" "$uid")" = "$listing" ]
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
    tree_ready "${work#"$bundles/"}/tree" || refuse "cannot unpack into $bundles: the files came out wrong"
    # Another start may have finished the same work meanwhile; a folder that
    # is still unusable is moved aside whole, never mixed with the new one.
    if ! tree_ready "$tree"; then
        if [ -e "$target" ] || [ -L "$target" ]; then
            mv -T -- "$target" "$work/old" 2>/dev/null || refuse "cannot replace $target"
        fi
        mv -T -- "$work/tree" "$target" 2>/dev/null || tree_ready "$tree" || refuse "cannot unpack into $target"
    fi
    rm -rf -- "$work"
    trap - EXIT INT TERM
}

# The effective user, without a process to ask.
uid=
while read -r key real effective rest; do
    [ "$key" = Uid: ] && uid=$effective && break
done 2>/dev/null </proc/self/status
[ -n "$uid" ] || uid=$(id -u)
case ${XDG_CACHE_HOME:-} in
/*) cache=$XDG_CACHE_HOME ;;
*)
    [ -n "${HOME:-}" ] || refuse "neither XDG_CACHE_HOME nor HOME is set"
    cache=$HOME/.cache
    ;;
esac
bundles=$cache/downloader-bundle
target=$bundles/$tree

tree_ready "$tree" || unpack
exec "$target/downloader" "$@"
exit 126
