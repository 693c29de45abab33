# Sourced by the scripts: which Windows builds this machine can run.
#
# Some kernels cannot execute 32-bit programs (no IA-32 emulation): there the 32-bit Wine loader
# fails with "Exec format error" and nothing of the x86 build can run, while the x64 build runs
# on 64-bit Wine everywhere. CORVANE_NO_WIN32=1 forces the answer "cannot" on any machine.
# Expects $root (the repository) to be set.

# Succeeds when the x86 build's probe program runs under Wine and reports 32 bits.
corvane_can_run_win32() {
  case "${CORVANE_NO_WIN32:-}" in ""|0) ;; *) return 1 ;; esac
  local probe="$root/build/win32/tests/arch_probe.exe" out
  [ -f "$probe" ] || return 1
  # Making the x86 prefix on first use is part of the probe: it is needed for the suite anyway.
  out=$(cd "$root/build/win32/tests" && CORVANE_BUILD_DIR="$root/build/win32" \
        timeout 300 "$root/cmake/wine-run.sh" ./arch_probe.exe </dev/null 2>/dev/null | tr -d '\r') || return 1
  [ "$out" = "corvane-arch-probe 32" ]
}

# Prints the Windows build to run programs of: win32 where the machine can, else win64.
corvane_runnable_build() {
  if corvane_can_run_win32; then echo win32; else echo win64; fi
}
