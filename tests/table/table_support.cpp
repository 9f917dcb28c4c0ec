#include "table_support.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "calc/acalc.h"
#include "channel/afd.h"
#include "channel/divcom.h"
#include "channel/iocom.h"
#include "diagnostics/vlxerr.h"
#include "files/cfgfil.h"
#include "files/mess.h"
#include "image/vlxfsq.h"
#include "memory/vlxcalls.h"
#include "memory/vlxcbu.h"
#include "support/grammar_builder.h"
#include "support/vlxtest.h"
#include "table/afncompi.h"
#include "table/fsrarq.h"
#include "table/sysop.h"

namespace fs = std::filesystem;

namespace tabletest {

namespace {
vlxtest::Peer Client, Encoder;
constexpr int kEncoderSlot = 7;

int status_of(const std::string& answer) {
  return answer.empty() ? -1000 : static_cast<signed char>(answer[0]);
}
}  // namespace

void start_engine() {
  static bool done = false;
  if (done) return;
  done = true;
  vlxtest::init_memory();
  load_system_security();
  ini_mess("ENG");
  inicom("");
  afd_in();
  cbu_ini(512);
  fsring();
  sysisf();
  Client = vlxtest::make_peer(1, kModeBuffer, 20);
  sethdvcom(1, 20);
  Encoder = vlxtest::make_peer(kEncoderSlot, kModeBuffer, 20);
  raz_err();
}

std::string data_dir() { return vlxtest::install_dir() + "/data"; }

std::string call(int object, const std::string& body, const std::string& raw) {
  // VLX_FUZZ_SEEDS=<folder> keeps every request as a seed of the request
  // fuzz target: object byte, body length, body, following bytes.
  if (const char* seeds = std::getenv("VLX_FUZZ_SEEDS")) {
    static int n;
    std::string seed = std::string(1, static_cast<char>(object)) + be16(static_cast<int>(body.size())) + body + raw;
    vlxtest::spit(std::string(seeds) + "/seed" + std::to_string(n++), seed);
  }
  Client.send(raw);
  std::string copy = body;
  fsr_an(object, copy.data(), static_cast<int>(copy.size()));
  return Client.received();
}

void EngineTest::TearDown() { raz_err(); }

std::string unread() { return cbuf_take_all(Client.inBuffer); }

int open_declared(const std::string& command, const std::vector<Field>& fields, int recordLength) {
  vlxtest::Open o = vlxtest::open_request(command, fields, recordLength);
  std::string answer = call(0, o.body, o.raw);
  int st = status_of(answer);
  if (st != 0) return st;
  return answer.size() == 3 ? static_cast<std::uint16_t>(get_be16(reinterpret_cast<const unsigned char*>(answer.data()) + 1))
                            : -1000;
}

int open_table(const std::string& command, int fields) {
  return open_declared(command, vlxtest::words(fields), fields * kFieldWidth);
}

int open_text(const std::string& name, const std::string& text, int fields) {
  return open_table("cat " + vlxtest::data_file(name, text), fields);
}

namespace {
int take_record(const std::string& answer, std::vector<std::string>* fields, int fieldCount) {
  int st = status_of(answer);
  if (fields != nullptr) fields->clear();
  if (st != 0 || fields == nullptr) return st;
  for (int i = 0; i < fieldCount && answer.size() >= 1 + static_cast<std::size_t>(i + 1) * kFieldWidth; ++i) {
    std::string slot = answer.substr(1 + static_cast<std::size_t>(i) * kFieldWidth, kFieldWidth);
    fields->push_back(slot.substr(0, slot.find('\0')));
  }
  return st;
}
}  // namespace

int read_table(int slot, int mode, std::vector<std::string>* fields, int criterion, int fieldCount) {
  return take_record(call(slot, vlxtest::read_request(mode, criterion)), fields, fieldCount);
}

int read_record(int slot, int mode, std::string* record) {
  std::string answer = call(slot, vlxtest::read_request(mode));
  int st = status_of(answer);
  if (st == 0) *record = answer.substr(1);
  return st;
}

int read_by_key(int slot, int key, int count, int mode, std::vector<std::string>* fields) {
  std::string body = bytes({kSysDriver, kEvReadKeys}) + be16(key) + bytes({count}) + be16(mode) + be16(1) + "k" +
                     be16(0) + bytes({0}) + be32(0) + text("") + be16(0) + be32(0);
  return take_record(call(slot, body), fields, 3);
}

int close_table(int slot) { return status_of(call(slot, bytes({kSysDriver, kEvClose}))); }

std::string encode_grammar(grctx* g, std::string* sizes) {
  unsigned char list[16];
  int max = 0;
  int n = getGrammarSize(g, list, &max, kEncoderSlot);
  *sizes = std::string(reinterpret_cast<char*>(list), static_cast<std::size_t>(n));
  std::vector<unsigned char> buffer(static_cast<std::size_t>(max) + 1);
  sendGrammarElements(kEncoderSlot, list, g, buffer.data());
  return Encoder.received();
}

namespace {

int op_code(const char* op) {
  static const struct {
    const char* op;
    int code;
  } ops[] = {{"=", 271}, {"<>", 272}, {">", 267}, {">=", 268}, {"<", 269}, {"<=", 270}};
  for (const auto& o : ops)
    if (std::strcmp(o.op, op) == 0) return o.code;
  return 0;
}

// Node of `field compared with literal` in g.
unsigned comparison(grctx* g, int slot, const Field& field, const char* op, const std::string& literal) {
  int node = stfexp(g, 336, static_cast<unsigned>(slot), static_cast<unsigned>(field.offset),
                    static_cast<unsigned>(field.length), static_cast<unsigned>(field.type), 0);
  unsigned value = builder::parse(g, literal);
  return static_cast<unsigned>(stfexp(g, static_cast<unsigned>(op_code(op)), 0, static_cast<unsigned>(node), value, 0, 0));
}

}  // namespace

int add_filter_grammar(int slot, grctx& g, unsigned root, int criterion) {
  std::string sizes;
  std::string raw = encode_grammar(&g, &sizes);
  Grammar_free(&g);
  std::string body = bytes({kSysDriver, kEvAddFilter}) + sizes + be16(static_cast<int>(root)) + bytes({criterion});
  return status_of(call(slot, body, raw));
}

int add_filter(int slot, const std::vector<Condition>& conditions, int criterion) {
  grctx g;
  init_pt_exp(&g, 0);
  unsigned root = 0;
  for (const Condition& c : conditions) {
    unsigned test = comparison(&g, slot, vlxtest::words(c.field + 1).back(), c.op, "'" + c.literal + "'");
    root = root == 0 ? test : static_cast<unsigned>(stfexp(&g, 266, 0, root, test, 0, 0));
  }
  return add_filter_grammar(slot, g, root, criterion);
}

int add_filter_rooted(int slot, const Condition& c, unsigned root) {
  grctx g;
  init_pt_exp(&g, 0);
  comparison(&g, slot, vlxtest::words(c.field + 1).back(), c.op, "'" + c.literal + "'");
  return add_filter_grammar(slot, g, root, 0);
}

int add_field_filter(int slot, const Field& field, const char* op, const std::string& literal) {
  grctx g;
  init_pt_exp(&g, 0);
  return add_filter_grammar(slot, g, comparison(&g, slot, field, op, literal), 0);
}

int remove_filter(int slot, int filter) {
  return status_of(call(slot, bytes({kSysDriver, kEvRemoveFilter, filter})));
}

int select(int slot, const std::vector<int>& fields) {
  grctx g;
  init_pt_exp(&g, 0);
  unsigned next = 0;
  // The chain runs in request order: build it from the last field.
  for (auto f = fields.rbegin(); f != fields.rend(); ++f)
    next = static_cast<unsigned>(stfexp(&g, kFieldLoad, static_cast<unsigned>(slot), static_cast<unsigned>(*f * kFieldWidth),
                                        kFieldWidth, kFieldType, next));
  std::string sizes;
  std::string raw = encode_grammar(&g, &sizes);
  Grammar_free(&g);
  std::string body = bytes({kSysDriver, kEvSelect}) + sizes + bytes({static_cast<int>(next), 0, 0});
  return status_of(call(slot, body, raw));
}

int read_selected(int slot, int mode, int size, std::string* record) {
  std::string answer = call(slot, vlxtest::read_request(mode, 0, kReadSelected));
  int st = status_of(answer);
  if (st == 0) *record = answer.substr(1, static_cast<std::size_t>(size));
  return st;
}

std::vector<std::string> spool_files() {
  std::vector<std::string> files;
  std::string prefix = "vlxt" + std::to_string(::getpid()) + "_";
  for (const auto& e : fs::directory_iterator(vlxtest::install_dir() + "/tmp"))
    if (e.path().filename().string().rfind(prefix, 0) == 0) files.push_back(e.path().string());
  return files;
}

long negative_names() {
  std::ifstream state("/proc/sys/fs/dentry-state");
  long fields[5] = {-1, -1, -1, -1, -1};
  for (long& f : fields) state >> f;
  return state ? fields[4] : -1;
}

int open_descriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace tabletest
