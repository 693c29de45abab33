# Sourced by the scripts: which Windows builds this machine can run.
#
# Some kernels cannot execute 32-bit programs (no IA-32 emulation): there the 32-bit Wine loader
# fails with "Exec format error" and nothing of the x86 build can run, while the x64 build runs
# on 64-bit Wine everywhere. CORVANE_NO_WIN32=1 forces the answer "cannot" on any machine.
# Expects $root (the repository) to be set.

# Succeeds when CORVANE_NO_WIN32 asks to leave the x86 build's programs alone.
corvane_no_win32() {
  case "${CORVANE_NO_WIN32:-}" in ""|0) return 1 ;; *) return 0 ;; esac
}

# Succeeds when CORVANE_WIN32_EMULATED asks for the x86 build's tests in the emulated machine even
# where this machine could run them itself (to try that path anywhere).
corvane_win32_emulated() {
  case "${CORVANE_WIN32_EMULATED:-}" in ""|0) return 1 ;; *) return 0 ;; esac
}

# Succeeds when the kernel starts the 32-bit Wine loader: a quick look before anything is built.
# corvane_can_run_win32 is the real check.
corvane_kernel_runs_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Succeeds when the x86 build's probe program runs under Wine and reports 32 bits.
corvane_can_run_win32() {
  corvane_no_win32 && return 1
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

# Prints, one a line, the URIs of the Debian archives the machine's own apt sources name for
# binary packages of SUITE (every suite when none is given), security archives left out: the
# project's scripts fetch from them and name no host of their own. Reads the deb822 .sources files
# and the one-line lists (whose options in brackets are skipped); disabled entries are ignored.
corvane_debian_uris() {
  local suite="${1:-}"
  {
    awk -v s="$suite" '
      function flush() { if (t ~ /(^| )deb( |$)/ && en != "no" && (s == "" || (" " su " ") ~ (" " s " ")))
                           { n = split(u, a, " "); for (i = 1; i <= n; i++) print a[i] }
                         t = u = su = ""; en = "" }
      FNR == 1 { flush() }
      /^[[:space:]]*$/ { flush(); next }
      /^[[:space:]]*#/ { next }
      /^Types:/   { t = $0; sub(/^Types:[[:space:]]*/, "", t) }
      /^URIs:/    { u = $0; sub(/^URIs:[[:space:]]*/, "", u) }
      /^Suites:/  { su = $0; sub(/^Suites:[[:space:]]*/, "", su) }
      /^Enabled:/ { en = $2 }
      END { flush() }' /etc/apt/sources.list.d/*.sources 2>/dev/null
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null \
      | sed -nE 's/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?//p' \
      | awk -v s="$suite" 's == "" || $2 == s { print $1 }'
  } | grep -v -- '-security' | awk 'NF && !seen[$0]++' || true
}

# The first archive of corvane_debian_uris SUITE; fails when there is none.
corvane_debian_mirror() {
  local uri
  uri="$(corvane_debian_uris "$1" | head -n 1)"
  [ -n "$uri" ] && echo "$uri"
}
