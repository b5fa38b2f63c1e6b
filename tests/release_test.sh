#!/usr/bin/env bash
# What a release installs, checked on the build tree (ctest: release_files):
# - every program prints the project's version;
# - `cmake --install` with DESTDIR puts each file where a Debian system looks
#   for it, for the prefix /usr (the packages) and /usr/local, and nothing
#   else; the unit names the installed program;
# - the man pages format without a warning;
# - systemd reads the unit without a complaint, and rates its sandbox OK;
# - adihost's bash completion offers every option `--help` lists, the
#   values of the options that take a list, and the paper names.
#   tests/release_test.sh BUILD VERSION CUPS_FILTER_DIR CUPS_MIME_DIR SCRATCH
set -euo pipefail
build=$(realpath "$1") version=$2 filters=$3 mime=$4 scratch=$(realpath -m "$5")
tools=$build/tools
failed=0
check() {  # DESCRIPTION: the command's status says whether it holds
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else
        echo "FAILED: $what" >&2
        failed=1
    fi
}
rm -rf "$scratch"
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT

for program in adihost rastertovarnu pdftovarnu imagetovarnu hpgltovarnu dxftovarnu varnu-printer-app; do
    said=$("$tools/$program" --version)
    check "$program --version says $version ($said)" test "${said##* }" = "$version"
done

# The files an install of the prefix makes, as paths below DESTDIR.
installed() {
    DESTDIR=$scratch/$2 cmake --install "$build" --prefix "$1" >/dev/null
    (cd "$scratch/$2" && find . -type f | sed 's|^\.||' | sort)
}
expected() {  # PREFIX UNIT_DIR
    printf '%s\n' "$1/bin/adihost" "$1/bin/varnu-printer-app" \
        "$1/share/man/man1/adihost.1" "$1/share/man/man1/varnu-printer-app.1" \
        "$1/share/bash-completion/completions/adihost" "$1/share/ppd/varnu/varnu4820.ppd" \
        "$1/share/man/man8/rastertovarnu.8" "$1/share/man/man8/pdftovarnu.8" \
        "$1/share/man/man8/imagetovarnu.8" "$1/share/man/man8/hpgltovarnu.8" \
        "$1/share/man/man8/dxftovarnu.8" "$filters/rastertovarnu" "$filters/pdftovarnu" \
        "$filters/imagetovarnu" "$filters/hpgltovarnu" "$filters/dxftovarnu" "$mime/varnu.types" \
        "$2/varnu-printer-app.service" | sort
}
system_units=$(pkg-config --variable=systemdsystemunitdir systemd 2>/dev/null || echo /usr/lib/systemd/system)
check "an install to /usr puts each file where Debian looks for it" \
    diff <(installed /usr usr) <(expected /usr "$system_units")
check "an install to /usr/local puts each file where Debian looks for it" \
    diff <(installed /usr/local local) <(expected /usr/local /usr/local/lib/systemd/system)
unit=$scratch/usr$system_units/varnu-printer-app.service
[ -f "$unit" ] || unit=$scratch/usr/$system_units/varnu-printer-app.service
check "the unit starts /usr/bin/varnu-printer-app" grep -q '^ExecStart=/usr/bin/varnu-printer-app ' "$unit"
check "the /usr/local unit starts /usr/local/bin/varnu-printer-app" \
    grep -q '^ExecStart=/usr/local/bin/varnu-printer-app ' \
    "$scratch/local/usr/local/lib/systemd/system/varnu-printer-app.service"

for page in "$scratch"/usr/usr/share/man/man*/*.[18]; do
    warnings=$(cd "$scratch/usr/usr/share/man" &&
        LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    check "man ${page##*/} formats without a warning $warnings" test -z "$warnings"
done

if command -v systemd-analyze >/dev/null; then
    mkdir -p "$scratch/unit"
    sed "s|^ExecStart=/usr/bin/|ExecStart=$tools/|" "$unit" >"$scratch/unit/varnu-printer-app.service"
    said=$(systemd-analyze verify --man=no "$scratch/unit/varnu-printer-app.service" 2>&1)
    check "systemd-analyze verify reads the unit without a complaint $said" test -z "$said"
    exposure=$(systemd-analyze security --offline=yes --root="$scratch/usr" varnu-printer-app.service |
        sed -n 's/.*Overall exposure level for varnu-printer-app.service: \([0-9.]*\) \(.*\)/\1 \2/p')
    check "the unit's sandbox is rated OK by systemd ($exposure)" grep -q ' OK' <<<"$exposure"
else
    echo "skipped: the unit checks (systemd-analyze is not installed; Debian: systemd)"
fi

completion=/usr/share/bash-completion/bash_completion
if [ -f "$completion" ]; then
    # What the completion offers for the words of a command line, the
    # last one being completed; one a line.
    offered() {
        # shellcheck disable=SC1090
        bash -c 'source "$1" && source "$2" && shift 2 &&
            COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" && COMP_POINT=${#COMP_LINE} &&
            _adihost adihost "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
            printf "%s\n" "${COMPREPLY[@]}"' \
            offered "$completion" "$tools/release/adihost.bash" "$@"
    }
    # Every option --help lists, for each command.
    for command in "" plot configure render demo test-page; do
        listed=$("$tools/adihost" $command --help |
            grep -oE '^ +(-[a-z],)?--[a-z-]+' | tr ',' '\n' | tr -d ' ' | grep -vx -- -h | sort -u)
        words=(adihost)
        [ -z "$command" ] || words+=("$command")
        check "adihost $command: every option is completed" \
            diff <(echo "$listed") <(offered "${words[@]}" - | sort -u | grep -Fxf <(echo "$listed"))
    done
    check "the commands are completed" \
        diff <(offered adihost '' | sort) <(printf '%s\n' configure demo plot render test-page)
    check "--resolution takes the four resolutions" \
        diff <(offered adihost configure --resolution '' | sort) <(printf '%s\n' 200 300 400 600)
    check "--paper a offers the A formats, whatever the case" \
        diff <(offered adihost configure --paper a) \
        <(printf '%s\n' 'A-Arch\(9Zoll\)' 'A-ANSI\(8.5Zoll\)' A0 A1 A2 A3 A4)
    check "--paper offers names with blanks quoted" \
        diff <(offered adihost --config x.cfg configure --paper 'Sp.\ A1') \
        <(printf '%s\n' 'Sp.\ A1\ 625\ x\ 880' 'Sp.\ A1\ 620\ x\ 871')
    check "--paper offers the 41 rows of the list" test "$(offered adihost configure --paper '' | wc -l)" -eq 41
else
    echo "skipped: the bash completion (bash-completion is not installed)"
fi
exit $failed
