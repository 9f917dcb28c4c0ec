#!/usr/bin/env bash
# The main job as far as it is built: load the shipped message file and
# show how errors read on the wire.
set -euo pipefail
build=${1:-build}
"$build/tools/vlxmsg" 20 27 31 164 170
