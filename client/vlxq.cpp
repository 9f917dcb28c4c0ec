// vlxq: runs a command as a system table on a vlxsys server and prints
// its records, filtered and selected on the server.
//
//   vlxq [-n FIELDS] [--header] [--types LIST] [--where EXPR] [--select LIST]
//        [--last|--reverse] [--tsv|--csv|--json] [--server PATH] COMMAND
//
// Exit status: 0 done, 1 the server answered an error (its number and
// catalogue text are printed), 2 a usage error or a filter that does not
// compile.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "vlxclient.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDefaultFields = 8;

const char kUsage[] =
    "usage: vlxq [-n FIELDS] [--header] [--types LIST] [--where EXPR] [--select LIST]\n"
    "            [--last|--reverse] [--tsv|--csv|--json] [--server PATH] COMMAND\n"
    "  -n FIELDS      words of each output line taken as fields (default 8, empty\n"
    "                 trailing columns dropped)\n"
    "  --header       the first output line names the fields; it is no record\n"
    "  --types LIST   field types converted by the server, e.g. 2:integer,3:decimal,\n"
    "                 5:date (words YYYYMMDD); text otherwise; not with --header\n"
    "  --where EXPR   filter evaluated by the server: a 4GL expression over the\n"
    "                 fields F1..Fn and the header's names, e.g.\n"
    "                 'F1 = \"root\" and val(F3) > 1000', or SData text: '@F1 eq \"root\"'\n"
    "  --select LIST  fields to print by name or number, e.g. 1,4 or NAME,F4\n"
    "  --last         print only the last record\n"
    "  --reverse      print the records from the last to the first\n"
    "  --tsv          tab-separated output instead of aligned columns\n"
    "  --csv          comma-separated output, quoted where needed\n"
    "  --json         an array of objects keyed by field name\n"
    "  --server PATH  the vlxsys binary (default: next to vlxq, or ../vlxbin/)\n";

enum class Form { columns, tsv, csv, json };

struct Options {
  int fields = 0;  // 0: not given
  std::string where, select, server, command;
  std::vector<vlxc::Type> types;
  bool header = false, last = false, reverse = false;
  Form form = Form::columns;
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

// ORDER TYPE: the names of vlxc::Type.
const char* const kTypeNames[] = {"text", "integer", "decimal", "date"};

// NUMBER:TYPE items: the type of each field up to the highest named.
std::vector<vlxc::Type> parse_types(const std::string& list) {
  std::vector<vlxc::Type> types;
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t comma = list.find(',', at);
    std::string item = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    std::size_t colon = item.find(':');
    if (colon == std::string::npos) throw UsageError("--types: '" + item + "' is not NUMBER:TYPE");
    int n = to_count(item.substr(0, colon), "field in --types");
    std::string name = item.substr(colon + 1);
    auto known = std::find(std::begin(kTypeNames), std::end(kTypeNames), name);
    if (known == std::end(kTypeNames)) throw UsageError("--types: unknown type '" + name + "'");
    if (types.size() < static_cast<std::size_t>(n)) types.resize(static_cast<std::size_t>(n), vlxc::Type::text);
    types[static_cast<std::size_t>(n - 1)] = static_cast<vlxc::Type>(known - std::begin(kTypeNames));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return types;
}

Options parse_options(int argc, char** argv) {
  Options o;
  bool formGiven = false;
  auto form = [&](Form f) {
    if (formGiven) throw UsageError("one of --tsv, --csv, --json only");
    formGiven = true;
    o.form = f;
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw UsageError(a + " needs a value");
      return argv[++i];
    };
    if (a == "-n")
      o.fields = to_count(value(), "field count");
    else if (a == "--types")
      o.types = parse_types(value());
    else if (a == "--where")
      o.where = value();
    else if (a == "--select")
      o.select = value();
    else if (a == "--server")
      o.server = value();
    else if (a == "--header")
      o.header = true;
    else if (a == "--last")
      o.last = true;
    else if (a == "--reverse")
      o.reverse = true;
    else if (a == "--tsv")
      form(Form::tsv);
    else if (a == "--csv")
      form(Form::csv);
    else if (a == "--json")
      form(Form::json);
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
  // The server converts every line it reads, the first one too: a header
  // would come back as numbers and dates.
  if (o.header && !o.types.empty()) throw UsageError("--types and --header exclude each other");
  if (o.fields != 0 && o.types.size() > static_cast<std::size_t>(o.fields))
    throw UsageError("--types names field " + std::to_string(o.types.size()) + " beyond -n " +
                     std::to_string(o.fields));
  return o;
}

// The items of --select: numbers, else names of the table's fields.
std::vector<int> parse_select(const std::string& list, const vlxc::Fields& fields) {
  std::vector<int> numbers;
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t comma = list.find(',', at);
    std::string item = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    int n = !item.empty() && item.find_first_not_of("0123456789") == std::string::npos
                ? to_count(item, "field in --select")
                : fields.find(item);
    if (n == 0) throw UsageError("--select: unknown field '" + item + "'");
    if (n > fields.count())
      throw UsageError("--select names field " + item + " beyond -n " + std::to_string(fields.count()));
    numbers.push_back(n);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return numbers;
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

std::string csv_field(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

// Prints the records in `form`; `names` heads the columns when given, and
// keys the objects of JSON, where the values of `numeric` columns are
// numbers.
void print(std::vector<vlxc::Record> records, std::vector<std::string> names, const std::vector<bool>& numeric,
           bool named, Form form, bool trim) {
  std::size_t columns = 0;
  for (const vlxc::Record& r : records) {
    std::size_t used = r.size();
    if (trim)
      while (used > 0 && r[used - 1].empty()) --used;
    columns = std::max(columns, used);
  }
  if (named) columns = std::max(columns, names.size());
  // Only trimmed columns lack a name: column c is then field c + 1.
  for (std::size_t c = names.size(); c < columns; ++c) names.push_back("F" + std::to_string(c + 1));
  names.resize(columns);
  if (form == Form::json) {
    // Numbers are written as the server's text of them, exactly: a JSON
    // library would round a 32-digit decimal through a double. Bytes that
    // are no UTF-8 cannot be JSON text: they become U+FFFD.
    auto text = [](const std::string& s) {
      return nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    };
    std::string out = "[";
    for (std::size_t i = 0; i < records.size(); ++i) {
      out += i == 0 ? "{" : ",{";
      for (std::size_t c = 0; c < columns; ++c) {
        const std::string& value = c < records[i].size() ? records[i][c] : std::string();
        out += (c == 0 ? "" : ",") + text(names[c]) + ":";
        out += c < numeric.size() && numeric[c] ? value : text(value);
      }
      out += "}";
    }
    std::printf("%s]\n", out.c_str());
    return;
  }
  if (named) records.insert(records.begin(), names);
  std::vector<std::size_t> width(columns, 0);
  for (const vlxc::Record& r : records)
    for (std::size_t c = 0; c < columns && c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
  for (vlxc::Record& r : records) {
    r.resize(columns);
    std::string line;
    for (std::size_t c = 0; c < columns; ++c) {
      if (c > 0) line += form == Form::tsv ? "\t" : form == Form::csv ? "," : "  ";
      line += form == Form::csv ? csv_field(r[c]) : r[c];
      if (form == Form::columns && c + 1 < columns) line.append(width[c] - r[c].size(), ' ');
    }
    if (form == Form::columns) line.erase(line.find_last_not_of(' ') + 1);
    std::printf("%s%s", line.c_str(), form == Form::csv ? "\r\n" : "\n");
  }
}

int run(const Options& o, const char* argv0) {
  int fields = o.fields == 0 ? std::max(kDefaultFields, static_cast<int>(o.types.size())) : o.fields;
  bool trim = o.fields == 0 && o.select.empty();
  vlxc::Session session(o.server.empty() ? default_server(argv0) : o.server);
  std::vector<vlxc::Record> records;
  std::vector<std::string> names;
  std::vector<bool> numeric;
  std::vector<int> selected;
  {
    vlxc::Table table = session.open(o.command, fields, o.types);
    // The header is read before any filter: the reads that follow go on
    // from it and never see it again.
    std::optional<vlxc::Record> header;
    if (o.header && (header = table.read(vlxc::Mode::first))) table.name_fields(*header);
    if (!o.where.empty()) table.filter(o.where);
    if (!o.select.empty()) {
      selected = parse_select(o.select, table.fields());
      table.select(selected);
    }
    if (selected.empty())
      for (int f = 1; f <= fields; ++f) selected.push_back(f);
    for (int f : selected) {
      names.push_back(table.fields().name(f));
      vlxc::Type t = table.fields().type(f);
      numeric.push_back(t == vlxc::Type::integer || t == vlxc::Type::decimal);
    }
    if (o.header && trim) {
      // Columns without a word in the header are named only when used.
      std::size_t words = 0;
      if (header)
        for (std::size_t c = 0; c < header->size(); ++c)
          if (!(*header)[c].empty()) words = c + 1;
      names.resize(words);
    }
    if (o.header) {
      // Forward from the header, whatever the order asked.
      if (header)
        for (auto r = table.read(vlxc::Mode::next); r; r = table.read(vlxc::Mode::next)) records.push_back(*r);
      if (o.reverse) std::reverse(records.begin(), records.end());
      if (o.last && records.size() > 1) records.erase(records.begin(), records.end() - 1);
    } else {
      bool backwards = o.last || o.reverse;
      vlxc::Mode start = backwards ? vlxc::Mode::last : vlxc::Mode::first;
      vlxc::Mode step = backwards ? vlxc::Mode::previous : vlxc::Mode::next;
      for (auto r = table.read(start); r; r = o.last ? std::nullopt : table.read(step)) records.push_back(*r);
    }
    table.close();
  }
  session.end();
  print(std::move(records), std::move(names), numeric, o.header, o.form, trim);
  return 0;
}

// The text, a caret under the column and the compiler's message.
void print_compile_error(const std::string& text, const vlxc::CompileError& e) {
  std::fprintf(stderr, "vlxq: --where does not compile:\n  %s\n", text.c_str());
  if (e.column > 0) std::fprintf(stderr, "  %*s^\n", e.column - 1, "");
  std::fprintf(stderr, "%s\n", e.message.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  try {
    o = parse_options(argc, argv);
    return run(o, argv[0]);
  } catch (const UsageError& e) {
    if (e.what()[0] == '\0') {  // --help
      std::fputs(kUsage, stdout);
      return 0;
    }
    std::fprintf(stderr, "vlxq: %s\n", e.what());
    std::fputs(kUsage, stderr);
    return 2;
  } catch (const vlxc::CompileError& e) {
    print_compile_error(o.where, e);
    return 2;
  } catch (const vlxc::Error& e) {
    std::fprintf(stderr, "vlxq: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vlxq: %s\n", e.what());
    return 1;
  }
}
