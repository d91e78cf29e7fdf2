# Sourced by the tests/fuzz/run-* scripts: builds fuzz targets with clang in a build folder of their own and
# runs one for a bounded time from a seed corpus, failing on any finding.
fuzz_top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
fuzz_build="${MAKETOR_FUZZ_BUILD:-$fuzz_top/build/fuzz}"

# fuzz_build_targets TARGET...
fuzz_build_targets() {
  cmake -S "$fuzz_top" -B "$fuzz_build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  local target
  for target in "$@"; do cmake --build "$fuzz_build" --target "$target" -j2 >/dev/null; done
}

# fuzz_corpus NAME: prints a fresh, empty corpus folder for NAME (its findings folder is emptied too).
fuzz_corpus() {
  rm -rf "$fuzz_build/$1-corpus" "$fuzz_build/$1-findings"
  mkdir -p "$fuzz_build/$1-corpus" "$fuzz_build/$1-findings"
  echo "$fuzz_build/$1-corpus"
}

# fuzz_run NAME TARGET SECONDS MAX_LEN [REGRESSION_FOLDER]: runs the kept regression inputs first, when
# there are any, then fuzzes from the corpus of NAME for SECONDS.
fuzz_run() {
  local name=$1 target=$2 seconds=$3 max_len=$4 regressions=${5:-}
  local binary="$fuzz_build/tests/fuzz/$target" findings="$fuzz_build/$name-findings" log="$fuzz_build/$name-fuzz.log"
  if [ -n "$regressions" ] && [ -n "$(ls -A "$regressions" 2>/dev/null)" ]; then
    "$binary" -rss_limit_mb=2048 "$regressions"/* >"$log" 2>&1 || {
      tail -n 60 "$log"
      echo "$target: a kept regression input fails again" >&2
      return 1
    }
  fi
  echo "fuzzing $name for ${seconds}s"
  "$binary" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=2048 -artifact_prefix="$findings/" \
    -print_final_stats=1 "$fuzz_build/$name-corpus" 2>"$log" || {
    tail -n 60 "$log"
    echo "$target: the fuzzer found a fault; inputs are in $findings" >&2
    return 1
  }
  grep -E "^stat::number_of_executed_units|^#[0-9]+ +DONE" "$log" || true
}
