#!/usr/bin/env bash
# Runs a Windows program under wine: the launcher of the cross build's tests (the
# toolchain's QEL_WINE). The environment comes from wine_env.sh: WINEPREFIX, WINEDEBUG,
# WINEDLLOVERRIDES, and QEL_WINE_PRELOAD where 32-bit wine runs under qemu-i386 user
# emulation.
#
# The program's output goes through files: wine may start its own background services
# from here, which would inherit a pipe and keep the caller waiting for its end.
out="$(mktemp)"
err="$(mktemp)"
trap 'rm -f "$out" "$err"' EXIT
if [ -n "${QEL_WINE_PRELOAD:-}" ]; then
  # Straight to the 32-bit loader and server, so that no 64-bit program (such as the
  # wineserver start script) sees the 32-bit preload.
  if [ -x /usr/lib/wine/wineserver32 ]; then export WINESERVER=/usr/lib/wine/wineserver32; fi
  LD_PRELOAD="$QEL_WINE_PRELOAD" /usr/lib/wine/wine "$@" </dev/null >"$out" 2>"$err"
else
  wine "$@" </dev/null >"$out" 2>"$err"
fi
status=$?
cat "$out"
cat "$err" >&2
exit "$status"
