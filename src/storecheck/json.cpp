#include "json.h"

namespace loomreg {
namespace {

constexpr char kHex[] = "0123456789abcdef";

std::string Quoted(std::string_view bytes) {
  std::string out;
  AppendJsonString(out, bytes);
  return out;
}

// `"key":` and the value, each element after the first preceded by a comma.
class Object {
 public:
  explicit Object(Output& out) : out_(out) { out_ << '{'; }
  ~Object() { out_ << '}'; }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  void Raw(std::string_view key, std::string_view json) {
    out_ << (first_ ? "" : ",") << '"' << key << "\":" << json;
    first_ = false;
  }
  void String(std::string_view key, std::string_view bytes) { Raw(key, Quoted(bytes)); }
  void Number(std::string_view key, std::uint64_t n) { Raw(key, std::to_string(n)); }
  void Line(std::uint64_t line) { Raw("line", line == 0 ? "null" : std::to_string(line)); }
  void Name(const std::optional<std::string>& name) {
    Raw("name", name ? Quoted(*name) : std::string("null"));
  }

 private:
  Output& out_;
  bool first_ = true;
};

const char* StatusText(int exit_status) {
  switch (exit_status) {
    case kExitClean:
      return "\"clean\"";
    case kExitProblems:
      return "\"problems\"";
    default:
      return "\"unreadable\"";
  }
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view bytes) {
  out += '"';
  for (unsigned char c : bytes) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xf];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void WriteJson(const CheckReport& report, std::string_view version, Output& out) {
  const int exit_status = report.exit_status();
  {
    Object doc(out);
    doc.String("program", "loomreg-check");
    doc.String("version", version);
    doc.Raw("status", StatusText(exit_status));
    doc.Number("exit_status", static_cast<std::uint64_t>(exit_status));
    doc.Number("problems", report.Count(Severity::kProblem));
    doc.Number("notes", report.Count(Severity::kNote));
    doc.Raw("errors", "[");
    for (std::size_t i = 0; i < report.errors.size(); ++i) {
      out << (i == 0 ? "" : ",") << Quoted(report.errors[i].message());
    }
    out << ']';
    if (report.repairs != nullptr) {
      doc.Raw("repaired", report.repair_skipped ? "false" : "true");
      doc.Raw("repairs", "[");
      bool first = true;
      ForEachRepair(report, [&](const Repair& r) {
        out << (first ? "\n" : ",\n");
        first = false;
        Object item(out);
        item.String("action", ActionId(r.action));
        item.String("file", r.file);
        item.Line(r.line);
        item.Name(r.name);
        item.String("detail", r.detail);
      });
      out << "\n]";
    }
    doc.Raw("findings", "[");
    if (report.check != nullptr) {
      bool first = true;
      ForEachFinding(*report.check, [&](const Finding& f) {
        out << (first ? "\n" : ",\n");
        first = false;
        Object item(out);
        item.String("severity", SeverityOf(f.kind) == Severity::kProblem ? "problem" : "note");
        item.String("kind", KindId(f.kind));
        item.String("file", f.file);
        item.Line(f.line);
        item.Name(f.name);
        item.String("detail", f.detail);
        if (f.count > 0) item.Number("count", f.count);
        if (f.age_seconds >= 0) {
          item.Number("age_seconds", static_cast<std::uint64_t>(f.age_seconds));
        }
        if (f.size_bytes >= 0) {
          item.Number("size_bytes", static_cast<std::uint64_t>(f.size_bytes));
        }
      });
      if (!first) out << '\n';
    }
    out << ']';
  }
  out << '\n';
}

}  // namespace loomreg
