// Decimal arithmetic against the 128-bit decimal floating-point library,
// and UTF-8 <-> UCS-2 conversion against iconv, on the same inputs in one
// run; prints the ratio ours/theirs per operation (time for the decimal
// operations, throughput for the conversions).
#include <benchmark/benchmark.h>
#include <bid_conf.h>
#include <bid_functions.h>
#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "values/varstr.h"
#include "values/vlxdcb.h"

namespace {

constexpr int kOperands = 1024;

struct Operands {
  std::vector<std::string> text;
  std::vector<s_dcb> ours;
  std::vector<BID_UINT128> theirs;
};

// Random values of 20 to 32 significant digits with exponents that keep
// products and quotients in range for both.
Operands& operands() {
  static Operands set = [] {
    Operands s;
    std::mt19937_64 rng(42);
    for (int i = 0; i < kOperands; i++) {
      int n = 20 + rng() % 13;
      std::string t = rng() % 2 ? "-" : "";
      t += (char)('1' + rng() % 9);
      for (int k = 1; k < n; k++) t += (char)('0' + rng() % 10);
      t += 'e';
      t += std::to_string((int)(rng() % 40) - 20 - n);
      s_dcb d;
      strdcb(&d, t.c_str());
      _IDEC_flags flags = 0;
      s.text.push_back(t);
      s.ours.push_back(d);
      s.theirs.push_back(__bid128_from_string(s.text.back().data(), 0, &flags));
    }
    return s;
  }();
  return set;
}

template <class Op>
void over_pairs(benchmark::State& state, Op op) {
  Operands& s = operands();
  int i = 0;
  for (auto _ : state) {
    op(s, i, (i + 1) & (kOperands - 1));
    i = (i + 1) & (kOperands - 1);
  }
}

void register_decimal() {
  using B = benchmark::State;
  auto add = [](const char* side, const char* name, auto op) {
    std::string full = side;
    full += name;
    benchmark::RegisterBenchmark(full.c_str(), [op](B& state) { over_pairs(state, op); });
  };
  auto ours = [&](const char* name, auto op) { add("ours/", name, op); };
  auto theirs = [&](const char* name, auto op) { add("theirs/", name, op); };
  // Each operation under the same name for both sides: the ratio table
  // pairs them by name.
  ours("add", [](Operands& s, int a, int b) {
    s_dcb r;
    dcb_as(&r, &s.ours[a], &s.ours[b], 0);
    benchmark::DoNotOptimize(r);
  });
  theirs("add", [](Operands& s, int a, int b) {
    _IDEC_flags f = 0;
    benchmark::DoNotOptimize(__bid128_add(s.theirs[a], s.theirs[b], 0, &f));
  });
  ours("subtract", [](Operands& s, int a, int b) {
    s_dcb r;
    dcb_as(&r, &s.ours[a], &s.ours[b], 1);
    benchmark::DoNotOptimize(r);
  });
  theirs("subtract", [](Operands& s, int a, int b) {
    _IDEC_flags f = 0;
    benchmark::DoNotOptimize(__bid128_sub(s.theirs[a], s.theirs[b], 0, &f));
  });
  ours("multiply", [](Operands& s, int a, int b) {
    s_dcb r;
    dcbmul(&r, &s.ours[a], &s.ours[b]);
    benchmark::DoNotOptimize(r);
  });
  theirs("multiply", [](Operands& s, int a, int b) {
    _IDEC_flags f = 0;
    benchmark::DoNotOptimize(__bid128_mul(s.theirs[a], s.theirs[b], 0, &f));
  });
  ours("divide", [](Operands& s, int a, int b) {
    s_dcb r;
    dcbdiv(&r, &s.ours[a], &s.ours[b]);
    benchmark::DoNotOptimize(r);
  });
  theirs("divide", [](Operands& s, int a, int b) {
    _IDEC_flags f = 0;
    benchmark::DoNotOptimize(__bid128_div(s.theirs[a], s.theirs[b], 0, &f));
  });
  ours("compare", [](Operands& s, int a, int b) { benchmark::DoNotOptimize(dcbcmp(&s.ours[a], &s.ours[b])); });
  theirs("compare", [](Operands& s, int a, int b) {
    _IDEC_flags f = 0;
    benchmark::DoNotOptimize(__bid128_quiet_less(s.theirs[a], s.theirs[b], &f));
  });
  ours("parse", [](Operands& s, int a, int) {
    s_dcb r;
    strdcb(&r, s.text[a].c_str());
    benchmark::DoNotOptimize(r);
  });
  theirs("parse", [](Operands& s, int a, int) {
    _IDEC_flags f = 0;
    benchmark::DoNotOptimize(__bid128_from_string(const_cast<char*>(s.text[a].c_str()), 0, &f));
  });
  ours("format", [](Operands& s, int a, int) {
    char out[48];
    dcbstr(&s.ours[a], out, 40);
    benchmark::DoNotOptimize(out);
  });
  theirs("format", [](Operands& s, int a, int) {
    char out[64];
    _IDEC_flags f = 0;
    __bid128_to_string(out, s.theirs[a], &f);
    benchmark::DoNotOptimize(out);
  });
}

// Mostly ASCII with accented Latin, Greek and CJK text mixed in.
const std::string& utf8_text() {
  static std::string text = [] {
    const char* pieces[] = {"Invoice 2024/0042 for ", "Société Générale ", "Ελληνικά ", "請求書 ",
                            "total amount due: 1234.56 EUR\n"};
    std::string t;
    std::mt19937 rng(7);
    while (t.size() < 64 * 1024) t += pieces[rng() % 5];
    return t;
  }();
  return text;
}

const std::u16string& ucs2_text() {
  static std::u16string text = [] {
    std::vector<char16_t> out(utf8_text().size() + 1);
    int n = utftoptu(out.data(), utf8_text().c_str(), (int)out.size());
    return std::u16string(out.data(), n);
  }();
  return text;
}

void iconv_run(benchmark::State& state, const char* to, const char* from, const char* in, std::size_t bytes) {
  iconv_t cd = iconv_open(to, from);
  std::vector<char> out(4 * bytes + 16);
  for (auto _ : state) {
    char* src = const_cast<char*>(in);
    char* dst = out.data();
    std::size_t left = bytes, room = out.size();
    iconv(cd, &src, &left, &dst, &room);
    benchmark::DoNotOptimize(out.data());
  }
  iconv_close(cd);
  state.SetBytesProcessed(state.iterations() * utf8_text().size());
}

void register_text() {
  benchmark::RegisterBenchmark("ours/utf8_to_ucs2", [](benchmark::State& state) {
    std::vector<char16_t> out(utf8_text().size() + 1);
    for (auto _ : state) benchmark::DoNotOptimize(utftoptu(out.data(), utf8_text().c_str(), (int)out.size()));
    state.SetBytesProcessed(state.iterations() * utf8_text().size());
  });
  benchmark::RegisterBenchmark("theirs/utf8_to_ucs2", [](benchmark::State& state) {
    iconv_run(state, "UCS-2LE", "UTF-8", utf8_text().data(), utf8_text().size());
  });
  benchmark::RegisterBenchmark("ours/ucs2_to_utf8", [](benchmark::State& state) {
    std::vector<char> out(3 * ucs2_text().size() + 1);
    for (auto _ : state) benchmark::DoNotOptimize(stutoput(out.data(), ucs2_text().c_str(), (int)out.size(), nullptr));
    state.SetBytesProcessed(state.iterations() * utf8_text().size());
  });
  benchmark::RegisterBenchmark("theirs/ucs2_to_utf8", [](benchmark::State& state) {
    iconv_run(state, "UTF-8", "UCS-2LE", (const char*)ucs2_text().data(), 2 * ucs2_text().size());
  });
}

// Keeps the time per iteration and the throughput of every benchmark.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Result {
    double nanoseconds = 0, bytesPerSecond = 0;
  };
  std::map<std::string, Result> results;

  void ReportRuns(const std::vector<Run>& runs) override {
    // The best of the repetitions: the machine is shared, and interference
    // only ever slows a run down.
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate) continue;
      Result& r = results[run.benchmark_name()];
      double ns = run.GetAdjustedCPUTime();
      if (r.nanoseconds == 0 || ns < r.nanoseconds) r.nanoseconds = ns;
      auto bytes = run.counters.find("bytes_per_second");
      if (bytes != run.counters.end() && bytes->second > r.bytesPerSecond) r.bytesPerSecond = bytes->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void print_ratios() const {
    std::printf("\n%-14s %14s %14s %8s %8s\n", "operation", "ours", "theirs", "ratio", "target");
    for (const auto& [name, ours] : results) {
      if (name.rfind("ours/", 0) != 0) continue;
      std::string op = name.substr(5);
      std::string reference = "theirs/";
      reference += op;
      auto theirs = results.find(reference);
      if (theirs == results.end()) continue;
      bool throughput = ours.bytesPerSecond > 0;
      if (throughput) {
        double ratio = ours.bytesPerSecond / theirs->second.bytesPerSecond;
        std::printf("%-14s %9.0f MB/s %9.0f MB/s %8.2f %8s\n", op.c_str(), ours.bytesPerSecond / 1e6,
                    theirs->second.bytesPerSecond / 1e6, ratio, ">= 1.0");
      } else {
        double ratio = ours.nanoseconds / theirs->second.nanoseconds;
        bool slowTarget = op == "divide" || op == "parse" || op == "format";
        std::printf("%-14s %11.1f ns %11.1f ns %8.2f %8s\n", op.c_str(), ours.nanoseconds, theirs->second.nanoseconds,
                    ratio, slowTarget ? "<= 1.5" : "<= 1.0");
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  cstdcb();
  register_decimal();
  register_text();
  // Five repetitions, interleaved so that a burst of load on the shared
  // machine does not fall on one side only; the command line may override.
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, {repetitions.data(), interleave.data()});
  argc = (int)args.size();
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  return 0;
}
