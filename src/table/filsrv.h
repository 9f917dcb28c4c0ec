// The table request service: table slots, the per-table descriptor with
// its filters, key criteria and selections, the evaluation of filters on
// the current record, and the field loads of the calculator.
//
// Drivers register their handlers (fsr_in); the decoders of fsrelf read
// each request's fields, call the driver's handler and answer.
#pragma once

#include <cstdint>
#include <string>

#include "calc/acalc.h"
#include "calc/fplan.h"
#include "channel/protocol.h"
#include "image/vlxload.h"
#include "memory/vlxcbu.h"

inline constexpr int kTableSlots = 1024;
inline constexpr int kSelections = 4;
inline constexpr int kKeyValue = 501;
inline constexpr int kFoundSlots = 16;

// A field of the open request, from its description (kFieldDescription).
struct s_fld {
  std::uint32_t offset;  // of the field in the record
  std::int16_t type;     // storage type
  std::uint16_t length;
  std::uint16_t scale;
  char name[kFdNameBytes + 1];
  std::uint8_t flag;
};

// The open request as the driver's open handler receives it.
struct s_opn {
  int flags;
  int idmode;
  char name[256];
  char text2[256];
  char text3[256];
  int fieldCount;
  int indexCount;
  int recordLength;
  s_fld* fields;
  unsigned char* indexes;  // indexCount x 96 bytes as received
  bool hasLob;
  unsigned group;          // the table's group, created by the decoder
};

// A key value of a read request, as received.
struct s_keyv {
  const unsigned char* bytes;
  int length;
};

// Where and how a driver's raw record holds a field.
struct s_raw {
  std::uint32_t offset;
  std::int16_t type;
  std::uint16_t length;
};

struct s_filter {
  grctx* grammar;  // owned: released by fsrdlw
  unsigned node;
  int criterion;
  fplan plan;  // no tests: evaluated by the calculator
};

struct s_sel {
  grctx cells;       // the selection's own field nodes
  bool used;
  int fieldNodes;
  int size;          // stored size of the selected fields
  int flag;
  unsigned head;     // first list node
  int tableSlots[12];
};

struct s_fsr {
  unsigned group;
  int slot;
  cbu_ref record;     // the current raw record
  cbu_ref converted;  // the typed record, when conversion is wanted
  bool convert;
  const s_raw* rawForms;  // the conversion list: each field's raw form
  bool typed;             // `converted` holds the current record
  const s_fld* fields;
  int fieldCount;
  int currentKey[2];
  unsigned char keyValue[2][kKeyValue];
  int keyLength[2];
  s_sel selections[kSelections];
  s_filter filters[kFilters];
  std::int64_t position;  // offset of the current record
  cbu_ref subrecord;
  bool wholeRecord;
  int varClass;  // the class of the table's variables
};

// Process-wide tables.
extern s_fsr* Tfs[kTableSlots];
// The bytes of each open slot's fsr_record, which the field loads and the
// filters' plans read without looking the unit up at every record; no
// bytes for a slot that is not open.
extern plan_record Fsr_views[kTableSlots];
// ORDER FSRMOD: read modes 0..4, key comparison modes 5..9.
extern const unsigned char Fsrmod[16];

int op_tfs(s_fsr* descriptor);
int cl_tfs(s_fsr* descriptor);
// The descriptor of an open table slot, or null.
s_fsr* fsr_table(int slot);

// Gives the table a conversion list when a declared field is not where
// or as its raw form (rawForms[i] for field i) lies in the raw record:
// the typed record of `recordLength` bytes is created and the conversion
// flag set. 0 or a negated error.
// REQUIRES: rawForms holds d->fieldCount entries and lives as the table.
int fsr_convlist(s_fsr* d, const s_raw* rawForms, int recordLength);
// Converts the current raw record into the typed record. 0 or a negated
// error (a word that does not read as its field's type).
int fsr_convert(s_fsr* d);
// The record that filters, selections and answers see: the typed record
// when the current record was converted, else the raw record.
cbu_ref fsr_record(const s_fsr* d);
// Brings the slot's view up to date after its record units or d->typed
// changed.
void fsr_review(const s_fsr* d);

// Gives the open table its class of variables, a variable per declared
// field over the record that holds the fields (cre_FG), named `name`.
int fsr_class(s_fsr* d, const char* name);

int fsrukc(s_fsr* d, int key, int criterion);
int fsrocf(s_fsr* d, int key, const unsigned char* first, int firstLength, const unsigned char* second,
           int secondLength);
// Adds a filter; its number 1..4, or a negated error. The filter holds g
// from then on; on an error it is released.
int fsrinw(s_fsr* d, grammar_ptr g, unsigned node, int criterion);
int fsrdlw(s_fsr* d, int filter);
// 1 when the current record passes the filters of `criterion`, 0 when
// not, or a negated error.
int fsrtcs(s_fsr* d, int criterion);
// The text the first filter of `criterion` requires of the record, and
// the field that must hold it (plan_required_text); false when none.
bool fsr_required_text(const s_fsr* d, int criterion, const s_exp** field, std::string* text);
int fsrcsel(s_fsr* d, grctx* g, unsigned node, int flags, int selection, int* tableSlots, int count);
int fsrdsel(s_fsr* d, int selection);
// Builds the selected sub-record of the current record.
int rb2sb(int slot, s_fsr* d, grctx* cells, unsigned head, int size);

// Field loads of the calculator (codes 336 and 335).
int chamfi_g(res_u* result, grctx* g, s_exp* node, int code);
// The record chamfi_g reads for a field node's object id (plan_view_fn).
const plan_record* chamfi_view(unsigned table);
int kcmp_g(res_u* result, grctx* g, s_exp* node, int code);
