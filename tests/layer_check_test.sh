#!/usr/bin/env bash
# The layer check on small trees: each row is a file, what it includes, and
# whether the build must stop; then the real tree, which must pass.
set -euo pipefail
CHECK=${1:?usage: layer_check_test.sh CHECK_LAYERS_SH SOURCE_DIR}
SOURCE=${2:?}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
while read -r file header expect; do
  rm -rf "$WORK/src" && mkdir -p "$WORK/src/$(dirname "${file#src/}")"
  printf '#include "%s"\n' "$header" >"$WORK/$file"
  if "$CHECK" "$WORK" 2>/dev/null; then got=pass; else got=fail; fi
  if [[ $got != "$expect" ]]; then
    echo "FAIL: $file including $header: expected $expect, got $got"
    failures=$((failures + 1))
  fi
done <<'ROWS'
src/fs/fat/fat_table.cpp app/app_state.h fail
src/fs/ntfs/attributes.cpp fs/fat/long_name.h fail
src/fs/fat/dir_entry.cpp results/copy_out.h fail
src/fs/ntfs/index_walk.h ui/window_system.h fail
src/source/partition_table.cpp fs/boot_sector.h fail
src/core/text.cpp source/volume_source.h fail
src/results/copy_out.cpp app/folder_tree.h fail
src/ui/list_rows.cpp app/app_state.h fail
src/ui/headless/headless_window.cpp app/app_state.h fail
src/app/main_dialog.cpp ui/qt/qt_window.h fail
src/app/drive_mapping.cpp fs/fat/fat_table.h fail
src/results/copy_out.cpp fs/ntfs/mft_record.h fail
src/fs/exfat/exfat_scans.cpp fs/fat/fat_table.h fail
src/fs/fat/fat_quick_scan.cpp fs/exfat/exfat_entry_set.h fail
src/fs/exfat/exfat_scans.cpp app/app_state.h fail
src/app/main_dialog.cpp fs/exfat/exfat_volume.h fail
src/fs/fat/fat_table.cpp core/le_bytes.h pass
src/fs/ntfs/mft_record.cpp fs/logdrive_info.h pass
src/fs/exfat/exfat_scans.cpp fs/exfat/exfat_entry_set.h pass
src/app/drive_mapping.cpp fs/boot_sector.h pass
src/ui/qt/qt_window.cpp app/app_state.h pass
ROWS
if ! "$CHECK" "$SOURCE"; then
  echo "FAIL: the source tree breaks the layering"
  failures=$((failures + 1))
fi
[[ $failures -eq 0 ]] && echo "layer check: all cases as expected"
exit $((failures > 0))
