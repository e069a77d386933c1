#!/usr/bin/env bash
# Starts Vindle in the lab against simulated boxes. Filled in by the
# application work; until then it says so.
set -eu
build=${1:?build dir}
if [ ! -x "$build/app/vindle" ]; then
  echo "Vindle is built up to its foundation; the application arrives later."
  echo "Build tree: $build"
  exit 0
fi
