# Runs a test executable under Wine in a fresh copy of the template prefix.
source "$(dirname "$0")/lib.sh"
work=$(realpath -m "$1"); exe=$2; shift 2
wine_env
export WINEDEBUG=-all
make_template "$work"
name=$(basename "$exe" .exe)
export WINEPREFIX=$work/run_$name
rm -rf "$WINEPREFIX"
cp -a "$work/template" "$WINEPREFIX"
set +e
wine "$exe" "$@"
rc=$?
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
[ "$rc" = 0 ] && rm -rf "$WINEPREFIX"
exit $rc
