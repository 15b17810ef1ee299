#!/usr/bin/env bash
# Dependencies run one way: app/ -> editor/ -> options/ -> platform/; inside platform/,
# files/ (the operations the program calls) -> drive/directory/, drive/image/ -> drive/,
# process/ -> sys/, and ini/ -> sys/; platform/qt/ stands on its own. The launcher and
# varnello-options (cli/) stand beside the program on options/ and platform/, cli/ without Qt.
# Fails, naming each line, when a folder includes from a folder it may not use, when a
# folder below the windows includes Qt, or when files include each other in a circle.
#
# usage: include-direction.sh SOURCE_DIR
set -u
cd "${1:?usage: $0 SOURCE_DIR}" || exit 2

declare -A may_use=(
    [platform/sys]="platform/sys"
    [platform/ini]="platform/ini platform/sys"
    [platform/process]="platform/process platform/sys"
    [platform/drive]="platform/drive platform/sys"
    [platform/drive/directory]="platform/drive/directory platform/drive platform/sys"
    [platform/drive/image]="platform/drive/image platform/drive platform/process platform/sys"
    [platform/files]="platform/files platform/drive/directory platform/drive/image platform/drive platform/ini platform/sys"
    [platform/qt]="platform/qt"
    [options]="options platform/files platform/drive platform/sys"
    [editor]="editor options platform/qt platform/files platform/drive platform/sys"
    [app]="app editor options platform/qt platform/files platform/drive platform/sys"
    [launcher]="launcher options platform/qt platform/files platform/drive platform/sys"
    [cli]="cli options platform/files platform/drive platform/sys"
)
below_the_windows="cli options platform/sys platform/ini platform/process platform/drive platform/drive/directory
                   platform/drive/image platform/files"

# "file:line:included" for every quoted include of the folder's own files.
includes() {
    grep -n -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$1"/*.cpp "$1"/*.h 2>/dev/null \
        | sed -E 's/^([^:]*):([0-9]*):.*"([^"]*)".*/\1:\2:\3/'
}

status=0
for folder in "${!may_use[@]}"; do
    while IFS=: read -r file line target; do
        used=${target%/*}
        [ "$used" != "$target" ] || continue  # beside the including file, or generated
        [ -n "${may_use[$used]+known}" ] || continue
        case " ${may_use[$folder]} " in
            *" $used "*) ;;
            *) echo "$file:$line: $folder/ may not include $target"; status=1 ;;
        esac
    done < <(includes "$folder")
done
for folder in $below_the_windows; do
    if grep -n -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$folder"/*.cpp "$folder"/*.h 2>/dev/null; then
        echo "$folder/ is below the windows and includes no Qt"
        status=1
    fi
done
# tsort names a circle of includes (a header counts as its .cpp's twin, so that a .cpp
# including a header that includes the .cpp's own header is a circle too).
circles=$(for folder in "${!may_use[@]}"; do
              includes "$folder" | while IFS=: read -r file line target; do
                  [ "${file%.*}.h" = "$target" ] || echo "${file%.*}.h $target"
              done
          done | tsort 2>&1 >/dev/null)
if [ -n "$circles" ]; then
    echo "files include each other in a circle:"
    echo "$circles"
    status=1
fi
exit $status
