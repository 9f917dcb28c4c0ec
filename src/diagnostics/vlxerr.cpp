#include "diagnostics/vlxerr.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <utility>

#include "diagnostics/callstack.h"
#include "diagnostics/log.h"

using namespace vlx;

int Errvlx;
char Errmes[256];
char16_t StuErrmes[256];
int Vstat1;
int Vlxerrno;
int SErrvlx0, SErrvlx1;
char SErrmes0[256], SErrmes1[256];
int Verrl;
char Verrp[256];
void (*Errdump)();
const char* (*Errtext)(int number);

namespace {

const char* error_text(int number) { return Errtext != nullptr ? Errtext(number) : ""; }

void copy_text(char* out, const char* text) {
  std::snprintf(out, 256, "%s", text);
}

// 16-bit text to 8-bit: characters beyond Latin-1 become '?'.
void stu_to_8bit(char* out, std::size_t size, const char16_t* text) {
  std::size_t i = 0;
  for (; i + 1 < size && text[i] != 0; ++i) out[i] = text[i] < 256 ? static_cast<char>(text[i]) : '?';
  out[i] = '\0';
}

void flush_context(const char* detail) {
  log::trace(log::system, "context program:'%s' line:%d detail:'%s'", Verrp, Verrl, detail);
  if (startFlushContext) log_call_stack(1);
}

struct MapSysToVlxError {
  // errno -> (error number, text); the first row of a key wins.
  static const std::map<int, std::pair<int, const char*>> statErrors;
  static std::map<int, std::pair<int, const char*>> build() {
    static const struct {
      int sys;
      int vlx;
      const char* text;
    } rows[] = {
        {EPERM, kErrAccess, "EPERM Not super-user"},
        {ENOENT, kErrFileNotFound, "ENOENT No such file or directory"},
        {ESRCH, kErrNoProcess, "ESRCH No such process"},
        {EAGAIN, kErrNoMemory, "EAGAIN No more processes"},
        {ENOMEM, kErrNoMemory, "ENOMEM Not enough memory"},
        {EACCES, kErrAccess, "EACCES Permission denied"},
        {EEXIST, kErrAccess, "EEXIST File exists"},
        {ENOTDIR, kErrFileNotFound, "ENOTDIR Not a directory"},
        {EISDIR, kErrAccess, "EISDIR Is a directory"},
        {ENFILE, kErrTooManyFiles, "ENFILE File table overflow"},
        {EMFILE, kErrTooManyFiles, "EMFILE Too many open files"},
        {EFBIG, kErrUlimit, "EFBIG File too large"},
        {ENOSPC, kErrDiskFull, "ENOSPC No space left on dev."},
        {EROFS, kErrAccess, "EROFS Read only file system"},
        {EDOM, kErrDomain, "EDOM Math arg out of dom."},
        {ERANGE, kErrDomain, "ERANGE Math res. not repr."},
        {EDEADLK, kErrLocked, "EDEADLK Dead lock condition"},
        {EDEADLOCK, kErrLocked, "EDEADLOCK file locking deadlock"},
        {ENOLCK, kErrLocked, "ENOLCK No locks available"},
        {ETXTBSY, kErrAccess, "ETXTBSY Text file busy"},
    };
    std::map<int, std::pair<int, const char*>> map;
    for (const auto& row : rows) map.emplace(row.sys, std::make_pair(row.vlx, row.text));
    return map;
  }
};
const std::map<int, std::pair<int, const char*>> MapSysToVlxError::statErrors = MapSysToVlxError::build();

}  // namespace

const char* catalogue_text(int number) {
  return number >= 0 && number < kErrcatSize ? Errcat[number][0] : "";
}

int err_vlx(short number, const char* format, ...) {
  char detail[256] = "";
  if (format != nullptr) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(detail, sizeof detail, format, ap);
    va_end(ap);
  }
  if (log::enabled(log::system)) {
    char when[64];
    std::time_t now = std::time(nullptr);
    std::strftime(when, sizeof when, "%x %X", std::localtime(&now));
    std::string text = error_text(number);
    log::trace(log::system, "err_vlx(%d,%s) at %s - Error %d='%s'", number, detail, when, number, text);
  }
  if (number == 0) return 0;
  if (Errvlx != 0) {
    log::trace(log::system, "err_vlx keep error Errvlx:%i Errmes:%s", Errvlx, Errmes);
  } else {
    SErrvlx1 = SErrvlx0;
    std::memcpy(SErrmes1, SErrmes0, sizeof SErrmes1);
    if (detail[0] != '\0') {
      copy_text(Errmes, detail);
      copy_text(SErrmes0, detail);
    }
    Errvlx = number;
    SErrvlx0 = number;
  }
  Vstat1 = number;
  if (number == kErrNoVariable || number == kErrFileNotFound) return -number;
  if (number == kErrNoMemory) {
    log::trace(log::system, "no more memory available");
    if (Errdump != nullptr) Errdump();
  }
  if (log::enabled(log::system)) flush_context(detail);
  return -number;
}

int err_vlx_stu(short number, const char16_t* text) {
  if (number == 0) return 0;
  if (StuErrmes[0] == 0 && Errvlx == 0) {
    if (text != nullptr && text[0] != 0) {
      std::size_t i = 0;
      for (; i < 255 && text[i] != 0; ++i) StuErrmes[i] = text[i];
      StuErrmes[i] = 0;
    }
    Errvlx = number;
  }
  Vstat1 = number;
  return -number;
}

void raz_err() {
  SErrvlx0 = SErrvlx1;
  std::memcpy(SErrmes0, SErrmes1, sizeof SErrmes0);
  Errmes[0] = '\0';
  StuErrmes[0] = 0;
  Verrp[0] = '\0';
  Errvlx = 0;
  Vstat1 = 0;
  Verrl = 0;
}

void gt_erm(char* out) {
  std::string text;
  if (Errmes[0] != '\0') {
    text = Errmes;
    text += " : ";
  }
  if (Errvlx != 0) {
    text += error_text(Errvlx);
    if ((Errvlx == kErrIsam || Errvlx == kErrSystem || Errvlx == kErrNetwork) && text.size() < 249) {
      char number[16];
      std::snprintf(number, sizeof number, "( %2d )", Vlxerrno);
      text += number;
    }
  }
  if (StuErrmes[0] != 0) {
    char narrow[256];
    stu_to_8bit(narrow, sizeof narrow, StuErrmes);
    text += " : \n";
    text += narrow;
  }
  std::size_t n = std::min<std::size_t>(text.size(), 255);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

void get_UtfErrorMessage(char* out) {
  if (Errmes[0] != '\0')
    copy_text(out, Errmes);
  else
    stu_to_8bit(out, 256, StuErrmes);
}

int set_vstat1(int sys_errno) {
  Vlxerrno = sys_errno;
  if (sys_errno == 0) {
    Vstat1 = kErrSystem;
    return -kErrSystem;
  }
  auto row = MapSysToVlxError::statErrors.find(sys_errno);
  if (row == MapSysToVlxError::statErrors.end()) {
    log::trace(log::system, "System error:%i - Unknown error:%i", sys_errno, sys_errno);
    Vstat1 = kErrSystem;
    return -kErrSystem;
  }
  log::trace(log::system, "System error:%i - %s", sys_errno, row->second.second);
  Vstat1 = row->second.first;
  return -row->second.first;
}

int get_last_errvlx() { return Errvlx; }

void throwException(int number) {
  switch (number < 0 ? -number : number) {
    case kErrNoMemory: throw PLUMEMException();
    case kErrInternal: throw ERINTException();
    case kErrFileNotFound: throw PAFICException();
    default: throw ERDEFException();
  }
}
