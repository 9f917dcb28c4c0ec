// Pipe channels: a command's standard output read as a file channel.
//
// A local command passes the sandbox (files/spawn_sandbox.h) and then runs
// as "/bin/sh -c command" in a child that inherits no descriptor of the
// server but a pipe for its output (its input is /dev/null). A command for
// another host passes the same check and runs there through the remote
// shell of the configuration. The channel's close waits for the child and
// keeps its wait status (adf_last_status), so no zombie is left.
#pragma once

#include <cstddef>
#include <functional>

// Opens a channel reading the output of `command` (mode "r" only). `host`
// null, empty or this machine's name runs it here. Returns the channel
// number, or a negative error: 27 refused by the sandbox or a host name
// that is not one, 20 / 27 / 29 / 31 when the program cannot be started,
// 26 a bad mode.
int adf_popen(unsigned group, const char* command, const char* mode, const char* host);

// Starts `command` as adf_popen would, with its standard output written
// to the descriptor `output`. Returns the child's pid, or a negative error
// when it is refused or cannot be started.
// REQUIRES: the caller waits for the child.
int adf_spawn_into(const char* command, const char* host, int output);

// Waits for the child `pid` while following the file open on `channel`
// (none: 0) that the child writes: `see` is shown every block of it as it
// comes, to the end, until it answers false. Recorded signals are acted
// on while it waits (Sigpend). Returns the child's wait status; *whole
// tells whether every byte was shown (no read failed, `see` never
// answered false).
int adf_follow(int pid, int channel, const std::function<bool(const char*, std::size_t)>& see, bool* whole);
