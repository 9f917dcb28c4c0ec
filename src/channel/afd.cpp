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

int status_ack(int status) {
  wc_ack(Iak, status);
  return status;
}

// Calls a handler; a null one is the default, which answers 0 uncalled.
template <class... Parameters, class... Arguments>
int call(int (*handler)(Parameters...), Arguments... arguments) {
  return handler != nullptr ? handler(arguments...) : 0;
}

}  // namespace

int afd_in() {
  Afdgroup = adg_get(nullptr, nullptr, kGrpSequential, "Automate Velmor");
  if (Afdgroup == 0 || adg_malloc(Afdgroup, 256) == nullptr) return -Vstat1;
  return 0;
}

afd_body::afd_body(int ackSlot, const char* body, int length) : prq_(Prq), frq_(Frq), iak_(Iak) {
  Prq = reinterpret_cast<const unsigned char*>(body);
  Frq = Prq + (length > 0 ? length : 0);
  Iak = ackSlot;
}

afd_body::~afd_body() {
  Prq = prq_;
  Frq = frq_;
  Iak = iak_;
}

bool afd_event(int* event) {
  if (Prq >= Frq) return false;
  *event = *Prq++;
  return *event != 0;
}

int afd_transition(vlx::span<const s_trs> transitions, int base, int event, int state) {
  std::size_t index = static_cast<std::size_t>(base) + static_cast<std::size_t>(event);
  if (index >= transitions.size() || transitions[index].check != state) return kAfdUnknown;
  int next = transitions[index].next;
  log::trace(log::automaton, "Automate event:%d => next state:%d", event, next);
  return next;
}

int afd_unknown(int event, int state) {
  Prq = Frq;
  int st = err_vlx(kErrInternal, "Unknown nod received : %d", event);
  wc_ack(Iak, st);
  return state;
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

int xndatm(int object, int event, int (*handler)(int)) {
  trace_reader("xndatm", event, object);
  return status_ack(call(handler, object));
}

int xndcls(int object, int event, int (*handler)(int)) {
  trace_reader("xndcls", event, object);
  return call(handler, object);
}

int xnlatm(int object, int event, int (*handler)(int, int*)) {
  trace_reader("xnlatm", event, object);
  int value = 0;
  int st = call(handler, object, &value);
  return afd_ack_value(st, value);
}

int xnsatm(int object, int event, int (*handler)(int, char*)) {
  trace_reader("xnsatm", event, object);
  char text[256] = "";
  int st = status_ack(call(handler, object, text));
  if (st >= 0) {
    text[255] = '\0';
    ws_ack(Iak, text);
  }
  return st;
}

int xndub1(int object, int event, int (*handler)(int, int)) {
  trace_reader("xndub1", event, object);
  int byte = nxtcar();
  return status_ack(call(handler, object, byte));
}

int xndub2(int object, int event, int (*handler)(int, int, int)) {
  trace_reader("xndub2", event, object);
  int first = nxtcar();
  int second = nxtcar();
  return status_ack(call(handler, object, first, second));
}

int xndul1(int object, int event, int (*handler)(int, int)) {
  trace_reader("xndul1", event, object);
  int value = nxtlng();
  return status_ack(call(handler, object, value));
}

int xndul2(int object, int event, int (*handler)(int, int, int*)) {
  trace_reader("xndul2", event, object);
  int value = nxtlng();
  int out = 0;
  int st = call(handler, object, value, &out);
  return afd_ack_value(st, out);
}

int xndbl2(int object, int event, int (*handler)(int, int, int, int)) {
  trace_reader("xndbl2", event, object);
  int byte = nxtcar();
  int first = nxtlng();
  int second = nxtlng();
  return status_ack(call(handler, object, byte, first, second));
}

int xndst1(int object, int event, int (*handler)(int, char*)) {
  trace_reader("xndst1", event, object);
  char text[256];
  nxtstr(text);
  return status_ack(call(handler, object, text));
}

int xndst2(int object, int event, int (*handler)(int, char*, char*)) {
  trace_reader("xndst2", event, object);
  char first[256], second[256];
  nxtstr(first);
  nxtstr(second);
  return status_ack(call(handler, object, first, second));
}

int xndu1s(int object, int event, int (*handler)(int, int, char*)) {
  trace_reader("xndu1s", event, object);
  int byte = nxtcar();
  char text[256];
  nxtstr(text);
  return status_ack(call(handler, object, byte, text));
}

int xndust3(int object, int event, int (*handler)(int, unsigned char, char*, char*, char*)) {
  trace_reader("xndust3", event, object);
  int byte = nxtcar();
  char first[256], second[256], third[256];
  nxtstr(first);
  nxtstr(second);
  nxtstr(third);
  return status_ack(call(handler, object, static_cast<unsigned char>(byte), first, second, third));
}

int xndsl2(int object, int event, int (*handler)(int, char*, int, int)) {
  trace_reader("xndsl2", event, object);
  char text[256];
  nxtstr(text);
  int first = nxtlng();
  int second = nxtlng();
  return status_ack(call(handler, object, text, first, second));
}

int xndl1s(int object, int event, int (*handler)(int, char*, int*)) {
  trace_reader("xndl1s", event, object);
  int value = nxtlng();
  char text[256];
  nxtstr(text);
  int out = 0;
  int st = call(handler, value, text, &out);
  return afd_ack_value(st, out);
}

int xndl2s(int object, int event, int (*handler)(char*, char*, int*)) {
  trace_reader("xndl2s", event, object);
  char first[256], second[256];
  nxtstr(first);
  nxtstr(second);
  int out = 0;
  int st = call(handler, first, second, &out);
  return afd_ack_value(st, out);
}

int xnvst1(int object, int event, int (*handler)(int, char*)) {
  trace_reader("xnvst1", event, object);
  char text[256];
  nxtstr(text);
  return call(handler, object, text);
}
