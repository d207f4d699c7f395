#!/bin/sh
# Writes what the web sign-in module leaves for its program to define, that
# is what it leaves undefined and the application's static libraries define:
# SCRIPT, a linker script that pulls those symbols out of the libraries, and
# LIST, the dynamic list that exports them. Each is rewritten only when it
# changes, since every program linking App relinks otherwise.
#   web-login-host-symbols.sh NM MODULE SCRIPT LIST ARCHIVE...
# sort and comm rather than CMake lists: a sanitizer build's libraries
# define some 150,000 symbols.
set -eu
nm=$1 module=$2 script=$3 list=$4
shift 4
export LC_ALL=C
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# nm's output goes to files first, so that a failing nm fails the script.
"$nm" -D --undefined-only "$module" >"$work/undefined"
"$nm" -g --defined-only "$@" >"$work/defined"
sed -n 's/^ *U \([^ ]*\)$/\1/p' "$work/undefined" | sort -u >"$work/wanted"
sed -n 's/^[0-9a-f]* [A-Z] \([^ ]*\)$/\1/p' "$work/defined" | sort -u >"$work/ours"
comm -12 "$work/wanted" "$work/ours" >"$work/symbols"

{
  echo "/* Generated from $module: what it takes from its program. */"
  sed 's/.*/EXTERN(&)/' "$work/symbols"
} >"$work/script"
{
  echo "{"
  sed 's/.*/  &;/' "$work/symbols"
  echo "};"
} >"$work/list"
cmp -s "$work/script" "$script" || cp "$work/script" "$script"
cmp -s "$work/list" "$list" || cp "$work/list" "$list"
