#!/usr/bin/env bash
# Source-based coverage of the fuzz targets over their corpora: builds the
# targets with clang's profile instrumentation (build dir build-fuzzcov),
# runs each target once over its grown corpus and its committed seeds
# (-runs=0: no mutation), merges the profiles and prints line and branch
# coverage per file of the client's parsers.
#
#   scripts/fuzz_coverage.sh [TARGET...]     (default: every target)
#
# The corpora are those of scripts/fuzz.sh:
# ${VNSMB1C_FUZZ_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/vnsmb1c-fuzz}/TARGET.
# The merged profile and the report go to build-fuzzcov/coverage/;
# VNSMB1C_COV_SHOW=1 also writes an annotated listing of the parser files
# (coverage/show.txt) to find the branches no input takes.
set -euo pipefail
cd "$(dirname "$0")/.."

targets_all=(url settings fake_tree fake_server ntlm_challenge ntlm_authenticate spnego
    negotiate session_setup tree_connect nt_create read_andx find_reply find_entries trans_join srvsvc client
    dos_status nbss_session legacy_logon)
if (($#)); then targets=("$@"); else targets=("${targets_all[@]}"); fi
root=${VNSMB1C_FUZZ_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/vnsmb1c-fuzz}

major=$(clang++ -dumpversion | cut -d. -f1)
profdata=$(command -v "llvm-profdata-$major" || command -v llvm-profdata)
cov=$(command -v "llvm-cov-$major" || command -v llvm-cov)

CC=clang CXX=clang++ cmake -S . -B build-fuzzcov -G Ninja -DVNSMB1C_FUZZ=ON -DVNSMB1C_FUZZ_COVERAGE=ON \
    -DVNSMB1C_WERROR=ON >/dev/null
cmake --build build-fuzzcov -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]/#/fuzz_}"

out=build-fuzzcov/coverage
rm -rf "$out"
mkdir -p "$out/raw"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
objects=()
for t in "${targets[@]}"; do
    dirs=("fuzz/corpus/$t")
    [ -d "$root/$t" ] && dirs=("$root/$t" "${dirs[@]}")
    echo "== fuzz_$t over ${dirs[*]}"
    LLVM_PROFILE_FILE="$out/raw/$t-%p.profraw" "build-fuzzcov/fuzz/fuzz_$t" -runs=0 "${dirs[@]}" \
        >"$out/$t.log" 2>&1 || echo "fuzz_$t exited $? (see $out/$t.log)"
    objects+=(-object "build-fuzzcov/fuzz/fuzz_$t")
done
"$profdata" merge -sparse "$out"/raw/*.profraw -o "$out/merged.profdata"

# The client's parsers and what they lean on.
files=(src/sess/*.cpp src/ntlm/*.cpp src/util/le_reader.h)
"$cov" report "${objects[@]:1}" -instr-profile="$out/merged.profdata" "${files[@]}" | tee "$out/report.txt"
if [ "${VNSMB1C_COV_SHOW:-0}" = 1 ]; then
    "$cov" show "${objects[@]:1}" -instr-profile="$out/merged.profdata" -show-branches=count \
        "${files[@]}" >"$out/show.txt"
    echo "annotated: $out/show.txt"
fi
