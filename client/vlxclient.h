// The client side of the table protocol: starts a system table server as
// its parent process (descriptor form: vlxsys IN OUT SPARE), negotiates the
// protocol version and opens commands as tables, with filters, a field
// selection, positioned and keyed reads.
//
//   vlxc::Session s("/path/to/vlxsys");
//   vlxc::Table t = s.open("ps -eo user,pid,rss,comm", 4);
//   t.filter("F1 = \"root\" and val(F2) > 1000");
//   for (auto r = t.read(vlxc::Mode::first); r; r = t.read(vlxc::Mode::next)) ...
//
// Every error answer of the server, and every failure of the channel,
// throws vlxc::Error with the error number and its catalogue text. The
// client process is an engine process: the first session sets the memory
// ceiling, loads the English message file and ignores SIGPIPE; a lost
// server is an error, as the channel has no lost-peer routine here. The
// requests are built with the names of channel/protocol.h, and the library
// links the engine's folders up to compiled grammars only.
#pragma once

#include <sys/types.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel/protocol.h"
#include "filter.h"

namespace vlxc {

// The read modes of the protocol.
enum class Mode {
  first = kReadFirst,
  last = kReadLast,
  next = kReadNext,
  previous = kReadPrevious,
  current = kReadCurrent,
};

// Fields of one record as text (field_text of filter.h).
using Record = std::vector<std::string>;

struct Error : std::runtime_error {
  int number;             // the error number of the catalogue
  std::string catalogue;  // its text
  Error(const std::string& operation, int number, const std::string& detail = "");
};

class Session;

// An open table. Closes itself when destroyed (errors then are dropped);
// close() reports them.
// REQUIRES: a Table does not outlive the Session that opened it.
class Table {
 public:
  Table(Table&& other) noexcept;
  Table& operator=(Table&&) = delete;
  Table(const Table&) = delete;
  ~Table();

  int slot() const { return slot_; }
  int field_count() const { return fields_.count(); }
  const Fields& fields() const { return fields_; }
  // Names the fields after `words` (Fields::name) for later filters.
  void name_fields(const std::vector<std::string>& words) { fields_.name(words); }

  // Adds a filter (at most 4 per table): 4GL expression text, or SData
  // text when it starts with '@' (filter.h); returns its number, 1 to 4.
  // A text that does not compile throws CompileError.
  int filter(const std::string& text);
  void remove_filter(int number);
  // Records carry only these fields (1-based numbers), in this order.
  void select(const std::vector<int>& fields);
  void remove_selection();

  // The record read in `mode`, or nothing at the end (or start) of the table.
  std::optional<Record> read(Mode mode);
  // Read with key criteria: system tables know only key 0, a scan in
  // `mode` under the filters.
  std::optional<Record> read_key(int key, Mode mode);
  void close();

 private:
  friend class Session;
  Table(Session* session, int slot, Fields fields) : session_(session), slot_(slot), fields_(std::move(fields)) {}
  std::optional<Record> answer_record(const char* operation);

  Session* session_;
  int slot_;
  Fields fields_;
  bool filters_[kFilters] = {};
  std::vector<int> selected_;
};

class Session {
 public:
  // Starts the server at `serverPath` and negotiates version 20.
  explicit Session(const std::string& serverPath);
  // Connects to a server that its launcher starts for the connection (a
  // socket unit in accept mode, inetd: the server's standard-input form),
  // IPv4 `host` and `port`, and negotiates version 20; server_pid() is -1.
  Session(const std::string& host, int port);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  // Ends the session when end() was not called.
  ~Session();

  int protocol() const { return protocol_; }
  pid_t server_pid() const { return pid_; }

  // Opens `command` as a table of `fieldCount` fields, `types[i]` the type
  // of field i + 1 (text beyond): the server converts the words.
  Table open(const std::string& command, int fieldCount, const std::vector<Type>& types = {});
  // Sends the end of the session and waits for the server; its exit status
  // (over a connection: 0 once the server has closed it).
  int end();

 private:
  friend class Table;
  // Creates the channel's slot over the descriptors and negotiates.
  void negotiate(const std::string& server);
  // Frames a request on table `object` (0: none) and sends it with the
  // raw bytes that follow it.
  void send(const char* operation, int object, const std::string& body, const std::string& raw = "");
  // One status byte; throws on an error answer.
  int status(const char* operation);
  void bytes(const char* operation, void* out, int count);
  // Sends a compiled grammar request: body head, sizes, body tail, sections.
  void send_grammar(const char* operation, int table, fsr_event event, const std::string& tail, struct grctx* g);
  // Frees the slot and descriptors; kills a server that did not end.
  void release();
  [[noreturn]] void channel_failed(const char* operation, int st);

  pid_t pid_ = -1;
  int toServer_ = -1;
  int fromServer_ = -1;
  int slot_ = 0;           // communication slot of the channel
  unsigned group_ = 0;     // memory group that owns the slot
  int protocol_ = 0;
  bool ended_ = false;
};

}  // namespace vlxc
