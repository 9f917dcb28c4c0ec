#!/usr/bin/env bash
# The main job on the shipped defaults: vlxq starts vlxsys as its parent
# process, compiles a 4GL filter with the engine's compiler, the server
# runs a command that the shipped sandbox allows, spools its output and
# filters it before sending the records back.
set -euo pipefail
build=${1:-build}
vlxq="$build/client/vlxq"
ps='ps -eo user,pid,rss,comm'

# Prints the command line as typed, then runs it.
show() {
  echo "\$ vlxq $1"
  eval "\"\$vlxq\" $1" 2>&1 || echo "(exit status $?)"
  echo
}

show "--header --where 'left\$(COMMAND, 3) = \"vlx\" or val(RSS) > 50000' --select COMMAND,PID,RSS '$ps'"
show "--header --json --where 'val(pid) < 3 or COMMAND = \"vlxsys\"' --select PID,COMMAND,RSS '$ps'"
show "--header --csv --last --where '@USER ne \"nobody\"' '$ps'"
show "--header --where 'val(RSS) > 1000 and' '$ps'"
show "--header --where 'VSZ > 1000' '$ps'"
show "id"
