// The request automaton: a body is a sequence of one-byte events, each
// followed by its parameters. A node table and a transition table
// (base/check/default compression) map each event to a node; the node's
// parameter reader takes the parameters, calls the handler of the driver
// being served that the node stands for, and writes the acknowledgement.
// Walks may nest: the cursor is saved around each body.
//
// An instance of the automaton binds each node's reader to one member of
// its struct of typed handlers (`Driver`), so that a handler and the
// parameters its reader passes are checked by the compiler; the walk
// itself knows nothing of the instance.
#pragma once

#include <cstdint>

#include "diagnostics/log.h"

using afd_terminate = void (*)(int object, int event);

// A node: its reader, when it has one, takes the node's parameters, calls
// its handler in `driver` and answers.
template <class Driver>
struct s_etn {
  afd_terminate terminate;
  int (*reader)(int object, int event, const Driver& driver);
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

// Creates the automaton's memory group; 0 or the negated status.
int afd_in();

// Points the cursor and the acknowledgement slot at a body for the time of
// a walk, and back at the outer body afterwards.
class afd_body {
 public:
  afd_body(int ackSlot, const char* body, int length);
  ~afd_body();
  afd_body(const afd_body&) = delete;
  afd_body& operator=(const afd_body&) = delete;

 private:
  const unsigned char* prq_;
  const unsigned char* frq_;
  int iak_;
};

// The steps of a walk that know nothing of the instance. afd_event takes
// the next event (false at the end of the body or at a zero byte);
// afd_transition finds the state an event leads to from `base` (-1: the
// node's fallback, kAfdUnknown: no transition); afd_unknown drops the rest
// of the body and answers error 26, so that the peer and the loop go on.
inline constexpr int kAfdUnknown = -1000;
bool afd_event(int* event);
int afd_transition(vlx::span<const s_trs> transitions, int base, int event, int state);
int afd_unknown(int event, int state);

// One walk from `state` (a driver never installed, null, runs nothing).
// Returns the fallback of the last node reached, or the negative state
// that ended the walk.
template <class Driver>
int afdprs(vlx::span<const s_etn<Driver>> nodes, vlx::span<const s_trs> transitions, const Driver* driver,
           int object, int state) {
  int event;
  if (!afd_event(&event)) return state;
  for (;;) {
    int next = -1;
    // Fallbacks that never reach a transition would loop: bound them.
    for (std::size_t hops = 0;; ++hops) {
      if (state < 0) return state;
      if (static_cast<std::size_t>(state) >= nodes.size() || hops > nodes.size()) return afd_unknown(event, state);
      const s_etn<Driver>& node = nodes[static_cast<std::size_t>(state)];
      if (node.base >= 0) {
        next = afd_transition(transitions, node.base, event, state);
        if (next == kAfdUnknown) return afd_unknown(event, state);
        if (next >= 0) break;
      }
      state = node.fallback;
    }
    const s_etn<Driver>& node = nodes[static_cast<std::size_t>(state)];
    if (node.terminate != nullptr && next != state) {
      vlx::log::trace(vlx::log::automaton, "Terminate transition:%d event:%d nob:%d ", state, event, object);
      node.terminate(object, event);
    }
    if (static_cast<std::size_t>(next) >= nodes.size()) return afd_unknown(event, state);
    const s_etn<Driver>& reached = nodes[static_cast<std::size_t>(next)];
    if (driver != nullptr && reached.reader != nullptr) {
      vlx::log::trace(vlx::log::automaton, "Read parameters and execute node:%d", next);
      reached.reader(object, event, *driver);
    }
    if (!afd_event(&event)) return reached.fallback;
    state = next;
  }
}

// Parses a whole body: walks from `start` until a walk ends negative or
// the body ends or has a zero byte where an event would begin. Returns
// the negative result, else the last state (0 for an empty body).
template <class Driver>
int afd_an(vlx::span<const s_etn<Driver>> nodes, vlx::span<const s_trs> transitions, const Driver* driver,
           int ackSlot, int object, int start, const char* body, int length) {
  afd_body parsed(ackSlot, body, length);
  int result = 0;
  if (length > 0 && body[0] != 0) {
    do result = afdprs(nodes, transitions, driver, object, start);
    while (result >= 0 && Prq < Frq && *Prq != 0);
  }
  return result;
}

// Body field readers (on Prq/Frq); missing bytes read as zero.
int nxtcar();
int nxtint();
int nxtlng();
void nxtbuf(void* out, int count);
// REQUIRES: out has room for 256 bytes.
void nxtstr(char* out);

// Generic parameter readers (their name, event and object on the log):
// each reads its parameters and calls `handler` with them; a null handler
// stands for the default one, which does nothing and answers 0 (and zero
// values).
int xndatm(int object, int event, int (*handler)(int object));
// Answers nothing; the handler's result is returned.
int xndcls(int object, int event, int (*handler)(int object));
int xnlatm(int object, int event, int (*handler)(int object, int* out));
int xnsatm(int object, int event, int (*handler)(int object, char* text));
int xndub1(int object, int event, int (*handler)(int object, int byte));
int xndub2(int object, int event, int (*handler)(int object, int first, int second));
int xndul1(int object, int event, int (*handler)(int object, int value));
int xndul2(int object, int event, int (*handler)(int object, int value, int* out));
int xndbl2(int object, int event, int (*handler)(int object, int byte, int first, int second));
int xndst1(int object, int event, int (*handler)(int object, char* text));
int xndst2(int object, int event, int (*handler)(int object, char* first, char* second));
int xndu1s(int object, int event, int (*handler)(int object, int byte, char* text));
int xndust3(int object, int event,
            int (*handler)(int object, unsigned char byte, char* first, char* second, char* third));
int xndsl2(int object, int event, int (*handler)(int object, char* text, int first, int second));
// The two readers whose handler does not take the object.
int xndl1s(int object, int event, int (*handler)(int value, char* text, int* out));
int xndl2s(int object, int event, int (*handler)(char* first, char* second, int* out));
// Answers nothing: the handler acknowledges itself.
int xnvst1(int object, int event, int (*handler)(int object, char* text));

// Acknowledges a status, and with a status of 0 or more, 4 bytes.
int afd_ack_value(int status, int value);
