// Many mixed sessions against the real server, a few servers at a time:
// opens, filters, reads in every mode checked against a model of the
// output, clients that go away in the middle of a read, clients that send
// garbage. VLX_SOAK_SESSIONS sets the count (make soak: 10000).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/vlxtest.h"
#include "vlxclient.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWorkers = 4;
constexpr int kFields = 3;

using Lines = std::vector<vlxc::Record>;

// The server's reading rules over the lines of a table, to predict every
// answer: the channel's line, the at-end flag, the recorded position.
struct Model {
  const Lines* lines = nullptr;
  std::vector<std::pair<int, std::string>> equal;  // field index, value
  int chan = 0, pos = 0;
  bool atEnd = false;

  int n() const { return static_cast<int>(lines->size()); }
  bool passes(int i) const {
    for (const auto& [field, value] : equal)
      if ((*lines)[static_cast<std::size_t>(i)][static_cast<std::size_t>(field)] != value) return false;
    return true;
  }
  int back() {
    if (chan == 0) return 4;
    if (atEnd) {
      atEnd = false;
      chan = n();
      return 0;
    }
    --chan;
    return 0;
  }
  int place(int mode) {
    switch (mode) {
      case 0: atEnd = false, chan = 0; return 0;
      case 1: atEnd = false, chan = n(); return back();
      case 3: { int st = back(); return st != 0 ? st : back(); }
      case 4: atEnd = false, chan = pos; return 0;
      default: return 0;
    }
  }
  // The record index answered, or -1 for status 4.
  int read(int mode) {
    for (;;) {
      if (place(mode) != 0) return -1;
      pos = chan;
      if (chan == n()) {
        atEnd = true;
        return -1;
      }
      int i = chan++;
      if (mode == 4 || passes(i)) return i;
      mode = mode == 1 || mode == 3 ? 3 : 2;
    }
  }
};

struct Counts {
  long sessions = 0, requests = 0, errors = 0, mismatches = 0, dropped = 0, garbage = 0;
};

Lines make_lines(int count, unsigned seed) {
  std::mt19937 rng(seed);
  Lines lines;
  for (int i = 0; i < count; ++i)
    lines.push_back({std::to_string(i), "w" + std::to_string(rng() % 5), "k" + std::to_string(rng() % 3)});
  return lines;
}

void write_lines(const fs::path& path, const Lines& lines) {
  std::string text;
  for (const auto& l : lines) text += l[0] + " " + l[1] + "  " + l[2] + "\n";
  vlxtest::spit(path, text);
}

// Starts the server on pipes; sends `bytes`, then goes away.
int rude_client(const std::string& bytes) {
  int requests[2], answers[2];
  if (::pipe2(requests, O_CLOEXEC) != 0 || ::pipe2(answers, O_CLOEXEC) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(requests[0], 20);
    ::dup2(answers[1], 21);
    ::execl(VLXSYS_PATH, VLXSYS_PATH, "20", "21", "-1", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(requests[0]);
  ::close(answers[1]);
  (void)!::write(requests[1], bytes.data(), bytes.size());
  ::close(requests[1]);
  ::close(answers[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

std::string header(int code, int length) {
  return std::string{static_cast<char>(code), static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
}

void polite_session(std::mt19937& rng, const std::vector<std::pair<fs::path, Lines>>& tables, Counts& c) {
  const auto& [path, lines] = tables[rng() % tables.size()];
  vlxc::Session s(VLXSYS_PATH);
  vlxc::Table t = s.open("cat " + path.string(), kFields);
  c.requests += 2;
  Model m;
  m.lines = &lines;
  int filters = static_cast<int>(rng() % 6);
  for (int f = 0; f < filters; ++f) {
    int field = 1 + static_cast<int>(rng() % 2);
    std::string value = field == 1 ? "w" + std::to_string(rng() % 5) : "k" + std::to_string(rng() % 3);
    ++c.requests;
    try {
      t.filter("F" + std::to_string(field + 1) + " = \"" + value + "\"");
      m.equal.push_back({field, value});
    } catch (const vlxc::Error& e) {
      ++c.errors;
      if (f < 4 || e.number != 31) ++c.mismatches;
    }
  }
  int reads = 5 + static_cast<int>(rng() % 30);
  for (int r = 0; r < reads; ++r) {
    int mode = static_cast<int>(rng() % 5);
    ++c.requests;
    auto got = t.read(static_cast<vlxc::Mode>(mode));
    int expected = m.read(mode);
    bool same = expected < 0 ? !got.has_value()
                             : got.has_value() && *got == lines[static_cast<std::size_t>(expected)];
    if (!same) ++c.mismatches;
  }
  t.close();
  if (s.end() != 1) ++c.mismatches;
  c.requests += 2;
}

Counts worker(int index, int sessions, const std::vector<std::pair<fs::path, Lines>>& tables) {
  Counts c;
  for (int n = index; n < sessions; n += kWorkers) {
    std::mt19937 rng(static_cast<unsigned>(n) * 2654435761u);
    int kind = static_cast<int>(rng() % 10);
    ++c.sessions;
    try {
      if (kind == 0) {
        // Gone in the middle of a read request: half a body.
        std::string open = header(0, 6) + std::string("\x03\x16\x00\x00\x00\x0a", 6);
        int status = rude_client(open + header(1, 40) + std::string(10, '\0'));
        ++c.dropped;
        if (!WIFEXITED(status)) ++c.mismatches;
      } else if (kind == 1) {
        std::string noise;
        for (int i = 0, len = 1 + static_cast<int>(rng() % 300); i < len; ++i) noise += static_cast<char>(rng());
        int status = rude_client(noise);
        ++c.garbage;
        if (!WIFEXITED(status)) ++c.mismatches;
      } else {
        polite_session(rng, tables, c);
      }
    } catch (const vlxc::Error& e) {
      ++c.errors;
      ++c.mismatches;
      std::fprintf(stderr, "session %d: %s\n", n, e.what());
    }
  }
  return c;
}

TEST(Soak, MixedSessions) {
  int sessions = 1000;
  if (const char* env = std::getenv("VLX_SOAK_SESSIONS")) sessions = std::atoi(env);
  fs::path data = fs::path(vlxtest::install_dir()) / "data";
  fs::create_directories(data);
  std::vector<std::pair<fs::path, Lines>> tables;
  for (int count : {0, 1, 17, 300}) {
    fs::path path = data / ("soak" + std::to_string(count));
    tables.emplace_back(path, make_lines(count, static_cast<unsigned>(count)));
    write_lines(path, tables.back().second);
  }
  ::signal(SIGPIPE, SIG_IGN);
  // Workers are processes: the client library keeps engine state per process.
  int pipes[kWorkers][2];
  pid_t pids[kWorkers];
  for (int w = 0; w < kWorkers; ++w) {
    ASSERT_EQ(::pipe(pipes[w]), 0);
    pids[w] = ::fork();
    if (pids[w] == 0) {
      Counts c = worker(w, sessions, tables);
      (void)!::write(pipes[w][1], &c, sizeof c);
      ::_exit(0);
    }
    ::close(pipes[w][1]);
  }
  Counts total;
  for (int w = 0; w < kWorkers; ++w) {
    Counts c;
    ASSERT_EQ(::read(pipes[w][0], &c, sizeof c), static_cast<ssize_t>(sizeof c));
    ::close(pipes[w][0]);
    ::waitpid(pids[w], nullptr, 0);
    total.sessions += c.sessions, total.requests += c.requests, total.errors += c.errors;
    total.mismatches += c.mismatches, total.dropped += c.dropped, total.garbage += c.garbage;
  }
  int leftovers = 0;
  for (const auto& e : fs::directory_iterator(fs::path(vlxtest::install_dir()) / "tmp"))
    leftovers += e.path().filename().string().rfind("vlxt", 0) == 0;
  std::printf("soak: %ld sessions (%ld disconnected mid-read, %ld garbage), %ld requests, %ld errors answered, "
              "%ld mismatches, %d spool files left\n",
              total.sessions, total.dropped, total.garbage, total.requests, total.errors, total.mismatches, leftovers);
  EXPECT_EQ(total.sessions, sessions);
  EXPECT_EQ(total.mismatches, 0);
  EXPECT_EQ(leftovers, 0);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "no server left running";
}

}  // namespace
