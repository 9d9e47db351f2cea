#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine: ctest's emulator for the cross-built tests, and a way to
# start quavlo.exe or quavlo-cli.exe by hand. Uses $WINEPREFIX when set (scripts/test.sh makes a temporary one),
# else a prefix of its own under the temporary directory; Wine's own messages are off unless WINEDEBUG says more.
set -euo pipefail
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/quavlo-wine-$(id -u)}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine reads Unix file names in the locale's character set: without any locale, UTF-8, so names in every script work.
[ -n "${LC_ALL:-}${LC_CTYPE:-}${LANG:-}" ] || export LANG=C.UTF-8
exec wine "$@"
