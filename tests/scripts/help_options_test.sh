#!/usr/bin/env bash
# The options each program lists in --help are the ones its man page
# describes (SYNOPSIS and OPTIONS) and the ones its bash completion offers:
# an option added to one place and forgotten in another fails here.
#
#   help_options_test.sh SOURCE_DIR DOWNLOADER DOWNLOADER_PUBLISH
set -euo pipefail
source_dir=$1
declare -A programs=([downloader]=$2 [downloader-publish]=$3)

# Every option word in the text on standard input, one a line, sorted.
options_in() {
    grep -oE '(^|[^a-zA-Z0-9-])--?[a-z][a-z0-9-]*' | sed -E 's/^[^-]*//' | sort -u
}
# The SYNOPSIS and OPTIONS sections of a man page source, its "\-" as "-".
man_options() {
    sed 's/\\-/-/g' "$1" | awk '/^\.SH / { keep = ($2 == "SYNOPSIS" || $2 == "OPTIONS"); next } keep' | options_in
}
# The words the completion offers for an empty word after the program.
completion_options() {
    local program=$1
    (
        source "$source_dir/resources/completions/$program"
        COMP_WORDS=("$program" "-")
        COMP_CWORD=1
        COMPREPLY=()
        "_${program//-/_}"
        printf '%s\n' "${COMPREPLY[@]}"
    ) | options_in
}

status=0
for program in "${!programs[@]}"; do
    help=$("${programs[$program]}" --help | options_in)
    for other in "man page:$(man_options "$source_dir/resources/man/$program.1.in")" \
        "bash completion:$(completion_options "$program")"; do
        where=${other%%:*}
        listed=${other#*:}
        if [ "$help" != "$listed" ]; then
            echo "help_options_test: $program --help and its $where list different options:" >&2
            diff <(echo "$help") <(echo "$listed") | sed -n 's/^</   only in --help:/p; s/^>/   only in the '"$where"':/p' >&2
            status=1
        fi
    done
done
[ "$status" -eq 0 ] && echo "help_options_test: ok"
exit "$status"
