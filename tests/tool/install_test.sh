#!/usr/bin/env bash
# Installs a build into a scratch prefix and uses it as a caller would: the
# C example built with pkg-config and with find_package, the tool and the
# Python module.  Nothing installed holds a run path, so programs outside
# the system's library directories need LD_LIBRARY_PATH.
# Usage: install_test.sh BUILD_DIR SCRATCH_DIR CMAKE C_COMPILER EXAMPLES_DIR
set -euo pipefail
build=$1 scratch=$2 cmake=$3 cc=$4 examples=$5
fail() { echo "install test: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch"
prefix=$scratch/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

pc=$(find "$prefix" -name en_validation.pc)
[ -n "$pc" ] || fail "no en_validation.pc"
libdir=$(dirname "$(dirname "$pc")")
for f in "$prefix/include/en_validation/En_Validation.h" "$prefix/include/en_validation/En_Msg.h" \
         "$prefix/bin/en-validate" "$prefix/share/man/man1/en-validate.1.gz" \
         "$libdir/cmake/En_Validation/En_ValidationConfig.cmake"; do
  [ -e "$f" ] || fail "missing $f"
done
for lib in En_Validation En_Utility HalvoAprWrapper En_MessageJson; do
  [ -f "$libdir/lib$lib.so.1.0.0" ] || fail "missing lib$lib.so.1.0.0"
  [ "$(readlink "$libdir/lib$lib.so.1")" = "lib$lib.so.1.0.0" ] || fail "lib$lib.so.1 is not a link to the library"
  # No header for the JSON message form's library, so no .so link.
  [ $lib = En_MessageJson ] && [ ! -e "$libdir/lib$lib.so" ] || [ "$(readlink "$libdir/lib$lib.so")" = "lib$lib.so.1" ] ||
    fail "lib$lib.so: not a link to lib$lib.so.1"
  ! readelf -d "$libdir/lib$lib.so.1.0.0" | grep -E 'RPATH|RUNPATH' || fail "lib$lib.so.1.0.0 holds a run path"
done
! readelf -d "$prefix/bin/en-validate" | grep -E 'RPATH|RUNPATH' || fail "en-validate holds a run path"

expected="performance metric log: 0 (conforms)
with MetricValue twice: 101 Node (ID: 2083, Name: MetricValue) is not allowed to exist in group 'Root' for more than once. "

# Outside the system's library directories the linker and the loader find
# the libraries that the libraries need through LD_LIBRARY_PATH.
export LD_LIBRARY_PATH=$libdir

# pkg-config
export PKG_CONFIG_PATH=$(dirname "$pc")
flags=$(pkg-config --cflags --libs en_validation)
"$cc" -std=c99 -Wall -Werror "$examples/c/validate.c" $flags -o "$scratch/validate-pc"
[ "$("$scratch/validate-pc")" = "$expected" ] || fail "pkg-config build: wrong output"

# find_package
"$cmake" -S "$examples/c" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" >/dev/null
"$cmake" --build "$scratch/consumer" >/dev/null
[ "$("$scratch/consumer/validate")" = "$expected" ] || fail "find_package build: wrong output"

# The installed tool, and the Python module finding the libraries by their SONAMEs.
out=$("$prefix/bin/en-validate" "$examples/valid/register.json")
[ "$out" = "$examples/valid/register.json: 0 (conforms)" ] || fail "installed tool: $out"
py() { env -u EN_VALIDATION_LIBDIR PYTHONPATH="$prefix/lib/python3/dist-packages" LC_ALL=C python3 -c "$@"; }
out=$(py 'import en_validation as ev; m = ev.Message(); m.append_uint32(11, 1502); print(ev.validate_log(m, 1502))')
[ "$out" = "Result(code=104, text='Unknown MsgType=1502.')" ] || fail "installed Python module: $out"
# Its JSON reader is the installed library: a verdict with its place, as the installed tool gives it.
file=$examples/faulty/status-bad-time.json
out=$(py 'import sys, en_validation as ev; r = ev.validate(ev.Message.from_json(open(sys.argv[1], "rb").read()))
print(f"{sys.argv[1]}: {r.code} {r.text} at {r.place}")' "$file")
# (The tool's place names FILE:LINE:COLUMN in the JSON text; the module's LINE:COLUMN.)
[ "$out" = "$("$prefix/bin/en-validate" "$file" | head -2 | tr -s '\n ' ' ' | sed 's/ *$//; s/ at [^ ]*:\([0-9]*:[0-9]*\), / at \1, /')" ] ||
  fail "installed Python module, JSON: $out"
# Without the libraries, the import says where to point it.
out=$(env LD_LIBRARY_PATH= EN_VALIDATION_LIBDIR="$scratch" PYTHONPATH="$prefix/lib/python3/dist-packages" \
  python3 -c 'import en_validation' 2>&1) && fail "imported without the libraries"
grep -q "ImportError: en_validation: cannot load libEn_Utility.so.1 .*EN_VALIDATION_LIBDIR" <<<"$out" || fail "import: $out"
echo "install test: passed ($prefix)"
