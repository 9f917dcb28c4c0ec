#include "files/vlxpopen.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/faults.h"
#include "base/sigpend.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "files/cfgfil.h"
#include "files/spawn_sandbox.h"
#include "files/vlxfile.h"

using namespace vlx;

namespace {

int sys_error(int err, const char* what) {
  int e = set_vstat1(err);
  return err_vlx(static_cast<short>(-e), "%s", what);
}

bool is_local(const char* host) {
  if (host == nullptr || host[0] == '\0') return true;
  char own[256] = "";
  return ::gethostname(own, sizeof own - 1) == 0 && std::strcmp(own, host) == 0;
}

// A name the remote shell takes as a host and never as an option.
bool valid_host(const char* host) {
  std::size_t length = std::strlen(host);
  return length < 256 && host[0] != '-' &&
         std::strspn(host, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_") == length;
}

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
    std::size_t end = text.find_first_of(" \t", at);
    out.push_back(text.substr(at, end - at));
    at = end;
  }
  return out;
}

// Moves a descriptor above the standard three, so that the child's dup2
// onto 0 and 1 always makes a fresh, inheritable copy.
int above_standard(int fd) {
  if (fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

void close_quietly(int fd) {
  if (fd >= 0) ::close(fd);
}

// The children's standard input. Opened once: a path lookup and a close
// less on every command, which is most of what an open of a quick command
// costs beside the command itself.
int null_input() {
  static int input = -1;
  if (input < 0) input = above_standard(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  return input;
}

// The child's start, shared by every spawn: its standard input and output
// are `input` and `output`, every other descriptor of the server is closed,
// and SIGPIPE, which the server ignores, is back to its default.
struct SpawnSetup {
  int input, output;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup(int in, int out) : input(in), output(out) {
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// Making a setup checks each descriptor with a system call, and open after
// open a server spawns with the same two: it is made again only when they
// change.
const SpawnSetup& spawn_setup(int input, int output) {
  static std::unique_ptr<SpawnSetup> setup;
  if (setup == nullptr || setup->input != input || setup->output != output)
    setup = std::make_unique<SpawnSetup>(input, output);
  return *setup;
}

// Starts `command` (after the sandbox; here or on `host`) with its standard
// output on `output` and its input on /dev/null. Returns the child's pid,
// or a negative error when it is refused or cannot be started.
int spawn_command(const char* command, const char* host, int output) {
  int st = sandbox_check(command);
  if (st < 0) return st;
  bool local = is_local(host);
  std::vector<std::string> args;
  if (local) {
    args = {"/bin/sh", "-c", command};
  } else {
    if (!valid_host(host)) {
      log::trace(log::security, "Sandbox management - Host %s rejected", host);
      bsys_write_fmt("Sandbox management - Host %s rejected : %s", host, command);
      return err_vlx(kErrAccess, "%s@%s", host, command);
    }
    args = words(Remote_shell);
    if (args.empty()) return err_vlx(kErrInternal, "adf_popen remote shell");
    args.push_back(host);
    args.push_back(command);
  }
  log::trace(log::system, "adf_popen %s%s%s", local ? "" : host, local ? "" : "@", command);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int input = null_input();
  // Only a standard descriptor needs moving: the child's dup2 onto 1 must
  // make a fresh, inheritable copy.
  int moved = output <= 2 ? ::fcntl(output, F_DUPFD_CLOEXEC, 3) : -1;
  if (input < 0 || (output <= 2 && moved < 0)) return sys_error(errno, command);
  if (moved >= 0) output = moved;
  // The child shares the server's memory until its exec (no copy of the
  // page tables, which is most of the cost of a fork), and an exec
  // failure comes back as the spawn's own result.
  pid_t pid = -1;
  int err;
  if (fault::hit(fault::spawn)) {
    err = EAGAIN;
  } else {
    const SpawnSetup& setup = spawn_setup(input, output);
    err = local ? ::posix_spawn(&pid, argv[0], &setup.actions, &setup.attributes, argv.data(), environ)
                : ::posix_spawnp(&pid, argv[0], &setup.actions, &setup.attributes, argv.data(), environ);
  }
  close_quietly(moved);
  if (err != 0) {
    log::trace(log::system, "adf_popen cannot start %s (%d)", args[0].c_str(), err);
    return sys_error(err, args[0].c_str());
  }
  return pid;
}

}  // namespace

int adf_popen(unsigned group, const char* command, const char* mode, const char* host) {
  if (mode == nullptr || std::strcmp(mode, "r") != 0) return err_vlx(kErrInternal, "adf_popen mode %s", mode ? mode : "");
  int data[2];
  if (::pipe2(data, O_CLOEXEC) < 0) return sys_error(errno, command);
  data[0] = above_standard(data[0]);
  int pid = spawn_command(command, host, data[1]);
  ::close(data[1]);
  if (pid < 0) {
    close_quietly(data[0]);
    return pid;
  }
  int channel = adf_attach(group, data[0], pid, "r", command);
  if (channel < 0) {
    ::close(data[0]);
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  return channel;
}

int adf_spawn_into(const char* command, const char* host, int output) {
  return spawn_command(command, host, output);
}

int adf_follow(int pid, int channel, const std::function<bool(const char*, std::size_t)>& see, bool* whole) {
  static char block[1 << 18];
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  int status = -1;
  bool reading = channel > 0;
  *whole = reading;
  // A file says nothing when it grows, so the wait for more is a timeout:
  // it doubles while nothing comes, up to a limit, so that a quiet command
  // does not wake the server a thousand times a second. The command's end
  // wakes it at once, and so does a signal.
  constexpr int kLongestWait = 64;  // ms
  int wait = 1;
  for (bool exited = false;;) {
    // A signal recorded while the command runs is acted on at once.
    if (Sigpend != nullptr) Sigpend();
    int n = reading ? adf_take(channel, block, sizeof block) : 0;
    if (n > 0) {
      reading = see(block, static_cast<std::size_t>(n));
      *whole = reading;
      wait = 1;
      continue;
    }
    if (n < 0) {
      reading = *whole = false;
      continue;
    }
    if (exited) break;
    // At the end of what is written: wait for more, or for the end.
    pollfd p{pidfd, POLLIN, 0};
    if (pidfd >= 0) ::poll(&p, 1, wait);
    wait = std::min(2 * wait, kLongestWait);
    int r = ::waitpid(pid, &status, pidfd >= 0 ? WNOHANG : 0);
    exited = r == pid || (r < 0 && errno != EINTR);
  }
  if (pidfd >= 0) ::close(pidfd);
  return status;
}
