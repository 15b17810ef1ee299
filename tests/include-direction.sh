#!/usr/bin/env bash
# Dependencies run one way: app/ -> editor/ -> options/ -> platform/ (platform/qt, and
# platform/file below everything); the launcher and varnello-options beside the program use
# options/ and platform/, varnello-options without Qt.
# Fails, naming each line, when a folder includes from
# a folder it may not use, or when cli/, options/ or platform/file/ include Qt.
#
# usage: include-direction.sh SOURCE_DIR
set -u
cd "${1:?usage: $0 SOURCE_DIR}" || exit 2

declare -A may_use=(
    [platform/file]="platform/file"
    [platform/qt]="platform/qt platform/file"
    [options]="options platform/file"
    [editor]="editor options platform/qt platform/file"
    [app]="app editor options platform/qt platform/file"
    [launcher]="launcher options platform/qt platform/file"
    [cli]="cli options platform/file"
)
status=0
for folder in "${!may_use[@]}"; do
    while IFS=: read -r file line target; do
        case $target in
            platform/*/*) used=${target%/*} ;;
            */*) used=${target%%/*} ;;
            *) continue ;;  # beside the including file, or generated
        esac
        [ -n "${may_use[$used]+known}" ] || continue
        case " ${may_use[$folder]} " in
            *" $used "*) ;;
            *) echo "$file:$line: $folder/ may not include $target"; status=1 ;;
        esac
    done < <(grep -n -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder"/*.cpp "$folder"/*.h 2>/dev/null \
             | sed -E 's/^([^:]*):([0-9]*):.*"([^"]*)".*/\1:\2:\3/')
done
for folder in cli options platform/file; do
    if grep -n -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$folder"/*.cpp "$folder"/*.h 2>/dev/null; then
        echo "$folder/ is below the windows and includes no Qt"
        status=1
    fi
done
exit $status
