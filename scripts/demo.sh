#!/usr/bin/env bash
# The main job on the shipped defaults: vlxq starts vlxsys as its parent
# process, the server runs a command that the shipped sandbox allows,
# spools its output and filters it before sending the records back.
set -euo pipefail
build=${1:-build}
vlxq="$build/client/vlxq"

echo "\$ vlxq -n 4 --where '\$3 > 1000 and \$4 <> \"COMMAND\"' --select 4,2,3 'ps -eo user,pid,rss,comm'"
"$vlxq" -n 4 --where '$3 > 1000 and $4 <> "COMMAND"' --select 4,2,3 'ps -eo user,pid,rss,comm'

echo
echo "\$ vlxq -n 4 --last --tsv --where 'not \$1 = \"USER\"' 'ps -eo user,pid,rss,comm'"
"$vlxq" -n 4 --last --tsv --where 'not $1 = "USER"' 'ps -eo user,pid,rss,comm'

echo
echo "\$ vlxq id        # not allowed by the sandbox"
"$vlxq" id || echo "(exit status $?)"
