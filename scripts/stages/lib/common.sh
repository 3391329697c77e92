# Shared by the hardening stages: sourced, not run.
jobs=$(nproc 2>/dev/null || echo 2)

section() { echo "-- $*"; }

# fail WHAT LOG: prints the end of the log and stops the stage.
fail() {
  echo "!! $1 failed; end of $2:" >&2
  tail -n 60 "$2" >&2
  exit 1
}

# configure DIR ARGS...: a build of this source tree in DIR.
configure() {
  local dir=$1
  shift
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DEN_BUILD_BENCHMARKS=OFF "$@" >"$dir/configure.log" 2>&1 || fail "configuring $dir" "$dir/configure.log"
}

# build DIR [TARGET...]
build() {
  local dir=$1
  shift
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  cmake --build "$dir" -j"$jobs" "${targets[@]}" >"$dir/build.log" 2>&1 || fail "building $dir" "$dir/build.log"
}

# run_ctest DIR CTEST-ARGS...: all output to DIR/ctest.log, the summary here.
run_ctest() {
  local dir=$1
  shift
  if ! ctest --test-dir "$dir" -j"$jobs" --output-on-failure "$@" >"$dir/ctest.log" 2>&1; then
    fail "ctest in $dir" "$dir/ctest.log"
  fi
  grep -E "tests passed|Total Test time" "$dir/ctest.log" | sed 's/^/   /'
}
