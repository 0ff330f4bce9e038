#!/usr/bin/env bash
# Checks the metrics endpoint with Prometheus's own tools, on loopback only:
#  1. promtool: the example configuration, the alerting rules and their unit tests (docs/);
#  2. promtool check metrics on a real scrape of korvoctl watch on the simulated board;
#  3. Debian's prometheus scraping korvoctl watch playing docs/scenario-ac-pull.txt with
#     simulated faults, then its HTTP API: korvo_up is 1, ACDET fell and rose at the scenario's
#     times (within a scrape interval), the failure counters equal korvoctl's --stats, and the
#     thermal shutdown alert fired.
# Usage: scripts/metrics-check.sh [BUILD_DIR]   (default build/release; korvoctl is built there)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DKORVO_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target korvoctl >/dev/null
korvoctl=$root/$build/korvoctl

echo "== promtool: configuration, rules, rule tests"
(cd docs && promtool check config prometheus.yml && promtool check rules korvo-alerts.yml &&
  promtool test rules korvo-alerts-test.yml)

tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
# Polls until the command succeeds, at most $1 times 0.2 s.
poll() {
  local n=$1; shift
  for _ in $(seq "$n"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done
  return 1
}

echo "== promtool check metrics on a real scrape"
port=$(free_port)
: >"$tmp/empty.ini"
KORVO_ADAPTER=sim "$korvoctl" --ini "$tmp/empty.ini" --metrics "$port" watch --period 100 \
  >/dev/null 2>"$tmp/scrape.err" &
pids+=($!)
poll 100 curl -sf "http://127.0.0.1:$port/metrics" -o /dev/null || { cat "$tmp/scrape.err"; exit 1; }
sleep 0.5  # a few ticks, so every family has samples
curl -sf "http://127.0.0.1:$port/metrics" >"$tmp/scrape.txt"
promtool check metrics <"$tmp/scrape.txt"
grep -q '^korvo_register_value{register="0x15"} 16800$' "$tmp/scrape.txt"
echo "  SUCCESS: $(grep -c '^korvo_' "$tmp/scrape.txt") korvo samples, $(wc -c <"$tmp/scrape.txt") bytes"
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true; unset 'pids[-1]'

command -v prometheus >/dev/null || { echo "prometheus not installed: end-to-end part skipped"; exit 0; }
echo "== prometheus against korvoctl watch on the AC-pull scenario"
kport=$(free_port)
pport=$(free_port)
interval=1
cat >"$tmp/korvo.ini" <<INI
[Settings]
ReadRetryCount=2
[Simulator]
Scenario=$root/docs/scenario-ac-pull.txt
FailRate=0.03
FailSeed=7
FailScope=Reads
INI
# The example configuration with this one bench and a one-second interval.
sed -e "s/scrape_interval: .*/scrape_interval: ${interval}s/" \
    -e "s/scrape_timeout: .*/scrape_timeout: 900ms/" \
    -e "s/evaluation_interval: .*/evaluation_interval: ${interval}s/" \
    -e "s#- korvo-alerts.yml#- $root/docs/korvo-alerts.yml#" \
    -e '/static_configs:/,$d' docs/prometheus.yml >"$tmp/prometheus.yml"
cat >>"$tmp/prometheus.yml" <<YML
    static_configs:
      - targets: ["127.0.0.1:$kport"]
        labels: {bench: "ci"}
YML
promtool check config "$tmp/prometheus.yml" >/dev/null
prometheus --config.file="$tmp/prometheus.yml" --storage.tsdb.path="$tmp/tsdb" \
  --web.listen-address="127.0.0.1:$pport" --log.level=warn 2>"$tmp/prometheus.log" &
pids+=($!)
api=http://127.0.0.1:$pport/api/v1
poll 150 curl -sf "http://127.0.0.1:$pport/-/ready"

# The watch runs 32 s (the scenario ends at 27 s); then burn's question holds korvoctl, serving
# its final counters, until it is answered "no": nothing is written.
mkfifo "$tmp/answer"
start=$(date +%s.%N)
KORVO_ADAPTER=sim "$korvoctl" --ini "$tmp/korvo.ini" --metrics "$kport" --stats \
  watch --period 200 --duration 32 burn <"$tmp/answer" >/dev/null 2>"$tmp/watch.err" &
kpid=$!
pids+=($kpid)
exec 4>"$tmp/answer"
poll 250 grep -q 'Continue?' "$tmp/watch.err" || { cat "$tmp/watch.err"; exit 1; }
sleep $((3 * interval))  # three more scrapes of the final counters
end=$(date +%s.%N)
echo n >&4
exec 4>&-
wait "$kpid" || true

query() { curl -sf --get "$api/query" --data-urlencode "query=$1" --data-urlencode "time=$end"; }
curl -sf --get "$api/query_range" --data-urlencode 'query=korvo_status_bit{bit="ACDET"}' \
  --data-urlencode "start=$start" --data-urlencode "end=$end" --data-urlencode "step=0.25" \
  >"$tmp/acdet.json"
query 'korvo_up' >"$tmp/up.json"
query 'korvo_transaction_failures_total > 0' >"$tmp/failures.json"
query 'max_over_time(ALERTS{alertname="KorvoThermalShutdown",alertstate="firing"}[2m])' \
  >"$tmp/alert.json"

python3 - "$tmp" "$start" "$interval" <<'PY'
import json, re, sys
tmp, start, interval = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
def result(name):
    return json.load(open(f"{tmp}/{name}.json"))["data"]["result"]
bad = []
up = result("up")
if not up or up[0]["value"][1] != "1":
    bad.append(f"korvo_up is not 1: {up}")
# ACDET: 1, then 0 from about 5 s, then 1 from about 10 s after the adapter opened.
values = [(float(t) - start, v) for t, v in result("acdet")[0]["values"]]
fell = next((t for t, v in values if v == "0"), None)
rose = next((t for t, v in values if fell is not None and t > fell and v == "1"), None)
slack = interval + 2.0  # a scrape interval, and korvoctl's start before the adapter opens
for what, got, want in (("fell", fell, 5.0), ("rose", rose, 10.0)):
    if got is None or not (want - 0.25 <= got <= want + slack):
        bad.append(f"ACDET {what} at {got} s, expected {want} s (+{slack} s)")
# Between the two, the scenario's 5 s, within a scrape interval.
if fell is not None and rose is not None and abs(rose - fell - 5.0) > interval + 0.25:
    bad.append(f"ACDET was down {rose - fell:.2f} s, expected 5 s (±{interval} s)")
# Every failure korvoctl's statistics counted, by status, and nothing else.
stats = {}
for line in open(f"{tmp}/watch.err"):
    m = re.match(r"\s+(VB_\w+|Unknown Error): (\d+) \(", line)
    if m:
        stats[m.group(1)] = int(m.group(2))
served = {r["metric"]["status"]: int(float(r["value"][1])) for r in result("failures")}
if not stats or served != stats:
    bad.append(f"failures served {served}, --stats counted {stats}")
alert = result("alert")
if not alert or alert[0]["value"][1] != "1":
    bad.append("KorvoThermalShutdown did not fire")
for b in bad:
    print("  FAILED:", b)
if bad:
    sys.exit(1)
print(f"  SUCCESS: korvo_up 1, ACDET fell at {fell:.2f} s and rose at {rose:.2f} s, "
      f"failures {served} as --stats, KorvoThermalShutdown fired")
PY
