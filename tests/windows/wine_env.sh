# Sourced by test.sh: a throw-away wine environment for the Windows test stage.
#
#   qel_wine_start <work folder>   exports WINEPREFIX (a fresh prefix under the folder),
#                                  WINEDEBUG=-all and, where needed, QEL_WINE_PRELOAD
#   qel_wine_stop                  stops this prefix's wineserver and removes the prefix
#
# wine32 is a 32-bit Linux program. On x86-64 kernels that cannot start 32-bit programs
# (some virtual machines run without the 32-bit system call layer), it runs under
# qemu-i386 user emulation instead: i386 programs are registered with binfmt_misc to start
# through qemu-i386-static (needs root; the registration stays for later runs), and a
# small preload (qemu_mmap_shim.c) mends the one memory-mapping flag that wine needs and
# qemu 7.2 does not honour. No display is needed: a message box returns at once.

qel_wine_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

qel_wine_can_run() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

qel_wine_register_qemu() {
  local binfmt=/proc/sys/fs/binfmt_misc
  if [ ! -x /usr/bin/qemu-i386-static ]; then
    echo "32-bit programs cannot start here and qemu-i386-static is missing" >&2
    return 1
  fi
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
  fi
  if [ ! -e "$binfmt/qemu-i386" ]; then
    # ELF, 32-bit, little-endian, executable or shared object, machine i386.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$binfmt/register" || return 1
  fi
}

qel_wine_start() {
  local work="$1"
  mkdir -p "$work"
  export WINEDEBUG=-all
  # No .NET or HTML engine to install and no desktop menu entries: the tests need none.
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
  export WINEPREFIX
  WINEPREFIX="$(mktemp -d "$work/wineprefix.XXXXXX")"
  unset QEL_WINE_PRELOAD
  # With i386 programs registered for qemu, wine may be running under it (the shim is
  # harmless where the kernel runs them itself: it keeps the kernel's own meaning).
  if ! grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
    if ! qel_wine_can_run; then
      echo "32-bit programs do not start natively here: running wine under qemu-i386"
      qel_wine_register_qemu || return 1
    fi
  fi
  if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
    gcc -m32 -O2 -fPIC -shared -nostdlib -o "$work/qemu_mmap_shim.so" \
      "$qel_wine_dir/qemu_mmap_shim.c" || return 1
    export QEL_WINE_PRELOAD="$work/qemu_mmap_shim.so"
  fi
  qel_wine_can_run || { echo "wine does not start" >&2; return 1; }
  # The first start of a new prefix takes a while (seconds natively, up to a minute under
  # emulation); do it here, not inside a test. The server then stays up until
  # qel_wine_stop, so that tests do not start their own. Under emulation the set-up has
  # been seen to stall now and then: it gets a time limit and two more tries in new prefixes.
  local try
  for try in 1 2 3; do
    wineserver -p >/dev/null 2>&1 || return 1
    if timeout 150 "$qel_wine_dir/run_wine.sh" wineboot --init >/dev/null 2>&1; then
      return 0
    fi
    echo "wine prefix set-up did not finish (try $try)" >&2
    qel_wine_stop
    WINEPREFIX="$(mktemp -d "$work/wineprefix.XXXXXX")"
  done
  return 1
}

qel_wine_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    # A stalled set-up can leave programs of this prefix whose server is gone already
    # (and one may still start another): they are found by the prefix in their
    # environment, asked to end, then made to.
    local round pid left signal=TERM
    for round in 1 2 3 4; do
      left=""
      for pid in $(pgrep -f '^/usr/bin/qemu-i386-static |^/usr/lib/wine/wine' || true); do
        if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
          kill -s "$signal" "$pid" 2>/dev/null || true
          left=1
        fi
      done
      [ -n "$left" ] || break
      signal=KILL
      sleep 1
    done
    rm -rf "$WINEPREFIX"
  fi
}
