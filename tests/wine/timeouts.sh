# The time limits of the Wine checks (sourced by tests/wine/run.sh,
# tests/wine/dialogs.sh and tests/package/windows_installer.sh).
#
# Every Wine step runs under `timeout` so that a hang fails the check instead
# of stopping the run. Where 32-bit programs run through QEMU's user-mode
# emulator (a binfmt_misc entry for qemu-i386, which scripts/setup.sh
# registers on a kernel without 32-bit support), process start-up is several
# times slower, and 64-bit Wine starts 32-bit helpers too; the limits are
# then multiplied by `wine_slowdown` (10). The pager's own timing is not
# affected: the serial line runs at the same speed either way.
#   wine_limit SECONDS   prints the limit for a step that takes up to SECONDS natively

wine_slowdown=1
for entry in /proc/sys/fs/binfmt_misc/*; do
  [ -f "$entry" ] || continue
  if grep -qx enabled "$entry" 2>/dev/null && grep -q '^interpreter .*qemu-i386' "$entry"; then
    wine_slowdown=10
  fi
done

wine_limit() { echo $(($1 * wine_slowdown)); }
