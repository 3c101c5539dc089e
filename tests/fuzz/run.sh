#!/bin/sh
# Builds the settings-reader fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it on the seed corpus.
#   tests/fuzz/run.sh [SECONDS] [extra libFuzzer options]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${FUZZ_OUT:-$root/build-fuzz}
seconds=${1:-60}
[ $# -gt 0 ] && shift
mkdir -p "$out/corpus"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" \
  "$here/settings_fuzz.cpp" \
  "$root/model/map_settings.cpp" "$root/model/map_trials.cpp" "$root/model/map_state.cpp" \
  "$root/model/map_results.cpp" "$root/model/trial.cpp" \
  "$root/foundation/standard.cpp" "$root/foundation/texture.cpp" "$root/foundation/vector.cpp" \
  -lGL -lGLU -o "$out/settings_fuzz"
# New inputs go to the scratch corpus; the checked-in seeds stay as they are.
"$out/settings_fuzz" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 \
  -dict="$here/settings.dict" "$@" "$out/corpus" "$here/corpus" "$root/tests/check/corpus"
