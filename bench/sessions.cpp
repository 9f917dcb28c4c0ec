// Many sessions at once: servers started per connection by
// systemd-socket-activate (--inetd -a, as the shipped socket unit does),
// 1,000 sessions in batches of 100 connected at once, each negotiating,
// opening `ps -e`, reading every record and closing. The reference, in the
// same run, is the same batches of the command alone
// (`sh -c 'ps -e > /dev/null'`, 100 at once): on two cores the commands
// dominate, so it is what the machine can do. Prints sessions a second, the
// open's p50/p99 against the command's own, failures, what was left behind,
// and the proportional set size of an idle connected server.
//
//   bench_sessions [SESSIONS [AT_ONCE]]   (default 1000 100)
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support.h"
#include "vlxclient.h"

using namespace bench;

extern char** environ;

namespace {

// What a worker tells of one session (or one run of the command alone).
struct Outcome {
  double startMs;  // connecting and negotiating
  double openMs;   // the open, or the command's run from spawn to reaping
  double totalMs;
  int records;
  int ok;
};

// Orders: a session, the command alone, a session left idle until the
// next order (any), the end.
enum : char { kSession = 's', kCommand = 'c', kIdle = 'i', kQuit = 'q' };

constexpr const char* kCommandLine = "ps -e";

double ms_since(Clock::time_point start) { return seconds_since(start) * 1e3; }

Outcome one_session(int port) {
  Outcome o{};
  auto start = Clock::now();
  try {
    vlxc::Session s("127.0.0.1", port);
    o.startMs = ms_since(start);
    auto opening = Clock::now();
    vlxc::Table t = s.open(kCommandLine, 4);
    o.openMs = ms_since(opening);
    for (auto r = t.read(vlxc::Mode::first); r; r = t.read(vlxc::Mode::next)) ++o.records;
    t.close();
    s.end();
    o.ok = o.records > 0;
  } catch (const vlxc::Error& e) {
    std::fprintf(stderr, "bench_sessions: %s\n", e.what());
  }
  o.totalMs = ms_since(start);
  return o;
}

Outcome command_alone() {
  Outcome o{};
  std::string line = std::string(kCommandLine) + " > /dev/null";
  char sh[] = "/bin/sh", dashC[] = "-c";
  char* args[] = {sh, dashC, line.data(), nullptr};
  auto start = Clock::now();
  pid_t pid = 0;
  int status = 0;
  o.ok = ::posix_spawn(&pid, sh, nullptr, nullptr, args, environ) == 0 && ::waitpid(pid, &status, 0) == pid &&
         WIFEXITED(status) && WEXITSTATUS(status) == 0;
  o.openMs = o.totalMs = ms_since(start);
  return o;
}

// A worker: one session or one command for each order byte it reads, its
// outcome written back (a write smaller than a pipe's buffer is whole).
[[noreturn]] void worker(int orders, int outcomes, int port) {
  auto tell = [outcomes](const Outcome& o) { return ::write(outcomes, &o, sizeof o) == static_cast<ssize_t>(sizeof o); };
  for (char order; ::read(orders, &order, 1) == 1 && order != kQuit;) {
    if (order != kIdle) {
      if (!tell(order == kSession ? one_session(port) : command_alone())) break;
      continue;
    }
    Outcome o{};
    try {
      vlxc::Session s("127.0.0.1", port);
      o.ok = 1;
      if (!tell(o) || ::read(orders, &order, 1) != 1) break;
      s.end();
    } catch (const vlxc::Error& e) {
      std::fprintf(stderr, "bench_sessions: %s\n", e.what());
      o.ok = 0;
      if (!tell(o) || ::read(orders, &order, 1) != 1) break;
    }
    if (!tell(o)) break;
  }
  ::_exit(0);
}

struct Workers {
  std::vector<pid_t> pids;
  std::vector<int> orders;
  int outcomes = -1;

  Workers(int count, int port) {
    int results[2];
    if (::pipe(results) != 0) throw std::runtime_error("pipe");
    for (int i = 0; i < count; ++i) {
      int order[2];
      if (::pipe(order) != 0) throw std::runtime_error("pipe");
      pid_t pid = ::fork();
      if (pid == 0) {
        for (int fd : orders) ::close(fd);
        ::close(order[1]);
        ::close(results[0]);
        worker(order[0], results[1], port);
      }
      ::close(order[0]);
      pids.push_back(pid);
      orders.push_back(order[1]);
    }
    ::close(results[1]);
    outcomes = results[0];
  }
  ~Workers() {
    for (int fd : orders) {
      (void)!::write(fd, "q", 1);
      ::close(fd);
    }
    for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
    ::close(outcomes);
  }

  // Every worker runs `order` at once; their outcomes and the seconds from
  // the first order to the last outcome.
  double batch(char order, std::vector<Outcome>* all) {
    auto start = Clock::now();
    for (int fd : orders)
      if (::write(fd, &order, 1) != 1) throw std::runtime_error("worker lost");
    for (std::size_t i = 0; i < orders.size(); ++i) {
      Outcome o;
      if (::read(outcomes, &o, sizeof o) != static_cast<ssize_t>(sizeof o)) throw std::runtime_error("worker lost");
      all->push_back(o);
    }
    return seconds_since(start);
  }
};

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  std::size_t at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

std::vector<double> field(const std::vector<Outcome>& all, double Outcome::*member) {
  std::vector<double> out;
  for (const Outcome& o : all) out.push_back(o.*member);
  return out;
}

// The processes whose parent is `parent`.
std::vector<pid_t> children_of(pid_t parent) {
  std::vector<pid_t> found;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return found;
  while (const dirent* e = ::readdir(proc)) {
    pid_t pid = std::atoi(e->d_name);
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // pid (comm) state ppid ...: the name may hold blanks and parentheses.
    std::size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent) found.push_back(pid);
  }
  ::closedir(proc);
  return found;
}

long pss_kb(pid_t pid) {
  std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string line;
  while (std::getline(rollup, line))
    if (line.rfind("Pss:", 0) == 0) return std::atol(line.c_str() + 4);
  return -1;
}

int spool_files(const fs::path& folder) {
  int n = 0;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().rfind("vlxt", 0) == 0) ++n;
  return n;
}

// A free port of the loopback address, as the system gives one.
int free_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  int port = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0
                 ? ntohs(a.sin_port)
                 : -1;
  if (fd >= 0) ::close(fd);
  return port;
}

// systemd-socket-activate listening on the port, started as the shipped
// unit starts the server, with what it says going to a file of the
// installation; its pid once it listens.
pid_t start_activator(const std::string& server, int port, const fs::path& root) {
  std::string said = (root / "activator.log").string();
  std::string listen = "127.0.0.1:" + std::to_string(port);
  std::vector<std::string> args = {"systemd-socket-activate", "--inetd", "-a", "-l", listen,
                                   "-E", "VLXDIR=" + root.string(), "-E", "TMPDIR=" + (root / "tmp").string(),
                                   server};
  pid_t pid = ::fork();
  if (pid == 0) {
    int log = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log < 0 || ::dup2(log, 2) < 0) ::_exit(126);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  // It says "Listening on ..." once the socket listens.
  for (int i = 0; i < 500; ++i) {
    std::ifstream log(said);
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    if (text.find("Listening") != std::string::npos) return pid;
    if (::waitpid(pid, nullptr, WNOHANG) == pid) break;
    ::usleep(10000);
  }
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  throw std::runtime_error("systemd-socket-activate did not listen");
}

}  // namespace

int main(int argc, char** argv) {
  int sessions = argc > 1 ? std::atoi(argv[1]) : 1000;
  int atOnce = argc > 2 ? std::atoi(argv[2]) : 100;
  if (sessions < atOnce || atOnce < 1) {
    std::fprintf(stderr, "usage: bench_sessions [SESSIONS [AT_ONCE]] (SESSIONS >= AT_ONCE >= 1)\n");
    return 2;
  }
  std::string server = (fs::path(argv[0]).parent_path().parent_path() / "vlxbin" / "vlxsys").string();
  fs::path root = make_installation("vlxsessions");
  ::signal(SIGPIPE, SIG_IGN);
  int status = 0;
  try {
    int port = free_port();
    pid_t activator = start_activator(server, port, root);
    std::vector<Outcome> ours, theirs, idle;
    double oursSeconds = 0, theirsSeconds = 0;
    // The proportional set size of idle servers, connected as many at once
    // as the sessions are (what they share is shared among them).
    long pssTotal = 0, pssMost = 0;
    std::size_t idleServers = 0;
    {
      Workers workers(atOnce, port);
      // Batches alternate, so that both see the machine alike.
      for (int done = 0; done < sessions; done += atOnce) {
        theirsSeconds += workers.batch(kCommand, &theirs);
        oursSeconds += workers.batch(kSession, &ours);
      }
      workers.batch(kIdle, &idle);
      for (pid_t server : children_of(activator)) {
        long pss = pss_kb(server);
        pssTotal += pss;
        pssMost = std::max(pssMost, pss);
        ++idleServers;
      }
      workers.batch(kIdle, &idle);
    }
    // The last servers end as their clients see the connection close: give
    // the activator a moment to reap them.
    std::vector<pid_t> left;
    for (int i = 0; i < 500 && !(left = children_of(activator)).empty(); ++i) ::usleep(10000);
    int spools = spool_files(root / "tmp");
    ::kill(activator, SIGTERM);
    ::waitpid(activator, nullptr, 0);

    int failed = 0;
    for (const Outcome& o : ours) failed += !o.ok;
    for (const Outcome& o : theirs) failed += !o.ok;
    for (const Outcome& o : idle) failed += !o.ok;
    double records = 0;
    for (const Outcome& o : ours) records += o.records;
    std::printf("sessions: %d in batches of %d, each `%s` read to its end (%.0f records on average)\n", sessions,
                atOnce, kCommandLine, records / static_cast<double>(std::max<std::size_t>(ours.size(), 1)));
    report("sessions/s", static_cast<double>(ours.size()) / oursSeconds,
           static_cast<double>(theirs.size()) / theirsSeconds, "/s", ">=", 0.5);
    std::vector<double> opens = field(ours, &Outcome::openMs), runs = field(theirs, &Outcome::openMs);
    std::printf("%-16s ours %10.2f %-5s reference %10.2f %-5s (the command's own)\n", "open p50", percentile(opens, 0.5),
                "ms", percentile(runs, 0.5), "ms");
    report("open p99", percentile(opens, 0.99), percentile(runs, 0.99), "ms", "<=", 2.0);
    std::vector<double> starts = field(ours, &Outcome::startMs);
    std::printf("%-16s p50 %.2f ms p99 %.2f ms (connect and negotiate)\n", "session start", percentile(starts, 0.5),
                percentile(starts, 0.99));
    std::printf("%-16s %d failed, %zu processes and %d spool files left (target: none) %s\n", "leftovers", failed,
                left.size(), spools, failed == 0 && left.empty() && spools == 0 ? "met" : "NOT MET");
    double pss = idleServers > 0 ? static_cast<double>(pssTotal) / static_cast<double>(idleServers) / 1024.0 : -1;
    std::printf("%-16s proportional set size of an idle connected server %.2f MB, at most %.2f MB, %zu connected "
                "(target <= 0.5 MB) %s\n",
                "memory", pss, pssMost / 1024.0, idleServers,
                idleServers == static_cast<std::size_t>(atOnce) && pss <= 0.5 ? "met" : "NOT MET");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_sessions: %s\n", e.what());
    status = 1;
  }
  return status;
}
