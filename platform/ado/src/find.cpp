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

// Reads a criterion from left to right.
class Scanner {
 public:
  explicit Scanner(std::string_view s) : s_(s), n_(s.size()) {}

  Criterion Read() {
    Criterion c;
    Skip();
    c.field = Field();
    if (c.field.empty()) Malformed(s_, "no field");
    Skip();
    c.op = Operator();
    Skip();
    if (i_ >= n_) Malformed(s_, "no value");
    c.value = Value();
    Skip();
    if (i_ != n_) Malformed(s_, "only one criterion is allowed");
    if (c.op == Op::Like && !c.value.IsString()) Malformed(s_, "LIKE takes a quoted pattern");
    return c;
  }

 private:
  void Skip() {
    while (i_ < n_ && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool Word(std::string_view w) {
    if (i_ + w.size() <= n_ && automation::EqualsNoCase(s_.substr(i_, w.size()), w) &&
        (i_ + w.size() == n_ || !std::isalnum(static_cast<unsigned char>(s_[i_ + w.size()])))) {
      i_ += w.size();
      return true;
    }
    return false;
  }
  bool Symbol(std::string_view sym) {
    if (s_.substr(i_, sym.size()) != sym) return false;
    i_ += sym.size();
    return true;
  }

  std::string Field() {
    if (i_ < n_ && s_[i_] == '[') {
      size_t close = s_.find(']', i_ + 1);
      if (close == std::string_view::npos) Malformed(s_, "unclosed [");
      std::string f(s_.substr(i_ + 1, close - i_ - 1));
      i_ = close + 1;
      return f;
    }
    size_t start = i_;
    while (i_ < n_ && !std::isspace(static_cast<unsigned char>(s_[i_])) && s_[i_] != '=' && s_[i_] != '<' &&
           s_[i_] != '>' && s_[i_] != '!')
      ++i_;
    return std::string(s_.substr(start, i_ - start));
  }

  Op Operator() {
    if (Symbol("<>") || Symbol("!=")) return Op::Ne;
    if (Symbol("<=")) return Op::Le;
    if (Symbol(">=")) return Op::Ge;
    if (Symbol("=")) return Op::Eq;
    if (Symbol("<")) return Op::Lt;
    if (Symbol(">")) return Op::Gt;
    if (Word("LIKE")) return Op::Like;
    Malformed(s_, "no comparison operator");
  }

  // A quoted text ('' or "" inside stands for the quote), a #date#, NULL or a number.
  Variant Value() {
    char q = s_[i_];
    if (q == '\'' || q == '"' || q == '#') return Quoted(q);
    if (Word("NULL")) return Variant::Null();
    size_t start = i_;
    while (i_ < n_ && !std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    auto number = automation::ParseNumber(s_.substr(start, i_ - start));
    if (!number) Malformed(s_, "a text value needs quotes");
    return Variant(*number);
  }

  Variant Quoted(char q) {
    std::string text;
    ++i_;
    bool closed = false;
    while (i_ < n_) {
      if (s_[i_] == q) {
        if (q != '#' && i_ + 1 < n_ && s_[i_ + 1] == q) {
          text += q;
          i_ += 2;
          continue;
        }
        closed = true;
        ++i_;
        break;
      }
      text += s_[i_++];
    }
    if (!closed) Malformed(s_, "unclosed value");
    if (q != '#') return Variant(std::move(text));
    auto d = automation::ParseDate(text);
    if (!d) Malformed(s_, "not a date");
    return Variant::FromDate(*d);
  }

  std::string_view s_;
  size_t n_;
  size_t i_ = 0;
};

Criterion Parse(std::string_view s) { return Scanner(s).Read(); }

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
  FetchAll();  // the criterion is tested on every row
  auto count = static_cast<std::ptrdiff_t>(rows_.Size());
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
    const Row& r = rows_.Get(static_cast<size_t>(i));
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
