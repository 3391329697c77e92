#!/usr/bin/env bash
# Allocation failure injection, both word sizes: for every n the n-th
# allocation of a validation fails (alone, and with every later one), for
# the first validation of every kind (grammar construction included) and
# for validations with built grammars.  See tests/hardening/alloc_failure_test.cpp.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/stages/lib/common.sh

mkdir -p build-alloc
for arch in x86_64 i386; do
  start=$SECONDS
  case $arch in
    x86_64) program=(build/bin/en_alloc_failure_test) ;;
    i386) program=(qemu-i386 build-i386/bin/en_alloc_failure_test) ;;
  esac
  section "allocation failures, $arch"
  "${program[@]}" >build-alloc/$arch.log 2>&1 || fail "allocation failure sweep ($arch)" build-alloc/$arch.log
  grep -E "^\[  PASSED  \]" build-alloc/$arch.log | sed 's/^/   /'
  grep -E "^swept " build-alloc/$arch.log | sed 's/^/   /' || true
  echo "   $((SECONDS - start))s"
done
