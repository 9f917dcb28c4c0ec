#include "channel/afd.h"

#include <cstring>

#include "base/bigend.h"
#include "channel/iocom.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "values/varstr.h"

using namespace vlx;

const unsigned char* Prq;
const unsigned char* Frq;
int Iak;

namespace {

unsigned Afdgroup;

void trace_reader(const char* name, int event, int object) {
  log::trace(log::automaton, "%s: car = %d nob = %d", name, event, object);
}

// An event the state does not know: the rest of the body is dropped and
// the error answered, so that the peer and the loop both go on.
int unknown_event(int event, int state) {
  Prq = Frq;
  int st = err_vlx(26, "Unknown nod received : %d", event);
  wc_ack(Iak, st);
  return state;
}

bool next_event(int* event) {
  if (Prq >= Frq) return false;
  *event = *Prq++;
  return *event != 0;
}

int status_ack(int status) {
  wc_ack(Iak, status);
  return status;
}

}  // namespace

int afd_f0() { return 0; }

int afd_in() {
  Afdgroup = adg_get(nullptr, nullptr, 20, "Automate Velmor");
  if (Afdgroup == 0 || adg_malloc(Afdgroup, 256) == nullptr) return -Vstat1;
  return 0;
}

int afd_an(vlx::span<const s_etn> nodes, vlx::span<const s_trs> transitions, const afd_fn* handlers,
           int handlerCount, int ackSlot, int object, int start, const char* body, int length) {
  const unsigned char* savedPrq = Prq;
  const unsigned char* savedFrq = Frq;
  int savedIak = Iak;
  Prq = reinterpret_cast<const unsigned char*>(body);
  Frq = Prq + (length > 0 ? length : 0);
  Iak = ackSlot;
  int result = 0;
  if (length > 0 && body[0] != 0) {
    do result = afdprs(nodes, transitions, handlers, handlerCount, object, start);
    while (result >= 0 && Prq < Frq && *Prq != 0);
  }
  Prq = savedPrq;
  Frq = savedFrq;
  Iak = savedIak;
  return result;
}

int afdprs(vlx::span<const s_etn> nodes, vlx::span<const s_trs> transitions, const afd_fn* handlers,
           int handlerCount, int object, int state) {
  int event;
  if (!next_event(&event)) return state;
  for (;;) {
    // Fallbacks that never reach a transition would loop: bound them.
    int next = -1;
    for (std::size_t hops = 0;; ++hops) {
      if (state < 0) return state;
      if (static_cast<std::size_t>(state) >= nodes.size() || hops > nodes.size()) return unknown_event(event, state);
      const s_etn& node = nodes[static_cast<std::size_t>(state)];
      if (node.base >= 0) {
        std::size_t index = static_cast<std::size_t>(node.base) + static_cast<std::size_t>(event);
        if (index >= transitions.size() || transitions[index].check != state) return unknown_event(event, state);
        next = transitions[index].next;
        log::trace(log::automaton, "Automate event:%d => next state:%d", event, next);
        if (next >= 0) break;
      }
      state = node.fallback;
    }
    const s_etn& node = nodes[static_cast<std::size_t>(state)];
    if (node.terminate != nullptr && next != state) {
      log::trace(log::automaton, "Terminate transition:%d event:%d nob:%d ", state, event, object);
      node.terminate(object, event);
    }
    if (next >= handlerCount || static_cast<std::size_t>(next) >= nodes.size()) return unknown_event(event, state);
    afd_fn handler = handlers[next];
    if (handler != nullptr) {
      if (afd_reader reader = nodes[static_cast<std::size_t>(next)].reader) {
        log::trace(log::automaton, "Read parameters and execute node:%d", next);
        reader(object, event, handler);
      } else {
        log::trace(log::automaton, "Execute node:%d", next);
        afd_call<int (*)(int, int)>(handler, object, event);
      }
    }
    if (!next_event(&event)) return nodes[static_cast<std::size_t>(next)].fallback;
    state = next;
  }
}

int nxtcar() { return Prq < Frq ? *Prq++ : 0; }

int nxtint() {
  if (Frq - Prq < 2) return 0;
  int value = get_be16(Prq);
  Prq += 2;
  return value;
}

int nxtlng() {
  if (Frq - Prq < 4) return 0;
  std::uint32_t value = get_be32(Prq);
  Prq += 4;
  return static_cast<int>(value);
}

void nxtbuf(void* out, int count) {
  if (count <= 0) return;
  int available = static_cast<int>(Frq - Prq);
  int take = count < available ? count : available;
  std::memcpy(out, Prq, static_cast<std::size_t>(take));
  std::memset(static_cast<unsigned char*>(out) + take, 0, static_cast<std::size_t>(count - take));
  Prq += take;
}

void nxtstr(char* out) {
  out[0] = '\0';
  if (Frq - Prq < 2) return;
  int bytes = nxtint() - 2;
  int characters = Frq - Prq < 2 ? 0 : nxtint();
  if (bytes <= 0) return;
  // The text as sent, missing bytes as zero, then decoded to 8 bits.
  char text[kRequestMax + 1];
  int take = bytes < kRequestMax ? bytes : kRequestMax;
  nxtbuf(text, take);
  if (bytes > take) Prq = Frq - Prq < bytes - take ? Frq : Prq + (bytes - take);
  text[take] = '\0';
  int limit = characters < 0 ? 0 : (characters > 255 ? 255 : characters);
  char decoded[256];
  int n = utftoptr(decoded, text, limit + 1);
  if (n < 0) n = 0;
  decoded[n < 255 ? n : 255] = '\0';
  std::memcpy(out, decoded, 256);
}

int afd_ack_value(int status, int value) {
  wc_ack(Iak, status);
  if (status >= 0) {
    unsigned char bytes[4];
    put_be32(bytes, static_cast<std::uint32_t>(value));
    wl_ack(Iak, bytes, 4);
  }
  return status;
}

int xndatm(int object, int event, afd_fn handler) {
  trace_reader("xndatm", event, object);
  return status_ack(afd_call<int (*)(int)>(handler, object));
}

int xndcls(int object, int event, afd_fn handler) {
  trace_reader("xndcls", event, object);
  return afd_call<int (*)(int)>(handler, object);
}

int xnlatm(int object, int event, afd_fn handler) {
  trace_reader("xnlatm", event, object);
  int value = 0;
  int st = afd_call<int (*)(int, int*)>(handler, object, &value);
  return afd_ack_value(st, value);
}

int xnsatm(int object, int event, afd_fn handler) {
  trace_reader("xnsatm", event, object);
  char text[256] = "";
  int st = status_ack(afd_call<int (*)(int, char*)>(handler, object, text));
  if (st >= 0) {
    text[255] = '\0';
    ws_ack(Iak, text);
  }
  return st;
}

int xndub1(int object, int event, afd_fn handler) {
  trace_reader("xndub1", event, object);
  int byte = nxtcar();
  return status_ack(afd_call<int (*)(int, int)>(handler, object, byte));
}

int xndub2(int object, int event, afd_fn handler) {
  trace_reader("xndub2", event, object);
  int first = nxtcar();
  int second = nxtcar();
  return status_ack(afd_call<int (*)(int, int, int)>(handler, object, first, second));
}

int xndul1(int object, int event, afd_fn handler) {
  trace_reader("xndul1", event, object);
  int value = nxtlng();
  return status_ack(afd_call<int (*)(int, int)>(handler, object, value));
}

int xndul2(int object, int event, afd_fn handler) {
  trace_reader("xndul2", event, object);
  int value = nxtlng();
  int out = 0;
  int st = afd_call<int (*)(int, int, int*)>(handler, object, value, &out);
  return afd_ack_value(st, out);
}

int xndbl2(int object, int event, afd_fn handler) {
  trace_reader("xndbl2", event, object);
  int byte = nxtcar();
  int first = nxtlng();
  int second = nxtlng();
  return status_ack(afd_call<int (*)(int, int, int, int)>(handler, object, byte, first, second));
}

int xndst1(int object, int event, afd_fn handler) {
  trace_reader("xndst1", event, object);
  char text[256];
  nxtstr(text);
  return status_ack(afd_call<int (*)(int, char*)>(handler, object, text));
}

int xndst2(int object, int event, afd_fn handler) {
  trace_reader("xndst2", event, object);
  char first[256], second[256];
  nxtstr(first);
  nxtstr(second);
  return status_ack(afd_call<int (*)(int, char*, char*)>(handler, object, first, second));
}

int xndu1s(int object, int event, afd_fn handler) {
  trace_reader("xndu1s", event, object);
  int byte = nxtcar();
  char text[256];
  nxtstr(text);
  return status_ack(afd_call<int (*)(int, int, char*)>(handler, object, byte, text));
}

int xndust3(int object, int event, afd_fn handler) {
  trace_reader("xndust3", event, object);
  int byte = nxtcar();
  char first[256], second[256], third[256];
  nxtstr(first);
  nxtstr(second);
  nxtstr(third);
  return status_ack(afd_call<int (*)(int, unsigned char, char*, char*, char*)>(
      handler, object, static_cast<unsigned char>(byte), first, second, third));
}

int xndsl2(int object, int event, afd_fn handler) {
  trace_reader("xndsl2", event, object);
  char text[256];
  nxtstr(text);
  int first = nxtlng();
  int second = nxtlng();
  return status_ack(afd_call<int (*)(int, char*, int, int)>(handler, object, text, first, second));
}

int xndl1s(int object, int event, afd_fn handler) {
  trace_reader("xndl1s", event, object);
  int value = nxtlng();
  char text[256];
  nxtstr(text);
  int out = 0;
  int st = afd_call<int (*)(int, char*, int*)>(handler, value, text, &out);
  return afd_ack_value(st, out);
}

int xndl2s(int object, int event, afd_fn handler) {
  trace_reader("xndl2s", event, object);
  char first[256], second[256];
  nxtstr(first);
  nxtstr(second);
  int out = 0;
  int st = afd_call<int (*)(char*, char*, int*)>(handler, first, second, &out);
  return afd_ack_value(st, out);
}

int xnvst1(int object, int event, afd_fn handler) {
  trace_reader("xnvst1", event, object);
  char text[256];
  nxtstr(text);
  return afd_call<int (*)(int, char*)>(handler, object, text);
}
