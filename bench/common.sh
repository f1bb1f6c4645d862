# Shared steps of the benchmark scripts; sourced from the project root.

# bench_build TARGET... : configures the Release build and builds the given targets.
bench_build() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build --target "$@" -j2 >/dev/null
}

# bench_corpus : builds the corpus when missing and prints its absolute path.
bench_corpus() {
  (cd "$(bench/make-corpus.sh)" && pwd)
}

# min A B : the smaller of two decimal numbers.
min() {
  awk -v a="$1" -v b="$2" 'BEGIN { print (b < a) ? b : a }'
}
