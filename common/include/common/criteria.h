// The three texts of a saved issue filter, shared by the query wizard in the page and by the
// library, which regenerates a wizard filter's SQL itself instead of storing what a browser sent:
//   AvailableFields     the catalogue of fields a criterion may name (written by the site),
//   FilterExpression    the criteria, one readable line each (kept so the wizard can edit them),
//   fqFilterExpression  the same criteria as an SQL condition over Issues (SQLite dialect).
// Every line of the three texts ends with CR LF. Pure code: no database, no platform layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tamsolo::criteria {

// Field type codes of FilterFieldType.
enum FieldType : int32_t {
  kText = 0,
  kCheckBox = 1,
  kNumber = 2,
  kDate = 3,
  kCode = 4,
  kCommentLog = 5,
  kProjectCode = 6,  // a code whose value list depends on the project
  kDateTime = 7,
};

// One value of a code field. Code 4: `second` is the value, `first` only measured by the wizard;
// code 6: `first` is the project, `second` the value.
struct ValuePair {
  std::string first;
  std::string second;
};

struct FilterField {
  std::string name;     // as written in FilterExpression; a comment log's field name
  std::string column;   // as it stands in SQL, normally "Issues." + the column
  std::string caption;  // shown to the user, unique in a catalogue
  int32_t type = kText;
  std::vector<ValuePair> values;  // codes 4 and 6
};

using FieldRef = std::shared_ptr<const FilterField>;
using FieldCatalogue = std::vector<FieldRef>;

enum Conjunction : int32_t { kAnd = 0, kOr = 1, kNone = 2 };

struct FilterCriterion {
  int32_t conjunction = kNone;
  bool open = false;    // "(" before
  bool close = false;   // ")" after
  bool negate = false;  // "not"
  FieldRef field;
  std::string op;  // one of the operator texts, spelled exactly
  std::string value1;
  std::string value2;
};

// The operators a field offers, in list order ("ProjectCode" offers only "is (exactly)"); none
// for an unknown type code.
std::vector<std::string> OperatorsOf(const FilterField& field);
bool OffersOperator(const FilterField& field, std::string_view op);

// Reads an AvailableFields text. A line is the text up to the next CR LF; a last line without one
// is not read. Each field: name, column, caption, type code (its leading decimal digits, else 0),
// then for codes 4 and 6 value pairs up to an empty first text (a pair with an empty second text
// is dropped). An empty name ends the catalogue.
FieldCatalogue ReadAvailableFields(std::string_view text);
// The catalogue entry of that name (compared case-sensitively); nullptr when there is none.
FieldRef FindField(const FieldCatalogue& catalogue, std::string_view name);

// One FilterExpression line, without its CR LF.
std::string FormatCriterionExpression(const FilterCriterion& c);
// Reads one FilterExpression line against the catalogue. `field` stays empty when the line names
// a field the catalogue lacks.
FilterCriterion ParseFilterExpression(std::string_view line, const FieldCatalogue& catalogue);
// One fqFilterExpression line, without its CR LF. Date values (en-US M/d/yyyy, with " HH:MM" for
// date-and-time fields) are written as the stored text 'YYYY-MM-DD HH:MM:SS.SSS'.
std::string FormatCriterionSql(const FilterCriterion& c);

// The whole texts: every criterion's line followed by CR LF (an empty list gives "").
std::string FormatFilterExpression(const std::vector<FilterCriterion>& list);
std::string FormatFqFilterExpression(const std::vector<FilterCriterion>& list);

// Reads a whole FilterExpression text: one criterion per non-empty line, a last line without CR
// LF included. Lines naming a field missing from the catalogue are dropped; the first such name
// is kept in `unknownField`.
struct ReadResult {
  std::vector<FilterCriterion> criteria;
  std::string unknownField;
  bool hasUnknownField = false;
};
ReadResult ReadFilterExpression(std::string_view text, const FieldCatalogue& catalogue);

// Why a list cannot become SQL that means what it says ("" when it can): an operator the field
// does not offer, a number or date value that does not read as one, a missing conjunction,
// mismatched parentheses. A phrase starting in lower case.
std::string CriteriaProblem(const std::vector<FilterCriterion>& list);
// Where the list's parentheses first fail to match: the index of a ')' with no '(' open before it,
// list.size() when some '(' is never closed, std::string::npos when they all match.
size_t ParenthesisMismatch(const std::vector<FilterCriterion>& list);

// "M/d/yyyy" (with " H:MM" when `withTime`) as "YYYY-MM-DD HH:MM:00.000"; "" when it is no date.
std::string StoredDateText(std::string_view value, bool withTime);
// True for an optional minus sign, digits and an optional fraction.
bool IsNumberText(std::string_view value);

}  // namespace tamsolo::criteria
