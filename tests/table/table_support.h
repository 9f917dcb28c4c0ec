// The table service in process: slot 1 over in-memory buffers, requests
// handed to fsr_an as the request loop would, answers taken back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bigend.h"
#include "image/vlxload.h"
#include "support/peer.h"

namespace tabletest {

using vlxtest::bytes;
using vlxtest::Field;
using vlxtest::text;

// Sets up the engine once (memory, messages, sandbox, calculator, driver 3)
// and gives slot 1 protocol version 20.
void start_engine();

// The data folder of the test installation (vlxtest::data_file).
std::string data_dir();

// Sends one request (body, then the raw bytes that follow it); returns
// everything answered.
std::string call(int object, const std::string& body, const std::string& raw = "");

// A test of the service in process: the engine started, the error state
// cleared after each test.
class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_engine(); }
  void TearDown() override;
};
// The bytes sent after a request body that no decoder read, taken away.
std::string unread();

// Opens `command` with the declared fields; the table slot or a negated error.
int open_declared(const std::string& command, const std::vector<Field>& fields, int recordLength);
// Opens `command` with `fields` text fields of 255 bytes.
int open_table(const std::string& command, int fields = 3);
// Opens `cat` of the data file `name` holding `text`.
int open_text(const std::string& name, const std::string& text, int fields = 3);
// A read answering the record's bytes as they are sent (on status 0).
int read_record(int slot, int mode, std::string* record);
// A read; fills `fields` from the record answered. Returns the status.
int read_table(int slot, int mode, std::vector<std::string>* fields, int criterion = 0, int fieldCount = 3);
int read_by_key(int slot, int key, int count, int mode, std::vector<std::string>* fields);
int close_table(int slot);

// Filters: grammar cells of "field n (0-based) <op> 'literal'" joined by and.
struct Condition {
  int field;
  const char* op;  // = <> < > <= >=
  std::string literal;
};
// Adds a filter to table `slot`; the answer's status byte (filter number).
int add_filter(int slot, const std::vector<Condition>& conditions, int criterion = 0);
// A filter of one declared field compared with a literal of the grammar
// builder's notation (123, 1.5, 'text', @2024-03-01).
int add_field_filter(int slot, const Field& field, const char* op, const std::string& literal);
// A filter of one condition sent with `root` as its node, whatever the
// grammar holds.
int add_filter_rooted(int slot, const Condition& condition, unsigned root);
// Sends g (freed afterwards) as a filter rooted at `root`.
int add_filter_grammar(int slot, grctx& g, unsigned root, int criterion = 0);
// The size list and the sections of g as a client sends them.
std::string encode_grammar(grctx* g, std::string* sizes);
int remove_filter(int slot, int filter);
// Selection 0 of fields (0-based, in request order).
int select(int slot, const std::vector<int>& fields);
// Status and the sub-record of a read with conversion.
int read_selected(int slot, int mode, int size, std::string* record);

// The spool files of this process.
std::vector<std::string> spool_files();
int open_descriptors();

// The kernel's count of remembered missing names (deleted files among
// them), machine-wide; -1 where it cannot be read.
long negative_names();

}  // namespace tabletest
