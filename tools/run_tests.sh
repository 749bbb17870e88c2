#!/usr/bin/env bash
# Installs what is missing, builds varno plain, sanitized, with the fuzzers and
# for Windows, and runs every test (the Windows ones under Wine). Exits non-zero
# on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${FUZZ_SECONDS:-20}
JOBS=${JOBS:-$(nproc)}

# install_missing [apt-get options --] PACKAGE...: installs the packages that
# are not installed yet.
install_missing() {
  local options=()
  if [ "${1:-}" != "${1#-}" ]; then
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    shift
  fi
  local need=()
  for pkg in "$@"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
  done
  [ ${#need[@]} -gt 0 ] || return 0
  echo "Installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${options[@]}" "${need[@]}"
}

install_missing cmake ninja-build g++ libgtest-dev libbenchmark-dev clang libclang-rt-14-dev mawk \
  mariadb-server libmariadb-dev chromium
# The package's checks: Debian's own tools.
install_missing dpkg-dev lintian man-db bash-completion systemd prometheus

echo "== tests' share of the code"
bash tools/test_share.sh

# One private MariaDB server for the whole run (the database feed's tests),
# stopped by its PID however the run ends.
db_dir=$(mktemp -d "${TMPDIR:-/tmp}/varno-db.XXXXXX")
stop_db() { bash tools/mariadb_private.sh stop "$db_dir" >/dev/null || true; rm -rf "$db_dir"; }
trap stop_db EXIT
trap "exit 130" INT TERM
echo "== private MariaDB server"
bash tools/mariadb_private.sh start "$db_dir"
set -a
# shellcheck disable=SC1091
. "$db_dir/env"
set +a

echo "== release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNO_WERROR=ON >/dev/null
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS"

echo "== soak test, short form (simulated gateway days, scheduled runs, kills)"
python3 tests/soak/soak.py --build build --days 2 --seeds 1,2,3

echo "== Debian package"
JOBS=$JOBS bash tools/check_package.sh build

echo "== sanitized build (AddressSanitizer + UBSan)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNO_SANITIZE=ON -DVARNO_WERROR=ON -DVARNO_BENCH=OFF >/dev/null
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$JOBS"

echo "== fuzz targets (${FUZZ_SECONDS}s each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNO_FUZZ=ON -DVARNO_WERROR=ON -DVARNO_TESTS=OFF -DVARNO_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$JOBS"
shopt -s nullglob
for fuzzer in build-fuzz/bin/*_fuzz; do
  name=$(basename "$fuzzer")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  # A target's seed inputs, when it has any, are read besides its corpus.
  seeds=()
  [ -d "tests/fuzz/seeds/$name" ] && seeds=("tests/fuzz/seeds/$name")
  echo "-- $name"
  "$fuzzer" -max_total_time="$FUZZ_SECONDS" -max_len=65536 -rss_limit_mb=2048 \
    -artifact_prefix="build-fuzz/" "$corpus" "${seeds[@]}" 2>"build-fuzz/$name.log" \
    || { tail -n 40 "build-fuzz/$name.log"; exit 1; }
  tail -n 1 "build-fuzz/$name.log"
done

echo "== Windows build (MinGW-w64), tests under Wine"
win_start=$SECONDS
install_missing --no-install-recommends -- g++-mingw-w64-x86-64 wine64
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DVARNO_WERROR=ON >/dev/null
cmake --build build-win -j "$JOBS"
# One Wine server for the whole session, stopped however the run ends.
stop_wine() { build-win/wine-run.sh --server-stop >/dev/null 2>&1 || true; }
trap 'stop_wine; stop_db' EXIT
build-win/wine-run.sh --server-start
echo "-- varno.exe --help prints what varno --help prints"
diff <(build/bin/varno --help) <(build-win/wine-run.sh build-win/bin/varno.exe --help)
ctest --test-dir build-win --output-on-failure -j 2
stop_wine
trap stop_db EXIT
echo "-- Windows part: $((SECONDS - win_start)) s"
echo "All tests passed."
