#!/usr/bin/env bash
# Installs everything the build and the tests need (Debian packages), then makes 32-bit Windows
# programs runnable. Safe to run again: it only calls apt-get when a package is missing, and the
# 32-bit step only redoes what is not already in place.
#
# 32-bit Windows programs: these machines cannot execute 32-bit x86 code (the processor refuses
# the 32-bit code segment), so wine's 32-bit loader runs under qemu's user-mode emulator, which
# the kernel starts for every i386 ELF file through binfmt_misc. Debian 12's own qemu (7.2) needs
# about a minute of processor time per wine process; the qemu-user of bookworm-backports is fast
# enough. It is fetched with a private apt sources list (the machine's own sources stay as they
# are) and unpacked into LUDREX_QEMU_DIR, never installed. Where this step cannot be done (not
# root, no binfmt_misc, the package not reachable) it says so on standard output and the tests
# fall back to the 64-bit Windows build under wine64.
set -euo pipefail

native=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev binutils libcli11-dev)
windows=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386
         g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64)

want=("${native[@]}")
if [ "${LUDREX_NATIVE_ONLY:-0}" != 1 ]; then want+=("${windows[@]}"); fi

sudo=""
if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi

missing=()
for p in "${want[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "${LUDREX_NATIVE_ONLY:-0}" != 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
[ "${LUDREX_NATIVE_ONLY:-0}" = 1 ] && exit 0

# ---- 32-bit Windows programs: wine32 under qemu-i386 --------------------------------------------
qemu_dir="${LUDREX_QEMU_DIR:-/opt/ludrex-qemu}"
qemu="$qemu_dir/usr/bin/qemu-i386"
binfmt=/proc/sys/fs/binfmt_misc
entry=ludrex-i386
# The i386 ELF header (class 32-bit, little-endian, an executable or shared object, machine 3),
# as qemu registers it; the kernel decodes the \x escapes.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

cannot() {
  echo "setup: CANNOT run 32-bit Windows programs: $*"
  echo "setup: the tests will run the 64-bit Windows build under wine64 instead"
  exit 0
}

wine32_runs() { timeout 120 /usr/lib/wine/wine --version >/dev/null 2>&1; }

# Already in place (our entry registered and enabled, pointing at our emulator)?
if [ -f "$binfmt/$entry" ] && grep -qx enabled "$binfmt/$entry" \
   && grep -qx "interpreter $qemu" "$binfmt/$entry" && wine32_runs; then
  echo "setup: 32-bit Windows programs run (wine32 under $qemu)"
  exit 0
fi

[ "$(id -u)" = 0 ] || cannot "not root (registering an emulator with binfmt_misc needs root)"

# The emulator: qemu-user of bookworm-backports, from the mirror of the machine's own Debian
# sources (LUDREX_DEBIAN_MIRROR overrides it).
if ! "$qemu" --version >/dev/null 2>&1; then
  mirror=http://deb.debian.org/debian
  component=main
  src=$(grep -rhsE '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
          /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -E 'debian/?($| )' | head -n 1 || true)
  case "$src" in
    URIs:*) mirror=$(echo "$src" | awk '{print $2}') ;;
    deb\ *) mirror=$(echo "$src" | awk '{for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}') ;;
  esac
  mirror=${LUDREX_DEBIAN_MIRROR:-${mirror%/}}
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  echo "deb $mirror bookworm-backports $component" > "$work/sources.list"
  apt_opts=(-o "Dir::Etc::sourcelist=$work/sources.list" -o Dir::Etc::sourceparts=-
            -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
            -o APT::Sandbox::User=root)
  echo "setup: fetching qemu-user from $mirror bookworm-backports"
  apt-get "${apt_opts[@]}" update -qq >"$work/log" 2>&1 \
    || { cat "$work/log"; cannot "the package index of $mirror bookworm-backports is not reachable"; }
  (cd "$work" && apt-get "${apt_opts[@]}" download qemu-user >>"$work/log" 2>&1) \
    || { cat "$work/log"; cannot "the qemu-user package of bookworm-backports is not reachable"; }
  rm -rf "$qemu_dir.new"
  mkdir -p "$qemu_dir.new"
  dpkg-deb -x "$work"/qemu-user_*.deb "$qemu_dir.new"
  "$qemu_dir.new/usr/bin/qemu-i386" --version >/dev/null 2>&1 || cannot "the unpacked qemu-i386 does not run"
  rm -rf "$qemu_dir"
  mv "$qemu_dir.new" "$qemu_dir"
fi

if [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || cannot "binfmt_misc cannot be mounted on $binfmt"
fi
[ -w "$binfmt/register" ] || cannot "$binfmt/register is not writable"

# Register idempotently: an entry of our name is replaced, never duplicated. Flags: O hands the
# emulator the opened file, P keeps argv[0], F opens the emulator now so it runs in any namespace.
if [ -e "$binfmt/$entry" ]; then echo -1 > "$binfmt/$entry"; fi
printf '%s' ":$entry:M::$magic:$mask:$qemu:OPF" > "$binfmt/register" \
  || cannot "the kernel refused the binfmt_misc entry"

wine32_runs || cannot "wine's 32-bit loader does not start under $qemu"
echo "setup: 32-bit Windows programs run (wine32 under $("$qemu" --version | head -n 1), binfmt_misc entry $entry)"
