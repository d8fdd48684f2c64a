# Makes the shared template prefix once (CTest fixture of the Wine tests).
source "$(dirname "$0")/lib.sh"
wine_env
make_template "$(realpath -m "$1")"
echo "template ready: $1/template"
