#include "common/criteria.h"

#include <array>

namespace tamsolo::criteria {

namespace {

constexpr std::string_view kCrLf = "\r\n";

constexpr std::string_view kIs = "is (exactly)";
constexpr std::string_view kContains = "contains";
constexpr std::string_view kNotContains = "doesn't contain";
constexpr std::string_view kIsEmpty = "is empty";
constexpr std::string_view kNotEmpty = "is not empty";
constexpr std::string_view kOn = "on";
constexpr std::string_view kOnOrAfter = "on or after";
constexpr std::string_view kOnOrBefore = "on or before";
constexpr std::string_view kBetween = "between";

bool IsDateType(int32_t t) { return t == kDate || t == kDateTime; }
bool IsSingleDate(std::string_view op) { return op == kOn || op == kOnOrAfter || op == kOnOrBefore; }
bool IsTyped(std::string_view op) { return op == kContains || op == kNotContains || op == kIs; }

std::string Replace(std::string_view s, char from, char to) {
  std::string out(s);
  for (char& c : out)
    if (c == from) c = to;
  return out;
}

// Every double quote doubled, and back.
std::string DoubleQuotes(std::string_view s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '"') out += '"';
  }
  return out;
}
std::string SingleQuotes(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') ++i;
  }
  return out;
}

// q(): apostrophes doubled, for an SQL string.
std::string Q(std::string_view s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

// The text inside the first and last character; "" when there is nothing inside.
std::string_view Inner(std::string_view s) { return s.size() < 2 ? std::string_view() : s.substr(1, s.size() - 2); }

bool ReadNumber(std::string_view s, size_t& i, int& value, size_t minDigits, size_t maxDigits) {
  size_t start = i;
  value = 0;
  while (i < s.size() && i - start < maxDigits && s[i] >= '0' && s[i] <= '9') value = value * 10 + (s[i++] - '0');
  return i - start >= minDigits;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysIn(int y, int m) {
  static constexpr std::array<int, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[static_cast<size_t>(m - 1)];
}

std::string TwoDigits(int v) { return std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10); }

// The start of a day relative to now, as stored text; modifiers in SQLite's date language.
std::string DayStart(std::string_view modifiers) {
  return "strftime('%Y-%m-%d 00:00:00.000', GetDate()" + std::string(modifiers) + ")";
}

// col >= from and col < to.
std::string Range(const std::string& col, std::string_view from, std::string_view to) {
  return col + " >= " + DayStart(from) + " and " + col + " < " + DayStart(to);
}

// The relative date operators. Weeks run Monday to Sunday: the Monday on or before a day is six
// days back, then forward to the next Monday ("weekday 1" keeps a Monday).
std::string RelativeDate(const std::string& col, std::string_view op) {
  if (op == "yesterday") return Range(col, ", '-1 day'", "");
  if (op == "today") return Range(col, "", ", '+1 day'");
  if (op == "in the last 7 days") return Range(col, ", '-7 days'", ", '+1 day'");
  if (op == "this week") return Range(col, ", '-6 days', 'weekday 1'", ", '-6 days', 'weekday 1', '+7 days'");
  if (op == "last week") return Range(col, ", '-13 days', 'weekday 1'", ", '-6 days', 'weekday 1'");
  if (op == "this month") return Range(col, ", 'start of month'", ", 'start of month', '+1 month'");
  if (op == "last month") return Range(col, ", 'start of month', '-1 month'", ", 'start of month'");
  if (op == "any time") return col + " is not null";
  return {};
}

// A date value as SQL: the stored text when it reads as a date, otherwise as it was given.
std::string DateValue(std::string_view v, int32_t type) {
  std::string stored = StoredDateText(v, type == kDateTime);
  return stored.empty() ? std::string(v) : stored;
}

std::string DatePredicate(const FilterCriterion& c, const std::string& col) {
  const std::string& op = c.op;
  if (op == kOn) return col + " = '" + DateValue(c.value1, c.field->type) + "'";
  if (op == kOnOrAfter) return col + " >= '" + DateValue(c.value1, c.field->type) + "'";
  if (op == kOnOrBefore) return col + " <= '" + DateValue(c.value1, c.field->type) + "'";
  if (op == kBetween)
    return col + " between '" + DateValue(c.value1, c.field->type) + "' and '" + DateValue(c.value2, c.field->type) +
           "'";
  return RelativeDate(col, op);
}

std::string CommentPredicate(const FilterCriterion& c) {
  const std::string ofIssue =
      "exists(select * from IssueComments where IssueComments.IssueId = Issues.IssueId and IssueComments.Fieldname = '" +
      c.field->name + "'";
  const std::string like = " and IssueComments.CommentText like '%" + Q(c.value1) + "%')";
  if (c.op == kContains) return ofIssue + like;
  if (c.op == kNotContains) return "not " + ofIssue + like;
  if (c.op == kIsEmpty) return "not " + ofIssue + ")";
  if (c.op == kNotEmpty) return ofIssue + ")";
  return {};
}

std::string Predicate(const FilterCriterion& c) {
  if (!c.field || !OffersOperator(*c.field, c.op)) return {};
  const std::string& col = c.field->column;
  switch (c.field->type) {
    case kText:
    case kCode:
    case kProjectCode:
      if (c.op == kContains) return col + " like '%" + Q(c.value1) + "%'";
      if (c.op == kNotContains) return col + " not like '%" + Q(c.value1) + "%'";
      if (c.op == kIs) return col + " = '" + Q(c.value1) + "'";
      if (c.op == kIsEmpty) return col + " = ''";
      if (c.op == kNotEmpty) return col + " <> ''";
      return {};
    case kCheckBox:
      return col + (c.op == "is checked" ? " = 1" : " = 0");
    case kNumber:
      if (c.op == "is greater than") return col + " > " + c.value1;
      if (c.op == "is less than") return col + " < " + c.value1;
      return col + " = " + c.value1;
    case kDate:
    case kDateTime:
      return DatePredicate(c, col);
    case kCommentLog:
      return CommentPredicate(c);
    default:
      return {};
  }
}

std::string ValuePart(const FilterCriterion& c) {
  if (!c.field) return {};
  const int32_t t = c.field->type;
  if ((t == kText || t == kCode) && IsTyped(c.op)) return Quoted(DoubleQuotes(c.value1));
  if (t == kCommentLog && (c.op == kContains || c.op == kNotContains)) return Quoted(DoubleQuotes(c.value1));
  if (t == kProjectCode && IsTyped(c.op)) return Quoted(DoubleQuotes(c.value1)) + " " + Quoted(DoubleQuotes(c.value2));
  if (t == kNumber && OffersOperator(*c.field, c.op)) return c.value1;
  if (IsDateType(t) && IsSingleDate(c.op)) return Quoted(c.value1);
  if (IsDateType(t) && c.op == kBetween) return Quoted(c.value1) + " " + Quoted(c.value2);
  return {};
}

// Code 6: "value 1" "value 2", both with doubled double quotes.
void ReadProjectValues(std::string_view rest, FilterCriterion& c) {
  size_t i = 1;
  std::string v1;
  while (i < rest.size()) {
    if (rest[i] == '"') {
      if (i + 1 < rest.size() && rest[i + 1] == '"') {
        v1 += '"';
        i += 2;
        continue;
      }
      break;
    }
    v1 += rest[i++];
  }
  c.value1 = v1;
  size_t from = i + 3;  // past the closing quote, the space and the opening quote
  if (from < rest.size()) c.value2 = SingleQuotes(rest.substr(from, rest.size() - 1 - from));
}

// "between": the texts between the first and second, and the third and last double quotes.
void ReadBetween(std::string_view rest, FilterCriterion& c) {
  size_t q1 = rest.find('"');
  if (q1 == std::string_view::npos) return;
  size_t q2 = rest.find('"', q1 + 1);
  if (q2 == std::string_view::npos) return;
  c.value1 = std::string(rest.substr(q1 + 1, q2 - q1 - 1));
  size_t q3 = rest.find('"', q2 + 1);
  size_t last = rest.rfind('"');
  if (q3 != std::string_view::npos && last > q3) c.value2 = std::string(rest.substr(q3 + 1, last - q3 - 1));
}

void ReadValues(std::string_view rest, FilterCriterion& c) {
  const int32_t t = c.field->type;
  const std::string& op = c.op;
  if ((t == kText && IsTyped(op)) || t == kCode || (t == kCommentLog && (op == kContains || op == kNotContains))) {
    c.value1 = SingleQuotes(Inner(rest));
  } else if (t == kNumber) {
    c.value1 = std::string(rest);
  } else if (IsDateType(t) && IsSingleDate(op)) {
    c.value1 = std::string(Inner(rest));
  } else if (t == kProjectCode && IsTyped(op)) {
    ReadProjectValues(rest, c);
  } else if (IsDateType(t) && op == kBetween) {
    ReadBetween(rest, c);
  }
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The text up to the first space (all of it when there is none); `s` loses it and the space.
std::string_view Word(std::string_view& s) {
  size_t space = s.find(' ');
  std::string_view w = s.substr(0, space);
  s = space == std::string_view::npos ? std::string_view() : s.substr(space + 1);
  return w;
}

// The next CR LF-ended line of `s`; nullopt-like false when none is left.
bool NextLine(std::string_view& s, std::string_view& line) {
  size_t end = s.find(kCrLf);
  if (end == std::string_view::npos) return false;
  line = s.substr(0, end);
  s.remove_prefix(end + kCrLf.size());
  return true;
}

}  // namespace

std::vector<std::string> OperatorsOf(const FilterField& field) {
  switch (field.type) {
    case kText:
    case kProjectCode:
      return {"is (exactly)", "contains", "doesn't contain", "is empty", "is not empty"};
    case kCheckBox:
      return {"is checked", "is not checked"};
    case kNumber:
      return {"is (exactly)", "is greater than", "is less than"};
    case kDate:
    case kDateTime:
      return {"on",        "on or after", "on or before", "yesterday", "today",   "in the last 7 days",
              "last week", "this week",   "last month",   "this month", "between", "any time"};
    case kCode:
      if (field.name == "ProjectCode") return {"is (exactly)"};
      return {"is (exactly)", "contains", "doesn't contain", "is empty", "is not empty"};
    case kCommentLog:
      return {"contains", "doesn't contain", "is empty", "is not empty"};
    default:
      return {};
  }
}

bool OffersOperator(const FilterField& field, std::string_view op) {
  for (const std::string& o : OperatorsOf(field))
    if (o == op) return true;
  return false;
}

FieldCatalogue ReadAvailableFields(std::string_view text) {
  FieldCatalogue catalogue;
  auto line = [&] {
    std::string_view l;
    return NextLine(text, l) ? std::string(l) : std::string();
  };
  for (;;) {
    auto f = std::make_shared<FilterField>();
    f->name = line();
    if (f->name.empty()) break;
    f->column = line();
    f->caption = line();
    std::string code = line();
    size_t i = 0;
    int value = 0;
    f->type = ReadNumber(code, i, value, 1, 9) ? value : 0;
    if (f->type == kCode || f->type == kProjectCode) {
      for (;;) {
        std::string first = line();
        if (first.empty()) break;
        std::string second = line();
        if (!second.empty()) f->values.push_back({std::move(first), std::move(second)});
      }
    }
    catalogue.push_back(std::move(f));
  }
  return catalogue;
}

FieldRef FindField(const FieldCatalogue& catalogue, std::string_view name) {
  for (const FieldRef& f : catalogue)
    if (f && f->name == name) return f;
  return nullptr;
}

std::string FormatCriterionExpression(const FilterCriterion& c) {
  std::string out;
  if (c.conjunction == kAnd) out += "and ";
  if (c.conjunction == kOr) out += "or ";
  if (c.open) out += "(";
  if (c.negate) out += "not ";
  out += Replace(c.op, ' ', '_');
  out += " " + (c.field ? c.field->name : std::string()) + " ";
  out += ValuePart(c);
  if (c.close) out += ")";
  return out;
}

FilterCriterion ParseFilterExpression(std::string_view s, const FieldCatalogue& catalogue) {
  FilterCriterion c;
  if (StartsWith(s, "and ")) {
    c.conjunction = kAnd;
    s.remove_prefix(4);
  } else if (StartsWith(s, "or ")) {
    c.conjunction = kOr;
    s.remove_prefix(3);
  }
  if (StartsWith(s, "(")) {
    c.open = true;
    s.remove_prefix(1);
  }
  if (StartsWith(s, "not ")) {
    c.negate = true;
    s.remove_prefix(4);
  }
  c.op = Replace(Replace(Word(s), '_', ' '), '`', '\'');
  if (!s.empty() && s.back() == ')') {
    c.close = true;
    s.remove_suffix(1);
  }
  std::string_view name = Word(s);
  c.field = FindField(catalogue, name);
  if (c.field) ReadValues(s, c);
  return c;
}

std::string FormatCriterionSql(const FilterCriterion& c) {
  std::string out;
  if (c.conjunction == kAnd) out += "and ";
  if (c.conjunction == kOr) out += "or ";
  if (c.open) out += "(";
  if (c.negate) out += "not (";
  out += Predicate(c);
  if (c.negate) out += ")";
  if (c.close) out += ")";
  return out;
}

std::string FormatFilterExpression(const std::vector<FilterCriterion>& list) {
  std::string out;
  for (const FilterCriterion& c : list) out += FormatCriterionExpression(c) + std::string(kCrLf);
  return out;
}

std::string FormatFqFilterExpression(const std::vector<FilterCriterion>& list) {
  std::string out;
  for (const FilterCriterion& c : list) out += FormatCriterionSql(c) + std::string(kCrLf);
  return out;
}

ReadResult ReadFilterExpression(std::string_view text, const FieldCatalogue& catalogue) {
  ReadResult r;
  while (!text.empty()) {
    std::string_view line;
    if (!NextLine(text, line)) {
      line = text;
      text = {};
    }
    if (line.empty()) continue;
    FilterCriterion c = ParseFilterExpression(line, catalogue);
    if (!c.field) {
      if (!r.hasUnknownField) {
        std::string_view rest = line;
        for (std::string_view skip : {"and ", "or "})
          if (StartsWith(rest, skip)) rest.remove_prefix(skip.size());
        if (StartsWith(rest, "(")) rest.remove_prefix(1);
        if (StartsWith(rest, "not ")) rest.remove_prefix(4);
        Word(rest);
        if (!rest.empty() && rest.back() == ')') rest.remove_suffix(1);
        r.unknownField = std::string(Word(rest));
        r.hasUnknownField = true;
      }
      continue;
    }
    r.criteria.push_back(std::move(c));
  }
  return r;
}

bool IsNumberText(std::string_view v) {
  size_t i = 0;
  if (i < v.size() && v[i] == '-') ++i;
  int ignored = 0;
  if (!ReadNumber(v, i, ignored, 1, 9)) return false;
  if (i < v.size() && v[i] == '.') {
    ++i;
    if (!ReadNumber(v, i, ignored, 1, 9)) return false;
  }
  return i == v.size();
}

std::string StoredDateText(std::string_view v, bool withTime) {
  size_t i = 0;
  int month = 0, day = 0, year = 0, hour = 0, minute = 0;
  if (!ReadNumber(v, i, month, 1, 2) || i >= v.size() || v[i++] != '/') return {};
  if (!ReadNumber(v, i, day, 1, 2) || i >= v.size() || v[i++] != '/') return {};
  if (!ReadNumber(v, i, year, 4, 4)) return {};
  if (withTime && i < v.size()) {
    if (v[i++] != ' ' || !ReadNumber(v, i, hour, 1, 2) || i >= v.size() || v[i++] != ':' ||
        !ReadNumber(v, i, minute, 2, 2))
      return {};
  }
  if (i != v.size() || year < 100 || month < 1 || month > 12 || day < 1 || day > DaysIn(year, month) || hour > 23 ||
      minute > 59)
    return {};
  std::string y = std::to_string(year);
  return y + "-" + TwoDigits(month) + "-" + TwoDigits(day) + " " + TwoDigits(hour) + ":" + TwoDigits(minute) +
         ":00.000";
}

namespace {

std::string CriterionProblem(const FilterCriterion& c) {
  const FilterField& f = *c.field;
  if (!OffersOperator(f, c.op)) return "the condition '" + c.op + "' does not apply to the field '" + f.name + "'";
  if (f.type == kNumber && !IsNumberText(c.value1)) return "'" + c.value1 + "' is not a number";
  if (IsDateType(f.type) && (IsSingleDate(c.op) || c.op == kBetween)) {
    const bool time = f.type == kDateTime;
    if (StoredDateText(c.value1, time).empty()) return "'" + c.value1 + "' is not a date";
    if (c.op == kBetween && StoredDateText(c.value2, time).empty()) return "'" + c.value2 + "' is not a date";
  }
  return {};
}

}  // namespace

size_t ParenthesisMismatch(const std::vector<FilterCriterion>& list) {
  int depth = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    const FilterCriterion& c = list[i];
    if (c.open && !c.close) ++depth;
    if (c.close && !c.open && --depth < 0) return i;
  }
  return depth == 0 ? std::string::npos : list.size();
}

std::string CriteriaProblem(const std::vector<FilterCriterion>& list) {
  // A criterion's own faults are told before a ')' on it that closes nothing.
  const size_t mismatch = ParenthesisMismatch(list);
  for (size_t i = 0; i < list.size(); ++i) {
    const FilterCriterion& c = list[i];
    if (!c.field) return "a criterion names no field";
    if (i == 0 && c.conjunction != kNone) return "the first criterion cannot start with 'and' or 'or'";
    if (i > 0 && c.conjunction == kNone) return "the criterion on '" + c.field->name + "' needs 'and' or 'or'";
    if (std::string why = CriterionProblem(c); !why.empty()) return why;
    if (i == mismatch) return "mismatched parenthesis";
  }
  return mismatch == std::string::npos ? std::string() : "mismatched parenthesis";
}

}  // namespace tamsolo::criteria
