#!/usr/bin/env bash
# Checks that the C++ sources are formatted as .clang-format says, and names
# every file that is not (with the first lines clang-format would change).
#
#   scripts/format-check.sh [--changed [BASE]] [--fix]
#
# Without arguments every tracked .cpp and .h file is checked. --changed checks
# only the files that differ from BASE (default: origin/main, else main), for a
# tree that has not had its one reformatting commit yet. --fix formats the
# files in place instead of checking them. Exits 1 when a file is not formatted.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing clang-format git

cd "$TOP"
changed=0
base=
fix=0
while [ $# -gt 0 ]; do
    case "$1" in
    --changed)
        changed=1
        if [ $# -gt 1 ] && [ "${2#-}" = "$2" ]; then
            base="$2"
            shift
        fi
        shift ;;
    --fix) fix=1; shift ;;
    -h | --help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "format-check.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

files=()
if [ "$changed" -eq 1 ]; then
    if [ -z "$base" ]; then
        base=main
        git rev-parse -q --verify origin/main >/dev/null && base=origin/main
    fi
    while IFS= read -r f; do
        [ -f "$f" ] && files+=("$f")
    done < <(git diff --name-only --diff-filter=d "$(git merge-base "$base" HEAD)" -- '*.cpp' '*.h';
             git ls-files --others --exclude-standard -- '*.cpp' '*.h')
else
    while IFS= read -r f; do
        files+=("$f")
    done < <(git ls-files -- '*.cpp' '*.h')
fi
if [ ${#files[@]} -eq 0 ]; then
    echo "format-check: no C++ files to check"
    exit 0
fi

if [ "$fix" -eq 1 ]; then
    clang-format -i --style=file "${files[@]}"
    echo "format-check: formatted ${#files[@]} files"
    exit 0
fi

bad=0
for f in "${files[@]}"; do
    if ! clang-format --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then
        bad=$((bad + 1))
        echo "not formatted: $f"
        { clang-format --style=file "$f" | diff -u "$f" - | sed -n '3,12p' | sed 's/^/    /'; } || true
    fi
done
if [ "$bad" -gt 0 ]; then
    echo "format-check: $bad of ${#files[@]} files are not formatted (scripts/format-check.sh --fix formats them)"
    exit 1
fi
echo "format-check: all ${#files[@]} files formatted"
