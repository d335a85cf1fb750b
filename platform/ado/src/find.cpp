// Recordset.Find: one criterion "Field op value", evaluated against the rows in memory.
#include <cctype>

#include "ado/recordset.h"
#include "automation/vbdate.h"
#include "automation/vbnumber.h"
#include "engine.h"

namespace ado {

using automation::Variant;

namespace {

enum class Op { Eq, Ne, Lt, Gt, Le, Ge, Like };

struct Criterion {
  std::string field;
  Op op = Op::Eq;
  Variant value;  // Null for the keyword NULL
};

[[noreturn]] void Malformed(std::string_view criteria, std::string_view why) {
  Raise(err::kInvalidArgument, "ADODB.Recordset",
        ErrorText(err::kInvalidArgument) + " (criterion \"" + std::string(criteria) + "\": " + std::string(why) + ")");
}

Criterion Parse(std::string_view s) {
  Criterion c;
  size_t i = 0, n = s.size();
  auto skip = [&] {
    while (i < n && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  };
  skip();
  if (i < n && s[i] == '[') {
    size_t close = s.find(']', i + 1);
    if (close == std::string_view::npos) Malformed(s, "unclosed [");
    c.field = std::string(s.substr(i + 1, close - i - 1));
    i = close + 1;
  } else {
    size_t start = i;
    while (i < n && !std::isspace(static_cast<unsigned char>(s[i])) && s[i] != '=' && s[i] != '<' && s[i] != '>' &&
           s[i] != '!')
      ++i;
    c.field = std::string(s.substr(start, i - start));
  }
  if (c.field.empty()) Malformed(s, "no field");
  skip();
  auto word = [&](std::string_view w) {
    if (i + w.size() <= n && detail::EqualNoCase(s.substr(i, w.size()), w) &&
        (i + w.size() == n || !std::isalnum(static_cast<unsigned char>(s[i + w.size()])))) {
      i += w.size();
      return true;
    }
    return false;
  };
  if (s.substr(i, 2) == "<>" || s.substr(i, 2) == "!=") {
    c.op = Op::Ne;
    i += 2;
  } else if (s.substr(i, 2) == "<=") {
    c.op = Op::Le;
    i += 2;
  } else if (s.substr(i, 2) == ">=") {
    c.op = Op::Ge;
    i += 2;
  } else if (i < n && s[i] == '=') {
    c.op = Op::Eq;
    ++i;
  } else if (i < n && s[i] == '<') {
    c.op = Op::Lt;
    ++i;
  } else if (i < n && s[i] == '>') {
    c.op = Op::Gt;
    ++i;
  } else if (word("LIKE")) {
    c.op = Op::Like;
  } else {
    Malformed(s, "no comparison operator");
  }
  skip();
  if (i >= n) Malformed(s, "no value");
  char q = s[i];
  if (q == '\'' || q == '"' || q == '#') {
    std::string text;
    ++i;
    bool closed = false;
    while (i < n) {
      if (s[i] == q) {
        if (q != '#' && i + 1 < n && s[i + 1] == q) {
          text += q;
          i += 2;
          continue;
        }
        closed = true;
        ++i;
        break;
      }
      text += s[i++];
    }
    if (!closed) Malformed(s, "unclosed value");
    if (q == '#') {
      auto d = automation::ParseDate(text);
      if (!d) Malformed(s, "not a date");
      c.value = Variant::FromDate(*d);
    } else {
      c.value = Variant(std::move(text));
    }
  } else if (word("NULL")) {
    c.value = Variant::Null();
  } else {
    size_t start = i;
    while (i < n && !std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    auto number = automation::ParseNumber(s.substr(start, i - start));
    if (!number) Malformed(s, "a text value needs quotes");
    c.value = Variant(*number);
  }
  skip();
  if (i != n) Malformed(s, "only one criterion is allowed");
  if (c.op == Op::Like && !c.value.IsString()) Malformed(s, "LIKE takes a quoted pattern");
  return c;
}

char Fold(char ch) { return static_cast<char>(std::tolower(static_cast<unsigned char>(ch))); }

// '%' and '*' stand for any run of characters; comparison without regard to case.
bool Like(std::string_view text, std::string_view pattern) {
  size_t t = 0, p = 0, starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '%' || pattern[p] == '*')) {
      starP = p++;
      starT = t;
    } else if (p < pattern.size() && Fold(pattern[p]) == Fold(text[t])) {
      ++p;
      ++t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && (pattern[p] == '%' || pattern[p] == '*')) ++p;
  return p == pattern.size();
}

bool Matches(const Variant& field, const Criterion& c) {
  if (c.value.IsNull()) {
    if (c.op == Op::Eq) return field.IsNull();
    if (c.op == Op::Ne) return !field.IsNull();
    return false;
  }
  if (field.IsNull()) return false;
  try {
    if (c.op == Op::Like) return Like(field.ToString(), *c.value.StringIf());
    int cmp;
    if (field.Type() == automation::VarType::Date && c.value.IsString()) {
      cmp = Variant::Compare(field, Variant::FromDate(c.value.ToDate()));
    } else if (field.IsString() || c.value.IsString()) {
      if (field.IsString() && c.value.IsString()) {
        cmp = Variant::Compare(field, c.value, true);
      } else if (field.IsNumeric() && c.value.IsNumeric()) {
        cmp = Variant::Compare(Variant(field.ToDouble()), Variant(c.value.ToDouble()));
      } else {
        cmp = Variant::Compare(Variant(field.ToString()), Variant(c.value.ToString()), true);
      }
    } else {
      cmp = Variant::Compare(field, c.value);
    }
    switch (c.op) {
      case Op::Eq: return cmp == 0;
      case Op::Ne: return cmp != 0;
      case Op::Lt: return cmp < 0;
      case Op::Gt: return cmp > 0;
      case Op::Le: return cmp <= 0;
      case Op::Ge: return cmp >= 0;
      default: return false;
    }
  } catch (const automation::ComError&) {
    return false;  // values that do not compare do not match
  }
}

}  // namespace

void Recordset::Find(const std::string& criteria, int32_t skipRows, int32_t direction, const Variant& start) {
  RequireOpen();
  Criterion c = Parse(criteria);
  size_t field = FieldIndex(c.field);
  if (skipRows < 0) Raise(err::kInvalidArgument, "ADODB.Recordset");
  bool forward = direction != adSearchBackward;
  BeginMove();
  std::ptrdiff_t from = pos_;
  if (!start.IsMissing() && !start.IsEmpty()) {
    SetBookmark(start);
    from = pos_;
  }
  auto count = static_cast<std::ptrdiff_t>(rows_.size());
  std::ptrdiff_t i = from;
  if (from == kBof) {
    if (!forward) return;
    i = NextVisible(0);
  } else if (from == kEof) {
    if (forward) return;
    i = PrevVisible(count - 1);
  }
  for (int32_t k = 0; k < skipRows && i >= 0; ++k) i = forward ? NextVisible(i + 1) : PrevVisible(i - 1);
  for (; i >= 0 && i < count; i += forward ? 1 : -1) {
    const Row& r = rows_[static_cast<size_t>(i)];
    if (!Visible(r)) continue;
    Variant v = r.change ? r.change->values[field] : cells_.Get(r.base + field);
    if (Matches(v, c)) {
      pos_ = i;
      return;
    }
  }
  pos_ = forward ? kEof : kBof;
}

}  // namespace ado
