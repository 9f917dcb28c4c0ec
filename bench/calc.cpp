// Filters of a table scan evaluated as the table service does (through
// their plans) against the same predicates written directly in C++, over
// the same records in one run; prints the cost ratio plan/direct per filter
// against its target, in CPU time so that other processes on the machine do
// not skew it. The calculator's walk of the same trees is shown beside them.
// Filters compare fields with literals, and the calls filters make most
// (val, left$, len) of text fields.
//
// Field values come from records in a table's stored form: loaded by a
// handler at code 336 and seen through the plans' record view, the way the
// table service serves its open tables' current records.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "calc/acalc.h"
#include "calc/fplan.h"
#include "fastest.h"
#include "memory/vlxcalls.h"
#include "table/afncompi.h"
#include "values/date.h"
#include "variables/variable.h"

namespace {

constexpr int kRecords = 1024;

// Each record twice: as C++ values for the direct predicates, and in the
// stored form of a table's record, which the field loads read as the
// table service's do (name: 8-bit text of 24 bytes at 0, quantity: 4-byte
// integer at 24, price: decimal record at 28, day: 4-byte date at 48,
// amount: a number in 8-bit text of 12 bytes at 52).
struct Record {
  char16_t name[24];
  unsigned nameLength;
  std::int32_t quantity;
  s_dcb price;
  std::int32_t day;
  char amount[13];
  unsigned char stored[64];
};

std::vector<Record> Records;
const Record* Current = nullptr;

struct Field {
  unsigned offset, type, length;
};
constexpr Field kName{0, LSTRG, 24}, kQuantity{24, LINTG, 4}, kPrice{28, LDCB, 0}, kDay{48, LDATE, 4},
    kAmount{52, LSTRG, 12};

int load_field(res_u* r, grctx*, s_exp* e, int) {
  return vad2rs(r, Current->stored + e->header, nullptr, static_cast<int>(e->type), static_cast<int>(e->tail), 0);
}

// The table service keeps its current record where the plans find it.
plan_record CurrentView;
const plan_record* view_record(unsigned) { return &CurrentView; }

void set_current(const Record* r) {
  Current = r;
  CurrentView = {r->stored, sizeof r->stored};
}

void store(Record* r, const Field& f, res_u* value) {
  if (rs2vad(r->stored + f.offset, nullptr, static_cast<int>(f.type), static_cast<int>(f.length), value, 0) < 0)
    std::abort();
  res_drop(value);
}

int day_of(int y, int m, int d) {
  int n = 0;
  ltodate(&n, y, m, d, 0);
  return n;
}

void make_records() {
  const char16_t* names[] = {u"SMITH", u"JONES", u"SMITHSON", u"BROWN", u"TAYLOR", u"WILLIAMSON", u"SMYTH", u"EVANS"};
  std::mt19937 random(11);
  int first = day_of(2023, 1, 1);
  for (int i = 0; i < kRecords; i++) {
    Record r{};
    const char16_t* n = names[random() % 8];
    r.nameLength = static_cast<unsigned>(stulen(n));
    stucpy(r.name, n);
    r.quantity = static_cast<std::int32_t>(random() % 200);
    char text[32];
    std::snprintf(text, sizeof text, "%u.%02u", static_cast<unsigned>(random() % 500), static_cast<unsigned>(random() % 100));
    strdcb(&r.price, text);
    r.day = first + static_cast<int>(random() % 730);
    res_u v;
    res_zero(&v);
    res_setstu(&v, r.name, r.nameLength);
    store(&r, kName, &v);
    v.rs_type = LINTG, v.rs_int = r.quantity;
    store(&r, kQuantity, &v);
    v.rs_type = LDCB, v.rs_dcb = r.price;
    store(&r, kPrice, &v);
    v.rs_type = LDATE, v.rs_date = static_cast<std::uint32_t>(r.day);
    store(&r, kDay, &v);
    std::snprintf(r.amount, sizeof r.amount, "%u.%02u", static_cast<unsigned>(random() % 2000), static_cast<unsigned>(random() % 100));
    res_setascii(&v, r.amount);
    store(&r, kAmount, &v);
    Records.push_back(r);
  }
}

struct Filter {
  grctx g;
  unsigned root;
  fplan plan;
};

unsigned field(grctx* g, const Field& f) {
  return static_cast<unsigned>(stfexp(g, kFieldLoad, 1, f.offset, f.length, f.type, 0));
}
unsigned node(grctx* g, unsigned code, unsigned a, unsigned b) {
  return static_cast<unsigned>(stfexp(g, code, 0, a, b, 0, 0));
}

s_dcb Limit;
int From, To;
constexpr int kFilters = 6;

unsigned call(grctx* g, unsigned code, unsigned argument, unsigned next = 0) {
  gt_exp(g, argument)->next = next;
  return static_cast<unsigned>(stfexp(g, code, 0, argument, 0, 0, 0));
}
unsigned integer(grctx* g, int n) { return static_cast<unsigned>(stfexp(g, LINTG, stfint(g, n), 0, 0, 0, 0)); }

// name = 'SMITH'; quantity > 100 and price < 250.50; day in [From, To);
// val(amount) > 1000; left$(name, 3) = 'SMI'; len(name) > 8.
void make_filters(Filter f[kFilters]) {
  for (int i = 0; i < kFilters; i++) init_pt_exp(&f[i].g, 0);
  grctx* g = &f[0].g;
  f[0].root = node(g, 271, field(g, kName), static_cast<unsigned>(stfexp(g, LSTRU, stfstr(g, "SMITH"), 0, 0, 0, 0)));
  g = &f[1].g;
  strdcb(&Limit, "250.50");
  unsigned quantity = node(g, 267, field(g, kQuantity), static_cast<unsigned>(stfexp(g, LINTG, stfint(g, 100), 0, 0, 0, 0)));
  unsigned price = node(g, 269, field(g, kPrice), static_cast<unsigned>(stfexp(g, LDCB, stfdcb(g, &Limit), 0, 0, 0, 0)));
  f[1].root = node(g, 266, quantity, price);
  g = &f[2].g;
  From = day_of(2023, 6, 1);
  To = day_of(2024, 1, 1);
  unsigned low = node(g, 268, field(g, kDay), static_cast<unsigned>(stfexp(g, LDATE, stfint(g, From), 0, 0, 0, 0)));
  unsigned high = node(g, 269, field(g, kDay), static_cast<unsigned>(stfexp(g, LDATE, stfint(g, To), 0, 0, 0, 0)));
  f[2].root = node(g, 266, low, high);
  g = &f[3].g;
  f[3].root = node(g, 267, call(g, 38, field(g, kAmount)), integer(g, 1000));
  g = &f[4].g;
  f[4].root = node(g, 271, call(g, 55, field(g, kName), integer(g, 3)),
                   static_cast<unsigned>(stfexp(g, LSTRU, stfstr(g, "SMI"), 0, 0, 0, 0)));
  g = &f[5].g;
  f[5].root = node(g, 267, call(g, 37, field(g, kName)), integer(g, 8));
  for (int i = 0; i < kFilters; i++)
    if (!plan_make(&f[i].plan, &f[i].g, f[i].root)) std::abort();
}

Filter Filters[kFilters];

void plan(benchmark::State& state, int which) {
  Filter& f = Filters[which];
  unsigned i = 0, passed = 0;
  for (auto _ : state) {
    set_current(&Records[i++ & (kRecords - 1)]);
    int st = plan_eval(&f.plan, &f.g);
    if (st < 0) [[unlikely]]
      state.SkipWithError("evaluation failed");
    passed += static_cast<unsigned>(st);
  }
  benchmark::DoNotOptimize(passed);
}

void walk(benchmark::State& state, int which) {
  Filter& f = Filters[which];
  unsigned i = 0, passed = 0;
  res_u result;
  res_zero(&result);
  for (auto _ : state) {
    set_current(&Records[i++ & (kRecords - 1)]);
    if (evafsr(&result, &f.g, f.root) < 0) state.SkipWithError("evaluation failed");
    passed += result.rs_bool;
  }
  benchmark::DoNotOptimize(passed);
  res_drop(&result);
}

bool direct_filter(int which, const Record& r) {
  switch (which) {
    case 0: return std::u16string_view(r.name, r.nameLength) == u"SMITH";
    case 1: return r.quantity > 100 && dcbcmp(&r.price, &Limit) < 0;
    case 2: return r.day >= From && r.day < To;
    case 3: return std::strtod(r.amount, nullptr) > 1000;
    case 4: return std::u16string_view(r.name, std::min(3u, r.nameLength)) == u"SMI";
    default: return r.nameLength > 8;
  }
}

template <int kWhich>
void direct(benchmark::State& state) {
  unsigned i = 0, passed = 0;
  for (auto _ : state) {
    const Record* r = &Records[i++ & (kRecords - 1)];
    benchmark::DoNotOptimize(r);
    passed += direct_filter(kWhich, *r);
  }
  benchmark::DoNotOptimize(passed);
}

const char* const kNames[kFilters] = {"string", "int_dcb", "date", "val", "left", "len"};
// Comparisons with literals at most 3 times the direct predicate, the calls
// over text at most 5 times.
const double kTargets[kFilters] = {3, 3, 3, 5, 5, 5};

class RatioReporter : public FastestReporter {
 public:
  void print_ratios() const {
    std::printf("\n%-10s %12s %12s %12s %14s %8s %8s %8s\n", "filter", "walk", "plan", "direct", "evaluations/s",
                "walk", "plan", "target");
    for (int i = 0; i < kFilters; ++i) {
      const char* name = kNames[i];
      bool all = true;
      for (const char* kind : {"walk/", "plan/", "direct/"}) all = all && nanoseconds.count(kind + std::string(name));
      if (!all) continue;
      double w = nanoseconds.at(std::string("walk/") + name), p = nanoseconds.at(std::string("plan/") + name),
             d = nanoseconds.at(std::string("direct/") + name);
      std::printf("%-10s %9.1f ns %9.1f ns %9.1f ns %14.0f %8.2f %8.2f   <= %.0f %s\n", name, w, p, d, 1e9 / p, w / d,
                  p / d, kTargets[i], p / d <= kTargets[i] ? "met" : "NOT MET");
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  ini_malloc(64 * 1024);
  fsring();
  Obef[kFieldLoad] = load_field;
  Plan_view = view_record;
  make_records();
  make_filters(Filters);
  // The three ways agree on every record, or the figures mean nothing.
  for (int i = 0; i < kFilters; i++) {
    res_u result;
    res_zero(&result);
    for (const Record& r : Records) {
      set_current(&r);
      int planned = plan_eval(&Filters[i].plan, &Filters[i].g);
      if (evafsr(&result, &Filters[i].g, Filters[i].root) < 0 || planned != result.rs_bool ||
          planned != static_cast<int>(direct_filter(i, r))) {
        std::fprintf(stderr, "filter %s disagrees with itself\n", kNames[i]);
        return 1;
      }
    }
    res_drop(&result);
  }
  void (*directs[])(benchmark::State&) = {direct<0>, direct<1>, direct<2>, direct<3>, direct<4>, direct<5>};
  for (int i = 0; i < kFilters; i++) {
    benchmark::RegisterBenchmark((std::string("walk/") + kNames[i]).c_str(), walk, i)->Repetitions(10);
    benchmark::RegisterBenchmark((std::string("plan/") + kNames[i]).c_str(), plan, i)->Repetitions(10);
    benchmark::RegisterBenchmark((std::string("direct/") + kNames[i]).c_str(), directs[i])->Repetitions(10);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  return 0;
}
