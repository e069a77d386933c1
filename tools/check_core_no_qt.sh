#!/usr/bin/env bash
# Fails when a core folder (platform, net, discovery, config, tftp) or the command-line
# tool (cli) includes a Qt header.
# config/dialogs/ is GUI code and is exempt.
set -u
root=${1:-.}
cd "$root" || exit 2
hits=$(grep -rnE '^\s*#\s*include\s*[<"]Q[A-Za-z]*' platform net discovery config tftp cli 2>/dev/null | grep -v '^config/dialogs/')
if [ -n "$hits" ]; then
  echo "core folders must not include Qt headers:"
  echo "$hits"
  exit 1
fi
echo "core folders include no Qt header"
