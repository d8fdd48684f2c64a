#!/usr/bin/env bash
# The monitoring folder against Prometheus' own tool: the alert rules load
# and pass their unit tests, promtool's lint finds nothing in the metrics
# file the product's writer makes, the collector parser reads every family,
# and the dashboard is JSON whose queries parse.
# Usage: check_monitoring.sh METRICS_SAMPLE_EXE MONITORING_DIR WORK_DIR
set -euo pipefail
sample_exe=$1 monitoring=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
command -v promtool >/dev/null || { echo "promtool missing (Debian's prometheus; scripts/install-deps)" >&2; exit 1; }
prom_py=$(for py in python3 /usr/bin/python3; do
  "$py" -c 'import prometheus_client' 2>/dev/null && { echo "$py"; break; }
done || true)
[ -n "$prom_py" ] || { echo "prometheus_client missing (python3-prometheus-client; scripts/install-deps)" >&2; exit 1; }
mkdir -p "$work"

promtool check rules "$monitoring/qov_alerts.yml"
(cd "$monitoring" && promtool test rules qov_alerts_test.yml)

rm -f "$work/qov.prom"
"$sample_exe" "$work/qov.prom"
# Lint problems are printed and make promtool exit non-zero.
promtool check metrics <"$work/qov.prom"
"$prom_py" "$here/../wine/check_metrics.py" "$work/qov.prom" >/dev/null

python3 -m json.tool "$monitoring/qov_dashboard.json" >/dev/null
# Each panel query as a recording rule, with the dashboard's variables filled in.
python3 - "$monitoring/qov_dashboard.json" >"$work/dashboard_queries.yml" <<'PY'
import json, sys
exprs = [t["expr"] for p in json.load(open(sys.argv[1]))["panels"] for t in p.get("targets", [])]
print("groups:\n  - name: dashboard\n    rules:")
for i, e in enumerate(exprs):
    e = e.replace("$instance", ".*").replace("$__rate_interval", "5m")
    print(f"      - record: dashboard_query_{i}\n        expr: {json.dumps(e)}")
PY
promtool check rules "$work/dashboard_queries.yml"
echo "monitoring checks ok"
