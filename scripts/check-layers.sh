#!/usr/bin/env bash
# Fails when a source folder of the library includes from a folder above it.
# The layers, bottom first: util, network, memory, join, context; each may
# include from those below it and from include/.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(util network memory join context)
status=0
for ((i = 0; i < ${#layers[@]}; ++i)); do
  for ((j = i + 1; j < ${#layers[@]}; ++j)); do
    if grep -rn "#include \"${layers[j]}/" "${layers[i]}/"; then
      echo "${layers[i]}/ includes from ${layers[j]}/, a layer above it" >&2
      status=1
    fi
  done
done
exit $status
