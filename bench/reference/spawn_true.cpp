// The reference of the open latency of `true`: what it takes the machine to
// start `/bin/sh -c true` and reap it, from a process that holds nothing
// else. Spawns it N times, one after the other, and prints the seconds.
//
//   ref_spawn_true N
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

extern char** environ;

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 300;
  char sh[] = "/bin/sh", dash_c[] = "-c", command[] = "true";
  char* args[] = {sh, dash_c, command, nullptr};
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, sh, nullptr, nullptr, args, environ) != 0 || waitpid(pid, &status, 0) != pid) return 1;
  }
  std::printf("%.6f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return 0;
}
