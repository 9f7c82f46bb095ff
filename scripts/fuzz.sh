#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (build dir build-fuzz) and runs one or
# all of them for a while:
#
#   scripts/fuzz.sh [TARGET|all] [SECONDS] [RUNS]   (default: all, 60 s per target)
#
# With RUNS, a target stops after that many executions or SECONDS, whichever
# comes first (a long run: scripts/fuzz.sh all 7200 10000000).
#
# Each target's corpus grows outside the repository, in
# ${VNSMB1C_FUZZ_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/vnsmb1c-fuzz}/TARGET, and
# is seeded from fuzz/corpus/TARGET; what a run finds (crash-*, leak-*,
# timeout-*, oom-*) and its log go to TARGET/findings/. Prints execs, exec/s,
# coverage and findings per target; exits non-zero when a target found a
# crash, leak, time-out or UB report.
set -euo pipefail
cd "$(dirname "$0")/.."

targets_all=(url settings fake_tree fake_server ntlm_challenge ntlm_authenticate spnego
    negotiate session_setup tree_connect nt_create read_andx find_reply find_entries trans_join srvsvc client
    gateway_request dos_status nbss_session legacy_logon nbns_reply rap path_info andx_chain)
which=${1:-all}
seconds=${2:-60}
runs=${3:-}
root=${VNSMB1C_FUZZ_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/vnsmb1c-fuzz}

if [ "$which" = all ]; then
    targets=("${targets_all[@]}")
elif [[ " ${targets_all[*]} " == *" $which "* ]]; then
    targets=("$which")
else
    echo "unknown target '$which'; one of: ${targets_all[*]} all" >&2
    exit 2
fi
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "SECONDS must be a positive whole number" >&2
    exit 2
fi
limit=()
if [ -n "$runs" ]; then
    if ! [[ "$runs" =~ ^[1-9][0-9]*$ ]]; then
        echo "RUNS must be a positive whole number" >&2
        exit 2
    fi
    limit=(-runs="$runs")
fi

# clang and the libFuzzer runtime of its version, when missing.
install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    echo "installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages and not root: ${missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
links_libfuzzer() {
    local dir
    dir=$(mktemp -d)
    printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' >"$dir/t.cpp"
    clang++ -fsanitize=fuzzer,address,undefined "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1
    local rc=$?
    rm -rf "$dir"
    return $rc
}
install_packages cmake ninja-build rapidjson-dev libboost-dev clang
if ! links_libfuzzer; then
    major=$(clang++ -dumpversion | cut -d. -f1)
    if apt-cache show "libclang-rt-$major-dev" >/dev/null 2>&1; then
        install_packages "libclang-rt-$major-dev"
    else
        install_packages libclang-rt-dev
    fi
    links_libfuzzer || { echo "clang cannot link libFuzzer" >&2; exit 1; }
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVNSMB1C_FUZZ=ON -DVNSMB1C_WERROR=ON >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]/#/fuzz_}"

# Leaks are findings; a UB report stops the run like a crash does.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# One target per core at a time; each writes its line of the summary to a
# file of its own, printed in the targets' order at the end.
parallel=${VNSMB1C_FUZZ_JOBS:-$(nproc 2>/dev/null || echo 2)}
lines=$(mktemp -d)
trap 'rm -rf "$lines"' EXIT
run_target() {
    local t=$1 corpus=$root/$1
    local findings=$corpus/findings
    mkdir -p "$corpus" "$findings"
    local log=$findings/last-run.log
    local dict=()
    [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
    echo "== fuzz_$t: ${seconds}s, corpus $corpus"
    local rc=0
    # The first folder takes what the run adds; the committed seeds are read only.
    "build-fuzz/fuzz/fuzz_$t" "${dict[@]}" -max_total_time="$seconds" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" "fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
    local execs rate last cov ft corp result artifact
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9a-zA-Z]*\).*/\1/p' <<<"$last")
    if [ $rc -eq 0 ]; then
        result="no findings"
    else
        artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
        result="FOUND (exit $rc) ${artifact:-see $log}"
        grep -E 'ERROR: |runtime error|invariant broken|SUMMARY' "$log" | head -5 || true
    fi
    printf '%-18s execs %-10s exec/s %-7s cov %-6s ft %-6s corpus %-12s %s\n' \
        "$t" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$result" >"$lines/$t"
    return $rc
}

status=0
running=0
for t in "${targets[@]}"; do
    if ((running >= parallel)); then
        wait -n || status=1
        running=$((running - 1))
    fi
    run_target "$t" &
    running=$((running + 1))
done
while ((running > 0)); do
    wait -n || status=1
    running=$((running - 1))
done

echo "== fuzz summary (${seconds}s per target)"
for t in "${targets[@]}"; do cat "$lines/$t"; done
exit $status
