// Compile throughput of typical filters (5 to 15 nodes: comparisons of
// fields with literals joined by and/or, a function call or two), with
// each compiler version, against SQLite preparing the equivalent SELECT
// ... WHERE on a table with the same columns, in the same run. Each side
// builds its compiled form and drops it again. Prints the cost ratio of
// each version to SQLite per filter (target <= 1.0), in CPU time.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "diagnostics/vlxerr.h"
#include "fastest.h"
#include "grammar/anagram.h"
#include "grammar/generator.h"
#include "grammar/gram.h"
#include "grammar/parser.h"
#include "grammar/srcread.h"
#include "grammar/toktab.h"
#include "image/vlxload.h"
#include "memory/vlxcalls.h"

namespace {

struct Filter {
  const char* name;
  const char* text;  // as a client sends it
  bool sdata;
  const char* sql;   // the same predicate for SQLite
};

const Filter kFilters[] = {
    {"sdata_and", "@amount gt 100 and name eq 'bob'", true,
     "SELECT * FROM t WHERE amount > 100 AND name = 'bob'"},
    {"sdata_call", "@upper(city) eq 'ROME' or amount between 10 and 20 and discount ne 0", true,
     "SELECT * FROM t WHERE upper(city) = 'ROME' OR amount BETWEEN 10 AND 20 AND discount <> 0"},
    {"4gl_call", "@AMOUNT > 100 & NAME = \"bob\" | left$(CITY, 2) = \"RO\"", false,
     "SELECT * FROM t WHERE amount > 100 AND name = 'bob' OR substr(city, 1, 2) = 'RO'"},
    {"4gl_arith", "@(AMOUNT - DISCOUNT) * 2 >= 150 & DUE < [1/6/2024] & len(NAME) > 2", false,
     "SELECT * FROM t WHERE (amount - discount) * 2 >= 150 AND due < '2024-06-01' AND length(name) > 2"},
};

sqlite3* Db = nullptr;

void compile(benchmark::State& state, const Filter* f, char version) {
  setVlxDefaultVersion(version);
  for (auto _ : state) {
    grctx g;
    if (init_pt_exp(&g, 0) < 0) state.SkipWithError("no grammar");
    inter_open(f->text);
    Gram_sdata = f->sdata;
    if (anagram(&g) < 0) state.SkipWithError("does not compile");
    benchmark::DoNotOptimize(g.headerWord);
    Grammar_free(&g);
  }
}

void prepare(benchmark::State& state, const Filter* f) {
  for (auto _ : state) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(Db, f->sql, -1, &statement, nullptr) != SQLITE_OK) state.SkipWithError("does not prepare");
    benchmark::DoNotOptimize(statement);
    sqlite3_finalize(statement);
  }
}

class RatioReporter : public FastestReporter {
 public:
  void print_ratios() const {
    std::printf("\n%-12s %12s %12s %12s %9s %9s %8s\n", "filter", "R", "S", "sqlite", "R/sqlite", "S/sqlite",
                "target");
    for (const Filter& f : kFilters) {
      std::string name = f.name;
      if (!nanoseconds.count("R/" + name) || !nanoseconds.count("S/" + name) || !nanoseconds.count("sqlite/" + name))
        continue;
      double r = nanoseconds.at("R/" + name), s = nanoseconds.at("S/" + name), q = nanoseconds.at("sqlite/" + name);
      std::printf("%-12s %9.0f ns %9.0f ns %9.0f ns %9.2f %9.2f %8s\n", f.name, r, s, q, r / q, s / q, "<= 1.0");
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  ini_malloc(64 * 1024);
  iniTokTab();
  iniTokTabSdata();
  grammar::Exception_fd = -1;
  grammar::L4gerror_fd = -1;
  if (sqlite3_open(":memory:", &Db) != SQLITE_OK ||
      sqlite3_exec(Db, "CREATE TABLE t(amount INTEGER, name TEXT, city TEXT, discount INTEGER, due TEXT)", nullptr,
                   nullptr, nullptr) != SQLITE_OK)
    return 1;
  for (const Filter& f : kFilters) {
    benchmark::RegisterBenchmark((std::string("R/") + f.name).c_str(), compile, &f, 'R')->Repetitions(5);
    benchmark::RegisterBenchmark((std::string("S/") + f.name).c_str(), compile, &f, 'S')->Repetitions(5);
    benchmark::RegisterBenchmark((std::string("sqlite/") + f.name).c_str(), prepare, &f)->Repetitions(5);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  sqlite3_close(Db);
  return 0;
}
