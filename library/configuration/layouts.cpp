// The users' summary layouts (CreateLayout, UpdateLayout, DeleteLayout) and the issue entry layout
// (UpdateDataEntryLayout). Both are posted as grids of cells; stored rows and cells leave no gaps.
#include "automation/text.h"
#include "configuration/code_table_writers.h"
#include "configuration/issue_form.h"
#include "core/buffer.h"
#include "core/conversions.h"
#include "core/writer.h"

namespace brisquel {

using automation::Variant;
using codetables::kClass;

namespace {

using automation::EqualsNoCase;

// Layout names are created up to 20 characters and renamed up to 50: bound at 50.
ado::Param LayoutName(const std::string& name) { return ado::Param::Text(name, 50); }
ado::Param User(const std::string& userId) { return ado::Param::Text(userId, 50); }

struct Grid {
  std::string name;
  std::vector<std::vector<std::string>> rows;
  int32_t UsedRows() const {
    int32_t n = 0;
    for (const auto& row : rows)
      for (const std::string& cell : row)
        if (!cell.empty()) {
          ++n;
          break;
        }
    return n;
  }
};

Grid ReadGrid(const FormFields& f) {
  Grid g{PostedText(f, "LayoutName"), {}};
  int32_t perRow = 0;
  if (!CnvToLong(PostedText(f, "NumIssueFields"), perRow) || perRow < 1)
    Refuse("The number of fields per row must be a whole number of at least 1.");
  const std::vector<std::string>& cells = f.Values("Field");
  if (cells.size() % static_cast<size_t>(perRow) != 0) Refuse("The layout grid must hold whole rows of fields.");
  for (const std::string& cell : cells) CheckLength(cell, 20, "Field name");
  for (size_t i = 0; i < cells.size(); i += static_cast<size_t>(perRow))
    g.rows.emplace_back(cells.begin() + static_cast<std::ptrdiff_t>(i),
                        cells.begin() + static_cast<std::ptrdiff_t>(i) + perRow);
  return g;
}

void WriteCells(Database& db, const std::string& userId, const std::string& name, const Grid& g) {
  int32_t rowNumber = 1;
  for (const auto& row : g.rows) {
    int32_t order = 1;
    for (const std::string& cell : row) {
      if (cell.empty()) continue;
      db.Exec("insert into SummaryLayoutFields (UserId, LayoutName, RowNumber, FieldName, DisplayOrder) values (?, ?, "
              "?, ?, ?)",
              {User(userId), LayoutName(name), ado::Param::Long(rowNumber), ado::Param::Text(cell, 20),
               ado::Param::Long(order++)});
    }
    if (order > 1) ++rowNumber;
  }
}

void DeleteCells(Database& db, const std::string& userId, const std::string& name) {
  db.Exec("delete from SummaryLayoutFields where UserId = ? and LayoutName = ?", {User(userId), LayoutName(name)});
}

constexpr std::string_view kLayoutChanged = "Another user has changed this layout. You must cancel your changes.";

std::string LayoutExists(const std::string& name) { return "The layout '" + name + "' already exists."; }

}  // namespace

bool CreateLayout(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, "CreateLayout", [&] {
    const Grid g = ReadGrid(PostedFields(formData, "CreateLayout"));
    if (CharLength(g.name) > 20) Refuse("Name cannot be longer than 20 characters.");
    if (g.name.empty()) Refuse("Name cannot be blank.");
    Database::Transaction tx(db);
    WriteStep(
        db,
        [&] {
          db.Exec("insert into SummaryLayouts (UserId, LayoutName, NumRows) values (?, ?, ?)",
                  {User(userId), LayoutName(g.name), ado::Param::Long(g.UsedRows())});
          WriteCells(db, userId, g.name, g);
          tx.Commit();
        },
        [&](const automation::LastError& e) { return DuplicateFailure(db, e, LayoutExists(g.name)); });
    return true;
  });
}

bool UpdateLayout(Database& db, const std::string& userId, RecordsetPtr rsLayout,
                  std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "UpdateLayout";
  return Writer(db, kClass, kMethod, [&] {
    ado::Recordset& rs = HeldRows(rsLayout, "SummaryLayouts", kMethod);
    const Grid g = ReadGrid(PostedFields(formData, kMethod));
    if (rs.RecordCount() > 0) rs.MoveFirst();
    if (rs.IsEOF() || !EqualsNoCase(rs.Value("UserId").ToString(), userId))
      ThrowInputFault(kClass, kMethod, "The layout is not one of " + userId + "'s layouts.");
    if (CharLength(g.name) > 50) Refuse("Name cannot be longer than 50 characters.");
    if (g.name.empty()) Refuse("Name cannot be blank.");
    const std::string stored = rs.Value("LayoutName").ToString();
    const std::string name = EqualsNoCase(stored, "Default") ? stored : g.name;
    rs.SetValue("NumRows", Variant(g.UsedRows()));
    if (name != stored) rs.SetValue("LayoutName", Variant(name));
    Database::Transaction tx(db);
    WriteStep(
        db,
        [&] {
          DeleteCells(db, userId, stored);
          db.WriteBack(rs);
          WriteCells(db, userId, name, g);
          tx.Commit();
        },
        [&](const automation::LastError& e) {
          return db.IsConflict() ? std::string(kLayoutChanged) : DuplicateFailure(db, e, LayoutExists(g.name));
        });
    return true;
  });
}

bool DeleteLayout(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, "DeleteLayout", [&] {
    const std::vector<std::string> checked =
        PostedKeys(PostedFields(formData, "DeleteLayout"), "chkLayout", "layout name", 50);
    Database::Transaction tx(db);
    for (const std::string& name : checked) {
      WriteStep(db, [&] {
        DeleteCells(db, userId, name);
        db.Exec("delete from SummaryLayouts where UserId = ? and LayoutName = ?", {User(userId), LayoutName(name)});
      });
      if (db.One<int32_t>("select count(*) from SummaryLayouts where UserId = ?", {User(userId)}).value_or(0) == 0)
        Refuse("Cannot delete your last layout (at least one layout is required).");
    }
    tx.Commit();
    return true;
  });
}

namespace {

// The entry form's grid: per editor row the number of cells used ("" for a row not in use) and
// five cells.
struct EntryGrid {
  std::vector<std::optional<int32_t>> used;
  std::vector<std::string> cells;
};

EntryGrid ReadEntryGrid(const FormFields& f) {
  EntryGrid g;
  for (const std::string& v : f.Values("NumFields")) {
    const std::string t(TrimSpaces(v));
    int32_t n = 0;
    if (t.empty()) {
      g.used.emplace_back();
      continue;
    }
    if (t.find_first_not_of("0123456789") != std::string::npos || !CnvToLong(t, n) || n > 5)
      Refuse("The number of fields of a row must be a whole number from 0 to 5.");
    g.used.emplace_back(n);
  }
  g.cells = f.Values("Field");
  if (g.cells.size() < g.used.size() * 5) Refuse("The entry form grid must hold five cells for every row.");
  for (const std::string& cell : g.cells) CheckLength(cell, 20, "Field name");
  return g;
}

void WriteEntryCells(Database& db, const EntryGrid& g) {
  db.Exec("delete from DataEntryLayoutFields where LayoutId = 1");
  int32_t rowNumber = 1;
  for (size_t r = 0; r < g.used.size(); ++r) {
    if (!g.used[r]) continue;
    int32_t order = 1;
    for (int32_t c = 0; c < *g.used[r]; ++c)
      db.Exec("insert into DataEntryLayoutFields (LayoutId, RowNumber, FieldName, DisplayOrder) values (1, ?, ?, ?)",
              {ado::Param::Long(rowNumber), ado::Param::Text(g.cells[r * 5 + static_cast<size_t>(c)], 20),
               ado::Param::Long(order++)});
    if (order > 1) ++rowNumber;
  }
}

}  // namespace

bool UpdateDataEntryLayout(Database& db, const std::string& userId, RecordsetPtr rsLayout,
                           std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "UpdateDataEntryLayout";
  return Writer(db, kClass, kMethod, [&] {
    ado::Recordset& rs = HeldRows(rsLayout, "DataEntryLayouts", kMethod);
    const EntryGrid g = ReadEntryGrid(PostedFields(formData, kMethod));
    if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    int32_t numRows = 0;
    bool project = false;
    for (size_t r = 0; r < g.used.size(); ++r) {
      if (!g.used[r]) continue;
      ++numRows;
      for (int32_t c = 0; c < *g.used[r]; ++c)
        project |= EqualsNoCase(g.cells[r * 5 + static_cast<size_t>(c)], "ProjectCode");
    }
    if (!project) Refuse("The project field must be on the data entry form.");
    // The entry form is layout 1, wherever its row stands in the recordset.
    bool found = false;
    if (rs.RecordCount() > 0) rs.MoveFirst();
    while (!found && !rs.IsEOF()) {
      found = rs.Value("LayoutId").ToLong() == 1;
      if (!found) rs.MoveNext();
    }
    if (!found) ThrowInputFault(kClass, kMethod, "The recordset does not hold the issue entry form's layout.");
    rs.SetValue("NumRows", Variant(numRows));
    Database::Transaction tx(db);
    WriteStep(
        db,
        [&] {
          db.WriteBack(rs);
          WriteEntryCells(db, g);
          tx.Commit();
        },
        kLayoutChanged);
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("CreateLayout", &CreateLayout);
  c.Method("UpdateLayout", &UpdateLayout);
  c.Method("DeleteLayout", &DeleteLayout);
  c.Method("UpdateDataEntryLayout", &UpdateDataEntryLayout);
});

}  // namespace

}  // namespace brisquel
