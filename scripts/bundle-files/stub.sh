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
tools_sha256='@TOOLS_SHA256@'
loader='@LOADER@'
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

# mkdir's own reason, in lower case, from its message "mkdir: ...: Reason".
mkdir_reason() {
    printf '%s\n' "${1##*: }" | tr '[:upper:]' '[:lower:]'
}

# Trusts FOLDER only when no other user can change what its path leads to:
# it and every folder above it, up to the user's home (or / when it is not
# below the home), must be the user's or root's and not writable by group or
# others unless sticky. FOLDER must be a physical path (no links), so that
# every name the path goes through is one checked here.
check_ancestry() { # FOLDER
    set -- "$1" "$1" /
    home_real=$(cd -- "${HOME:-/}" 2>/dev/null && pwd -P) || home_real=/
    case $1 in "$home_real" | "$home_real"/*) set -- "$1" "$1" "$home_real" ;; esac
    while :; do
        owner_mode=$(stat -c '%u %a' -- "$2" 2>/dev/null) || refuse "cannot use $1: cannot read the owner of $2"
        owner=${owner_mode% *}
        mode=$((0${owner_mode#* }))
        [ "$owner" = "$uid" ] || [ "$owner" = 0 ] ||
            refuse "cannot use $1: $2 belongs to another user (XDG_CACHE_HOME can name a folder of your own)"
        [ $((mode & 022)) -eq 0 ] || [ $((mode & 01000)) -ne 0 ] ||
            refuse "cannot use $1: others can write in $2 (XDG_CACHE_HOME can name a folder of your own)"
        [ "$2" = "$3" ] || [ "$2" = / ] && break
        set -- "$1" "${2%/*}" "$3"
        [ -n "$2" ] || set -- "$1" / "$3"
    done
}

# Makes the folder of unpacked bundles, or takes it as it is when it is this
# user's own folder, set to mode 0700 like the program's private folder.
# Leaves its physical path in $bundles.
private_folder() {
    hint="XDG_CACHE_HOME can name a folder elsewhere"
    error=$(mkdir -p -- "$cache" 2>&1) ||
        refuse "cannot make the cache folder $cache: $(mkdir_reason "$error") ($hint)"
    error=$(mkdir -m 700 -- "$bundles" 2>&1) || [ -e "$bundles" ] || [ -L "$bundles" ] ||
        refuse "cannot make the cache folder $bundles: $(mkdir_reason "$error") ($hint)"
    [ -d "$bundles" ] && [ ! -L "$bundles" ] || refuse "cannot use $bundles: it is not a folder ($hint)"
    bundles=$(cd -- "$bundles" && pwd -P) || refuse "cannot use $bundles: cannot enter it ($hint)"
    target=$bundles/$tree
    check_ancestry "$bundles"
    set -- "$bundles" "$(stat -c '%u %a' -- "$bundles")"
    [ "${2% *}" = "$uid" ] || refuse "cannot use $1: it belongs to another user ($hint)"
    [ "${2#* }" = 700 ] || chmod 700 -- "$1" || refuse "cannot use $1: cannot set its mode to 0700"
}

# A folder on a noexec mount takes the files but runs none of them; a script
# of its own shows it before anything is unpacked.
check_exec() { # FOLDER
    printf '#!/bin/sh\nexit 0\n' >"$1/probe" && chmod 700 -- "$1/probe" ||
        refuse "cannot unpack into $bundles: cannot write in it"
    "$1/probe" 2>/dev/null ||
        refuse "cannot run programs from $bundles: it is on a file system mounted noexec (set XDG_CACHE_HOME to a folder on another file system)"
    rm -f -- "$1/probe"
}

# The part of this file from START, SIZE bytes, into FILE.
extract() { # START SIZE FILE
    tail -c "+$1" -- "$copy" | head -c "$2" >"$3"
}

unpack() {
    work=$(mktemp -d -- "$bundles/.unpack-XXXXXX") || refuse "cannot unpack into $bundles"
    trap 'rm -rf -- "$work"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    check_exec "$work"
    # Everything is read from one private copy: a file swapped while it is
    # checked and unpacked would otherwise give unchecked bytes.
    copy=$work/bundle.run
    cat -- "$0" >"$copy" 2>/dev/null || refuse "cannot read $0"
    [ "$(stat -c %s -- "$copy")" = $((payload_start - 1 + payload_size)) ] ||
        refuse "$0 is damaged: it has not the size it was made with"
    mkdir -- "$work/tools" "$work/tree" || refuse "cannot unpack into $bundles"
    extract "$tools_start" "$tools_size" "$work/tools.tar" && extract "$payload_start" "$payload_size" "$work/payload" ||
        refuse "cannot unpack into $bundles: cannot write in it"
    sum=$(sha256sum <"$work/tools.tar")
    [ "${sum%% *}" = "$tools_sha256" ] || refuse "$0 is damaged: its checksum does not match"
    sum=$(sha256sum <"$work/payload")
    [ "${sum%% *}" = "$payload_sha256" ] || refuse "$0 is damaged: its checksum does not match"
    tar -x -o -C "$work/tools" -f "$work/tools.tar" &&
        "$work/tools/xz" -dc <"$work/payload" | tar -x -o -C "$work/tree" -f - &&
        chmod -R go-w -- "$work/tree" || refuse "cannot unpack into $bundles"
    rm -f -- "$copy" "$work/payload" "$work/tools.tar"
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

# The window program needs the GPU libraries that the bundle leaves to the
# system; without one the loader's own line would name no package and blame
# downloader. The system's loader, tracing as ldd has it do, lists every
# library it cannot find.
check_window_libraries() {
    missing=$(LD_TRACE_LOADED_OBJECTS=1 "$loader" "$target/downloader-window" 2>/dev/null |
        while read -r name arrow where rest; do
            [ "$arrow $where" = "=> not" ] && printf '%s ' "$name"
        done)
    [ -z "$missing" ] && return
    for name in $missing; do
        case $name in
        libEGL.so.1) package=libegl1 ;;
        libOpenGL.so.0) package=libopengl0 ;;
        libGLX.so.0) package=libglx0 ;;
        libGLdispatch.so.0) package=libglvnd0 ;;
        libGL.so.1) package=libgl1 ;;
        *) package= ;;
        esac
        if [ -n "$package" ]; then
            printf 'downloader: cannot open the window: the library %s is missing (Debian and Ubuntu package %s)\n' \
                "$name" "$package" >&2
        else
            printf 'downloader: cannot open the window: the library %s is missing\n' "$name" >&2
        fi
    done
    printf 'downloader: downloader --silent works without them\n' >&2
    exit 126
}

# Fontconfig reads these folders; with no font in any, every letter of the
# window is an empty box.
check_fonts() {
    data=${XDG_DATA_HOME:-${HOME:-/nonexistent}/.local/share}
    for folder in /usr/share/fonts /usr/local/share/fonts "$data/fonts" "${HOME:-/nonexistent}/.fonts"; do
        [ -d "$folder" ] || continue
        [ -n "$(find "$folder" \( -type f -o -type l \) \( -name '*.tt[fc]' -o -name '*.otf' -o -name '*.otc' \
            -o -name '*.pf[ab]' -o -name '*.pcf*' -o -name '*.woff*' \) 2>/dev/null | head -n 1)" ] && return
    done
    printf 'downloader: warning: Fontconfig finds no font, so the window shows empty boxes for text (install one, such as the Debian package fonts-dejavu-core)\n' >&2
}

# Whether the arguments start the window: not with --silent, --help or
# --version before "--", as the program reads them.
opens_window() {
    for argument in "$@"; do
        case $argument in
        --) return 0 ;;
        --silent | --help | -h | --version) return 1 ;;
        esac
    done
    return 0
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

# The program is started by the physical path whose every folder was just
# checked: only this user or root can change what such a path leads to, so the
# tree the listing checked is the one exec opens. (A descriptor to the folder
# would be inherited by the program and the setup program it starts, as sh
# cannot mark it close-on-exec.)
private_folder
tree_ready "$tree" || unpack
if opens_window "$@"; then
    check_window_libraries
    [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || check_fonts
fi
exec "$target/downloader" "$@"
exit 126
