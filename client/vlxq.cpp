// vlxq: runs a command as a system table on a vlxsys server and prints
// its records, filtered and selected on the server.
//
//   vlxq [-n FIELDS] [--where EXPR] [--select LIST] [--last|--reverse]
//        [--tsv] [--server PATH] COMMAND
//
// Exit status: 0 done, 1 the server answered an error (its number and
// catalogue text are printed), 2 a usage or expression error.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "vlxclient.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDefaultFields = 8;

const char kUsage[] =
    "usage: vlxq [-n FIELDS] [--where EXPR] [--select LIST] [--last|--reverse] [--tsv]\n"
    "            [--server PATH] COMMAND\n"
    "  -n FIELDS      words of each output line taken as fields (default 8, empty\n"
    "                 trailing columns dropped)\n"
    "  --where EXPR   filter evaluated by the server: $1.. fields, 42, 3.5, \"text\",\n"
    "                 = <> < <= > >=, and, or, not, parentheses\n"
    "  --select LIST  fields to print, e.g. 1,4 or $1,$4\n"
    "  --last         print only the last record\n"
    "  --reverse      print the records from the last to the first\n"
    "  --tsv          tab-separated output instead of aligned columns\n"
    "  --server PATH  the vlxsys binary (default: next to vlxq, or ../vlxbin/)\n";

struct Options {
  int fields = 0;  // 0: not given
  std::string where, select, server, command;
  bool last = false, reverse = false, tsv = false;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int to_count(const std::string& text, const char* what) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(text) < 1)
    throw UsageError(std::string("bad ") + what + " '" + text + "'");
  return std::stoi(text);
}

Options parse_options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw UsageError(a + " needs a value");
      return argv[++i];
    };
    if (a == "-n")
      o.fields = to_count(value(), "field count");
    else if (a == "--where")
      o.where = value();
    else if (a == "--select")
      o.select = value();
    else if (a == "--server")
      o.server = value();
    else if (a == "--last")
      o.last = true;
    else if (a == "--reverse")
      o.reverse = true;
    else if (a == "--tsv")
      o.tsv = true;
    else if (a == "-h" || a == "--help")
      throw UsageError("");
    else if (a.size() > 1 && a[0] == '-' && o.command.empty())
      throw UsageError("unknown option " + a);
    else if (!o.command.empty())
      throw UsageError("one command only; quote it as one argument");
    else
      o.command = a;
  }
  if (o.command.empty()) throw UsageError("no command");
  if (o.last && o.reverse) throw UsageError("--last and --reverse exclude each other");
  return o;
}

std::vector<int> parse_select(const std::string& list) {
  std::vector<int> fields;
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t comma = list.find(',', at);
    std::string item = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    if (!item.empty() && item[0] == '$') item.erase(0, 1);
    fields.push_back(to_count(item, "field in --select"));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return fields;
}

std::string default_server(const char* argv0) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::absolute(argv0, ec);
  fs::path dir = self.parent_path();
  for (const fs::path& candidate : {dir / "vlxsys", dir / ".." / "vlxbin" / "vlxsys"}) {
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.lexically_normal().string();
  }
  throw UsageError("no vlxsys next to " + self.string() + " nor in ../vlxbin/; give --server PATH");
}

void print(std::vector<vlxc::Record> records, bool tsv, bool trim) {
  std::size_t columns = 0;
  for (const vlxc::Record& r : records) {
    std::size_t used = r.size();
    if (trim)
      while (used > 0 && r[used - 1].empty()) --used;
    columns = std::max(columns, used);
  }
  std::vector<std::size_t> width(columns, 0);
  for (const vlxc::Record& r : records)
    for (std::size_t c = 0; c < columns && c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
  for (vlxc::Record& r : records) {
    r.resize(columns);
    std::string line;
    for (std::size_t c = 0; c < columns; ++c) {
      if (c > 0) line += tsv ? "\t" : "  ";
      line += r[c];
      if (!tsv && c + 1 < columns) line.append(width[c] - r[c].size(), ' ');
    }
    if (!tsv) line.erase(line.find_last_not_of(' ') + 1);
    std::printf("%s\n", line.c_str());
  }
}

int run(const Options& o, const char* argv0) {
  std::vector<int> selected = o.select.empty() ? std::vector<int>{} : parse_select(o.select);
  std::optional<vlxc::Expr> where;
  if (!o.where.empty()) {
    try {
      where = vlxc::parse_where(o.where);
    } catch (const vlxc::ParseError& e) {
      throw UsageError(std::string("--where: ") + e.what());
    }
  }
  int fields = o.fields;
  if (fields == 0) {
    fields = kDefaultFields;
    if (where) fields = std::max(fields, vlxc::highest_field(*where));
    for (int f : selected) fields = std::max(fields, f);
  }
  if (where && vlxc::highest_field(*where) > fields)
    throw UsageError("--where names $" + std::to_string(vlxc::highest_field(*where)) + " beyond -n " +
                     std::to_string(fields));
  for (int f : selected)
    if (f > fields) throw UsageError("--select names $" + std::to_string(f) + " beyond -n " + std::to_string(fields));

  vlxc::Session session(o.server.empty() ? default_server(argv0) : o.server);
  std::vector<vlxc::Record> records;
  {
    vlxc::Table table = session.open(o.command, fields);
    if (where) table.filter(*where);
    if (!selected.empty()) table.select(selected);
    bool backwards = o.last || o.reverse;
    vlxc::Mode start = backwards ? vlxc::Mode::last : vlxc::Mode::first;
    vlxc::Mode step = backwards ? vlxc::Mode::previous : vlxc::Mode::next;
    for (auto r = table.read(start); r; r = o.last ? std::nullopt : table.read(step)) records.push_back(*r);
    table.close();
  }
  session.end();
  print(std::move(records), o.tsv, o.fields == 0 && selected.empty());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(parse_options(argc, argv), argv[0]);
  } catch (const UsageError& e) {
    if (e.what()[0] == '\0') {  // --help
      std::fputs(kUsage, stdout);
      return 0;
    }
    std::fprintf(stderr, "vlxq: %s\n", e.what());
    std::fputs(kUsage, stderr);
    return 2;
  } catch (const vlxc::Error& e) {
    std::fprintf(stderr, "vlxq: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vlxq: %s\n", e.what());
    return 1;
  }
}
