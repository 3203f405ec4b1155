# Wine for the Windows build's tests, sourced by scripts/test-windows.sh and the
# Windows end-to-end scripts. Sourcing sets the environment and defines functions;
# it makes no prefix by itself.
#
#   quorsel_wine_prefix_new      a private prefix in a fresh temporary directory,
#                                exported as WINEPREFIX, booted and set up
#   quorsel_wine_prefix_setup    the set-up alone, for a prefix already in WINEPREFIX
#   quorsel_wine_prefix_remove   stops the prefix's server and removes what
#                                quorsel_wine_prefix_new made

# Code page 932 for the ANSI interfaces (the ja_JP.UTF-8 locale must exist, or Wine
# passes command lines and environment as 7-bit ASCII), no debug output, and no
# downloads of Mono or Gecko.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

QUORSEL_WINE_OWN_DIR=""

quorsel_wine_prefix_setup() {
  wineboot -i >/dev/null 2>&1 || true
  # The dialog templates' font "ＭＳ Ｐゴシック" is drawn with IPAPGothic.
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v 'ＭＳ Ｐゴシック' \
    /t REG_SZ /d IPAPGothic /f >/dev/null 2>&1
  wineserver -w 2>/dev/null || true
}

quorsel_wine_prefix_new() {
  QUORSEL_WINE_OWN_DIR=$(mktemp -d)
  export WINEPREFIX=$QUORSEL_WINE_OWN_DIR/prefix
  quorsel_wine_prefix_setup
}

quorsel_wine_prefix_remove() {
  wineserver -k 2>/dev/null || true
  if [ -n "$QUORSEL_WINE_OWN_DIR" ]; then
    rm -rf "$QUORSEL_WINE_OWN_DIR"
    QUORSEL_WINE_OWN_DIR=""
  fi
}
