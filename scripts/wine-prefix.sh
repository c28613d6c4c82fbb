# Sourced by scripts/check.sh and scripts/check-packages.sh, inside the
# subshell that runs Windows programs. start_wine_prefix gives that subshell
# a fresh, silent, headless Wine prefix, removed when the subshell exits. Its
# server is started first and kept for the whole subshell, and the prefix
# booted once (a few seconds): the services Wine starts on first use would
# otherwise inherit, and hold open, the output pipes of the first program.
start_wine_prefix() {
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/velkrin-wine.XXXXXX")
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  trap 'wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot --init </dev/null >/dev/null 2>&1
}
