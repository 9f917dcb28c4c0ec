// The request automaton: a body is a sequence of one-byte events, each
// followed by its parameters. A node table and a transition table
// (base/check/default compression) map each event to a node; the node's
// parameter reader takes the parameters, calls the handler that the
// current driver installed in the node's slot, and writes the
// acknowledgement. Walks may nest: the cursor is saved around each body.
#pragma once

#include <cstdint>

#include "diagnostics/log.h"

// Handlers are stored untyped; each reader calls them with its own
// signature. afd_f0, the default, is never called: it answers 0.
using afd_fn = void (*)();
using afd_reader = int (*)(int object, int event, afd_fn handler);
using afd_terminate = void (*)(int object, int event);

struct s_etn {
  afd_terminate terminate;
  afd_reader reader;
  std::int32_t fallback;
  std::int32_t base;
};

struct s_trs {
  std::int32_t next;
  std::int32_t check;
};

// Parse cursor and acknowledgement slot of the body being parsed.
extern const unsigned char* Prq;
extern const unsigned char* Frq;
extern int Iak;

int afd_f0();
inline afd_fn afd_default() { return reinterpret_cast<afd_fn>(afd_f0); }

// Creates the automaton's memory group; 0 or the negated status.
int afd_in();

int afd_an(vlx::span<const s_etn> nodes, vlx::span<const s_trs> transitions, const afd_fn* handlers,
           int handlerCount, int ackSlot, int object, int start, const char* body, int length);
int afdprs(vlx::span<const s_etn> nodes, vlx::span<const s_trs> transitions, const afd_fn* handlers,
           int handlerCount, int object, int state);

// Body field readers (on Prq/Frq); missing bytes read as zero.
int nxtcar();
int nxtint();
int nxtlng();
void nxtbuf(void* out, int count);
// REQUIRES: out has room for 256 bytes.
void nxtstr(char* out);

// Calls a handler with the signature H; the default answers 0 uncalled.
template <class H, class... Args>
int afd_call(afd_fn handler, Args... args) {
  if (handler == afd_default() || handler == nullptr) return 0;
  return reinterpret_cast<H>(handler)(args...);
}

// Generic parameter readers.
int xndatm(int object, int event, afd_fn handler);
int xndcls(int object, int event, afd_fn handler);
int xnlatm(int object, int event, afd_fn handler);
int xnsatm(int object, int event, afd_fn handler);
int xndub1(int object, int event, afd_fn handler);
int xndub2(int object, int event, afd_fn handler);
int xndul1(int object, int event, afd_fn handler);
int xndul2(int object, int event, afd_fn handler);
int xndbl2(int object, int event, afd_fn handler);
int xndst1(int object, int event, afd_fn handler);
int xndst2(int object, int event, afd_fn handler);
int xndu1s(int object, int event, afd_fn handler);
int xndust3(int object, int event, afd_fn handler);
int xndsl2(int object, int event, afd_fn handler);
int xndl1s(int object, int event, afd_fn handler);
int xndl2s(int object, int event, afd_fn handler);
int xnvst1(int object, int event, afd_fn handler);

// Acknowledges a status, and with a status of 0 or more, 4 bytes.
int afd_ack_value(int status, int value);
