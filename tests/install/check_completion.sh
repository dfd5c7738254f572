#!/usr/bin/env bash
# check_completion.sh COMPLETION ORVEL_LOADER: the bash completion offers what the program's
# --help lists: commands, a command's options, a command's fixed words and file names for an
# option that takes a FILE. Each case that fails is named; the exit code is their count.
set -uo pipefail
completion=$1
program=$2
source /usr/share/bash-completion/bash_completion
source "$completion"

# The words offered for the command line given (the last word is the one being completed),
# sorted, on one line.
offered()
{
    COMP_WORDS=("$program" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _orvel_loader
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | xargs
}

cases=0
failed=0
expect()
{
    ((cases++))
    local want=$1
    shift
    local got
    got=$(offered "$@")
    if [[ $got != "$want" ]]; then
        echo "FAILED: orvel-loader $* -> \"$got\", expected \"$want\""
        ((failed++))
    fi
}

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
touch "$folder/kernel-arm.bin"

expect "discover dump info records send serials start station stop verify" ""
expect "send serials start station stop" s
expect "--kernel" send --ker
expect "$folder/kernel-arm.bin" send --kernel "$folder/k"
expect "" send --port ""
expect "$folder/kernel-arm.bin" dump kernel 5 -o "$folder/k"   # the short name of a FILE option
expect "kernel program" dump ""
expect "set show" serials s
echo "$((cases - failed)) passed, $failed failed"
exit "$failed"
