#!/usr/bin/env bash
# Prints the tests' share of the code: non-blank lines of C/C++ sources,
# headers, Python and shell scripts tracked under tests/ against those under
# src/ and tools/. Fails when the share is above the limit (default 33 %).
#
#   tools/test_share.sh [LIMIT_PERCENT]
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${1:-33}

lines_of() {
  git ls-files -z -- "$@" | grep -zE '\.(c|cc|cpp|cxx|h|hh|hpp|py|sh)$' | xargs -0 -r cat |
    grep -cv '^[[:space:]]*$' || true
}

tests=$(lines_of tests)
code=$(lines_of src tools)
share=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.1f", c ? 100 * t / c : 0 }')
echo "tests: $tests non-blank lines; src + tools: $code; share $share % (limit $limit %)"
awk -v t="$tests" -v c="$code" -v l="$limit" 'BEGIN { exit !(100 * t <= l * c) }' ||
  { echo "tests are above $limit % of the code" >&2; exit 1; }
