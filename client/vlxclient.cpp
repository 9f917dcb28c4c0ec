#include "vlxclient.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/bigend.h"
#include "channel/divcom.h"
#include "channel/iocom.h"
#include "channel/protocol.h"
#include "diagnostics/vlxerr.h"
#include "files/mess.h"
#include "files/spawn_sandbox.h"
#include "grammar/generator.h"
#include "grammar/parser.h"
#include "grammar/toktab.h"
#include "image/vlxfsq.h"
#include "image/vlxload.h"
#include "memory/vlxcalls.h"

namespace vlxc {

namespace {

constexpr int kMemoryKb = 64 * 1024;

// Once per process: memory, messages and the compiler's tables, its
// error lines kept off the client's output (CompileError carries them). A lost server is an error: the
// channel has no lost-peer routine here (Comlost).
void init_process() {
  static bool done = [] {
    ::signal(SIGPIPE, SIG_IGN);
    ini_malloc(kMemoryKb);
    ini_mess("ENG");
    inicom("");
    iniTokTab();
    grammar::Exception_fd = -1;
    grammar::L4gerror_fd = -1;
    iniTokTabSdata();
    raz_err();
    return true;
  }();
  (void)done;
}

std::string catalogue_of(int number) {
  const char* text = message(0, 13, number);
  if (text == nullptr || text[0] == '\0') text = catalogue_text(number);
  return text;
}

std::string what_of(const std::string& operation, int number, const std::string& detail) {
  std::string text = operation + ": error " + std::to_string(number) + " (" + catalogue_of(number) + ")";
  return detail.empty() ? text : text + ": " + detail;
}

void put8(std::string& s, int v) { s += static_cast<char>(v & 0xFF); }
void put_text(std::string& s, const std::string& text) {
  char field[kRequestMax];
  int n = reqstr(field, static_cast<int>(sizeof field), text.c_str());
  s.append(field, static_cast<std::size_t>(n));
}

std::string head(fsr_event event) { return {static_cast<char>(kSysDriver), static_cast<char>(event)}; }

// The description of field `number`: offset, storage type, length, name.
std::string field_description(const Fields& fields, int number) {
  const Form& f = fields.form(number);
  unsigned char d[kFieldDescription] = {};
  put_be32(d + kFdOffset, f.offset);
  put_be16(d + kFdType, f.storage);
  put_be16(d + kFdLength, f.length);
  put_be16(d + kFdScale, fields.type(number) == Type::text ? kFieldWidth : 0);
  std::snprintf(reinterpret_cast<char*>(d + kFdName), kFdNameBytes, "F%d", number);
  return std::string(reinterpret_cast<char*>(d), sizeof d);
}

// A grammar in its own memory group, freed with it.
struct Grammar {
  unsigned group = 0;
  grctx* g = nullptr;
  Grammar() {
    group = adg_get(nullptr, nullptr, kGrpServer, "vlxc grammar");
    if (group != 0) g = static_cast<grctx*>(adg_malloc(group, sizeof(grctx)));
    if (g != nullptr) {
      g->group = group;
      inigcl(g);
    }
  }
  ~Grammar() {
    if (group != 0) adg_free(group);
  }
};

}  // namespace

Error::Error(const std::string& operation, int n, const std::string& detail)
    : std::runtime_error(what_of(operation, n, detail)), number(n), catalogue(catalogue_of(n)) {}

// ---------------------------------------------------------------- Session

Session::Session(const std::string& serverPath) {
  init_process();
  int requests[2], answers[2], failure[2];
  if (::pipe2(requests, O_CLOEXEC) != 0) throw Error("start " + serverPath, -set_vstat1(errno));
  if (::pipe2(answers, O_CLOEXEC) != 0 || ::pipe2(failure, O_CLOEXEC) != 0) {
    int e = errno;
    ::close(requests[0]);
    ::close(requests[1]);
    throw Error("start " + serverPath, -set_vstat1(e));
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    // dup leaves the copies inheritable; everything else closes at exec.
    std::string in = std::to_string(::dup(requests[0])), out = std::to_string(::dup(answers[1]));
    const char* argv[] = {serverPath.c_str(), in.c_str(), out.c_str(), "-1", nullptr};
    ::execv(serverPath.c_str(), const_cast<char* const*>(argv));
    int e = errno;
    (void)!::write(failure[1], &e, sizeof e);
    ::_exit(127);
  }
  int forkErrno = errno;
  ::close(requests[0]);
  ::close(answers[1]);
  ::close(failure[1]);
  toServer_ = requests[1];
  fromServer_ = answers[0];
  int execErrno = 0;
  ssize_t got = 0;
  while (pid_ > 0 && (got = ::read(failure[0], &execErrno, sizeof execErrno)) < 0 && errno == EINTR) {
  }
  ::close(failure[0]);
  if (pid_ < 0 || got > 0) {
    int e = pid_ < 0 ? forkErrno : execErrno;
    int n = -set_vstat1(e);
    raz_err();
    ended_ = true;
    release();
    throw Error("start " + serverPath, n, std::strerror(e));
  }

  negotiate(serverPath);
}

void Session::negotiate(const std::string& server) {
  s_abv abv;
  static int sessions = 0;
  comabv(kSysService, ++sessions & 0xFF, &abv);
  group_ = adg_get(nullptr, nullptr, kGrpServer, "vlxc session %d", sessions);
  int st = group_ == 0 ? -Vstat1 : comSlot(kSysService, abv.b[1], &slot_);
  if (st >= 0)
    st = i_tcom(slot_, &abv, group_, kModePipe, toServer_, fromServer_, toServer_, fromServer_, 0, nullptr);
  if (st < 0) {
    raz_err();
    ended_ = true;
    release();
    throw Error("start " + server, -st);
  }

  try {
    std::string body = head(kEvVersion) + be32(kServiceVersion);
    send("version", 0, body);
    status("version");
    unsigned char version[4];
    bytes("version", version, 4);
    protocol_ = static_cast<int>(get_be32(version));
  } catch (const Error&) {
    ended_ = true;
    release();
    throw;
  }
  setProtocolVersion(slot_, protocol_);
  sethdvcom(slot_, protocol_);
}

Session::Session(const std::string& host, int port) {
  init_process();
  std::string server = host + ":" + std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (int e = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); e != 0)
    throw Error("connect " + server, kErrNetwork, ::gai_strerror(e));
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int e = fd < 0 ? errno : 0;
  while (fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) != 0 && (e = errno) == EINTR) {
  }
  ::freeaddrinfo(found);
  if (fd < 0 || e != 0) {
    if (fd >= 0) ::close(fd);
    throw Error("connect " + server, -set_vstat1(e), std::strerror(e));
  }
  // Requests go out as soon as they are written.
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  toServer_ = fromServer_ = fd;
  negotiate(server);
}

Session::~Session() {
  if (!ended_) {
    try {
      end();
    } catch (const Error&) {
    }
  }
  release();
}

void Session::release() {
  if (slot_ > 0) comFree(slot_);
  if (group_ != 0) adg_free(group_);
  slot_ = 0;
  group_ = 0;
  if (toServer_ >= 0) ::close(toServer_);
  if (fromServer_ >= 0 && fromServer_ != toServer_) ::close(fromServer_);
  toServer_ = fromServer_ = -1;
  if (pid_ > 0) {
    // A server that has not ended by now is not coming back.
    for (int i = 0; i < 200 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i) ::usleep(10000);
    if (::kill(pid_, 0) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
}

int Session::end() {
  if (ended_) throw Error("end", kErrInternal, "the session has ended");
  ended_ = true;
  wr_req(slot_, 0, 2, head(kEvEndSession).data());
  int st = com_flush(slot_);
  raz_err();
  if (toServer_ == fromServer_) {
    // Over a connection the server's end is the connection's: it closes
    // its side as it exits.
    char rest[256];
    for (ssize_t n = 1; n > 0 || (n < 0 && errno == EINTR);) n = ::read(fromServer_, rest, sizeof rest);
    return st < 0 ? st : 0;
  }
  ::close(toServer_);
  toServer_ = -1;
  int wstatus = 0;
  if (::waitpid(pid_, &wstatus, 0) != pid_) return st;
  pid_ = -1;
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

void Session::channel_failed(const char* operation, int st) {
  char detail[256];
  gt_erm(detail);
  raz_err();
  throw Error(operation, -st, detail);
}

void Session::send(const char* operation, int object, const std::string& body, const std::string& raw) {
  if (ended_) throw Error(operation, kErrInternal, "the session has ended");
  int st = wr_req(slot_, object, static_cast<int>(body.size()), body.data());
  if (st >= 0 && !raw.empty()) st = wl_req(slot_, raw.data(), static_cast<int>(raw.size()));
  if (st < 0) channel_failed(operation, st);
}

int Session::status(const char* operation) {
  char byte = 0;
  if (int st = rc_ack(slot_, &byte); st < 0) channel_failed(operation, st);
  int value = static_cast<signed char>(byte);
  if (value < 0) throw Error(operation, -value);
  return value;
}

void Session::bytes(const char* operation, void* out, int count) {
  if (int st = rl_ack(slot_, out, count); st < 0) channel_failed(operation, st);
}

void Session::send_grammar(const char* operation, int table, fsr_event event, const std::string& tail, grctx* g) {
  unsigned char sizes[16];
  int maxSize = 0;
  int n = getGrammarSize(g, sizes, &maxSize, slot_);
  if (n < 0) channel_failed(operation, n);
  std::string body = head(event);
  body.append(reinterpret_cast<char*>(sizes), static_cast<std::size_t>(n));
  body += tail;
  send(operation, table, body);
  std::vector<unsigned char> buffer(static_cast<std::size_t>(maxSize) + 1);
  if (int st = sendGrammarElements(slot_, sizes, g, buffer.data()); st < 0) channel_failed(operation, st);
}

Table Session::open(const std::string& command, int fieldCount, const std::vector<Type>& types) {
  std::string operation = "open '" + command + "'";
  if (fieldCount < 1 || fieldCount * kFieldDescription > 0x7FFF)
    throw Error(operation, kErrInternal, "bad field count");
  if (types.size() > static_cast<std::size_t>(fieldCount))
    throw Error(operation, kErrInternal, "more types than fields");
  Fields layout(fieldCount, types);
  if (command.size() > 255) throw Error(operation, kErrInternal, "command longer than 255 bytes");
  std::string body = head(kEvOpen);
  put8(body, 0);  // open flags: no query lines
  put8(body, 1);  // no database identifier with the name
  put_text(body, command);
  put_text(body, "");
  put_text(body, "");
  body += be16(fieldCount);
  put8(body, 0);  // indexes
  body += be32(static_cast<std::uint32_t>(layout.record_length()));
  std::string fields;
  for (int i = 1; i <= fieldCount; ++i) fields += field_description(layout, i);
  send(operation.c_str(), 0, body, fields);
  try {
    status(operation.c_str());
  } catch (const Error& e) {
    // The server runs the command only when its sandbox accepts it, and
    // logs a refusal where this process finds it too (same environment).
    if (e.number != kErrAccess) throw;
    throw Error(operation, e.number, "refused by the command sandbox; rejected commands are logged in " + bsys_path());
  }
  int slot;
  if (protocol_ > 10) {
    unsigned char two[2];
    bytes(operation.c_str(), two, 2);
    slot = static_cast<std::uint16_t>(get_be16(two));
  } else {
    slot = status(operation.c_str());
  }
  return Table(this, slot, std::move(layout));
}

// ---------------------------------------------------------------- Table

Table::Table(Table&& other) noexcept
    : session_(other.session_),
      slot_(other.slot_),
      fields_(std::move(other.fields_)),
      selected_(std::move(other.selected_)) {
  std::memcpy(filters_, other.filters_, sizeof filters_);
  other.session_ = nullptr;
}

Table::~Table() {
  if (session_ == nullptr || session_->ended_) return;
  try {
    close();
  } catch (const Error&) {
  }
}

void Table::close() {
  if (session_ == nullptr) throw Error("close", kErrInternal, "the table is closed");
  Session* s = session_;
  session_ = nullptr;
  s->send("close", slot_, head(kEvClose));
  s->status("close");
}

int Table::filter(const std::string& text) {
  const char* operation = "filter";
  if (session_ == nullptr) throw Error(operation, kErrInternal, "the table is closed");
  Grammar grammar;
  if (grammar.g == nullptr) session_->channel_failed(operation, -Vstat1);
  int root = compile_filter(text, fields_, slot_, grammar.g);
  std::string tail = be16(root);
  put8(tail, 0);  // criterion
  session_->send_grammar(operation, slot_, kEvAddFilter, tail, grammar.g);
  int number = session_->status(operation);
  // The server stores a filter in its first free entry; it may answer
  // that entry's number, else the client keeps the same count.
  if (number < 1 || number > kFilters) {
    number = 1;
    while (number <= kFilters && filters_[number - 1]) ++number;
    if (number > kFilters) number = kFilters;
  }
  filters_[number - 1] = true;
  return number;
}

void Table::remove_filter(int number) {
  if (session_ == nullptr) throw Error("remove filter", kErrInternal, "the table is closed");
  std::string body = head(kEvRemoveFilter);
  put8(body, number);
  session_->send("remove filter", slot_, body);
  session_->status("remove filter");
  if (number >= 1 && number <= kFilters) filters_[number - 1] = false;
}

void Table::select(const std::vector<int>& fields) {
  const char* operation = "select";
  if (session_ == nullptr) throw Error(operation, kErrInternal, "the table is closed");
  if (fields.empty() || fields.size() > 255) throw Error(operation, kErrInternal, "between 1 and 255 fields");
  for (int f : fields) {
    if (f < 1 || f > fields_.count()) throw Error(operation, kErrInternal, "no field $" + std::to_string(f));
  }
  Grammar grammar;
  if (grammar.g == nullptr) session_->channel_failed(operation, -Vstat1);
  int first = compile_fields(fields_, fields, slot_, grammar.g);
  if (first < 0) session_->channel_failed(operation, first);
  std::string tail;
  put8(tail, first);
  put8(tail, kSelectAlways);
  put8(tail, 0);  // the one selection of a system table
  session_->send_grammar(operation, slot_, kEvSelect, tail, grammar.g);
  session_->status(operation);
  selected_ = fields;
}

void Table::remove_selection() {
  if (session_ == nullptr) throw Error("remove selection", kErrInternal, "the table is closed");
  std::string body = head(kEvRemoveSelection);
  put8(body, 0);
  session_->send("remove selection", slot_, body);
  session_->status("remove selection");
  selected_.clear();
}

std::optional<Record> Table::answer_record(const char* operation) {
  int st = session_->status(operation);
  if (st != 0) return std::nullopt;
  std::vector<int> numbers = selected_;
  if (numbers.empty())
    for (int n = 1; n <= fields_.count(); ++n) numbers.push_back(n);
  std::size_t length = 0;
  for (int n : numbers) length += static_cast<std::size_t>(fields_.form(n).size);
  std::vector<unsigned char> raw(length);
  session_->bytes(operation, raw.data(), static_cast<int>(raw.size()));
  Record r;
  std::size_t at = 0;
  for (int n : numbers) {
    r.push_back(field_text(fields_.type(n), raw.data() + at));
    at += static_cast<std::size_t>(fields_.form(n).size);
  }
  return r;
}

std::optional<Record> Table::read(Mode mode) {
  const char* operation = "read";
  if (session_ == nullptr) throw Error(operation, kErrInternal, "the table is closed");
  std::string body = head(kEvRead) + be16(0);  // key
  put8(body, static_cast<int>(mode));
  body += be16(selected_.empty() ? 0 : kReadSelected);
  body += be16(0);  // no key value
  put8(body, 0);
  put8(body, 0);  // criterion and selection 0
  put_text(body, "");
  body += be16(0);  // no lock
  body += be32(0);
  body += be32(0);
  session_->send(operation, slot_, body);
  return answer_record(operation);
}

std::optional<Record> Table::read_key(int key, Mode mode) {
  const char* operation = "read with key";
  if (session_ == nullptr) throw Error(operation, kErrInternal, "the table is closed");
  std::string body = head(kEvReadKeys) + be16(key);
  put8(body, 1);  // one key criterion
  body += be16(static_cast<int>(mode));
  body += be16(0);  // first key value: none
  body += be16(0);  // second key value: none
  put8(body, 0);    // criterion and selection 0
  body += be32(0);
  put_text(body, "");
  body += be16(0);  // no lock
  body += be32(0);
  session_->send(operation, slot_, body);
  return answer_record(operation);
}

}  // namespace vlxc
