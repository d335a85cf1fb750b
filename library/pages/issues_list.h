// IssuesList (Brisquel.IssuesList): one page of an issue list as an HTML table (List), the whole
// list for printing (PrinterFriendly) and the list as a comma-separated download (DataFile), each
// with the columns of one of the user's summary layouts. Every database value goes out encoded for
// the place it lands in.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "brisquel/constants.h"
#include "automation/automation.h"
#include "core/buffer.h"

namespace brisquel {

class Database;

class IssuesList : public automation::Dispatchable<IssuesList> {
 public:
  automation::Variant DataFile(const std::shared_ptr<Database>& db, const std::shared_ptr<ado::Recordset>& rs,
                               const std::string& userId, const std::string& layoutCode);
  std::string List(const std::shared_ptr<Database>& db, const std::shared_ptr<ado::Recordset>& rs,
                   const std::string& thisURL, const std::string& issuesURL, const std::string& userId,
                   int32_t projectId, const std::string& navSource, const std::string& navQS,
                   const std::string& layoutCode, const std::string& orderBy, int16_t orderSeq, int16_t pageNum,
                   int16_t issuesPerPage, bool allowSelection, const std::string& layoutPrefix);
  std::string PrinterFriendly(const std::shared_ptr<Database>& db, const std::shared_ptr<ado::Recordset>& rs,
                              const std::string& pageHeader, const std::string& userId, const std::string& layoutCode,
                              const std::string& orderBy, int16_t orderSeq);

  // One field of the layout as the list reads it, in layout order.
  struct LayoutField {
    int32_t row = 0;
    std::string fieldName, friendlyName, representation, tableName, sortByFieldName;
    automation::Variant naturalSort;
  };

 private:
  // The layout of one call: its fields, their count per row and where the sub-row sections open
  // and close. Rows are kept in a map, so any number of rows works.
  struct Layout {
    std::vector<LayoutField> fields;
    std::map<int32_t, int32_t> counts;
    std::map<int32_t, bool> opens, closes;
  };
  Layout ReadLayout() const;
  // The column headings (fields of row 1); returns the number of columns.
  int32_t Headings(const Layout& layout, bool naturalKeys, const std::string& border,
                   const std::string& layoutPrefix);
  // The row groups of the current issue; i is its place on the page (parity picks the colour).
  void IssueRows(const Layout& layout, int64_t i, int32_t columns);

  void ColumnSortLink(const std::string& orderBy, int16_t orderSeq, const std::string& sortKey,
                      const std::string& caption, const std::string& layoutPrefix);
  std::string ThisHref(int16_t pageNum, const std::string& sortKey, int16_t orderSeq,
                       const std::string& layoutPrefix);
  std::string IssueHref(const std::string& url, int32_t issueId);
  void OutputIssueField(bool subRow, const LayoutField& field);
  void IssueNumberCell(bool subRow, const LayoutField& field);
  void CommentsCell(bool subRow, const LayoutField& field);
  void Release();
  // Drops the references of a call when it ends, by a result or an error, so nothing of one
  // request stays with the object.
  struct CallScope {
    IssuesList& list;
    ~CallScope() { list.Release(); }
  };

  // The state of one call.
  std::shared_ptr<Database> db_;
  std::shared_ptr<ado::Recordset> rs_;
  std::unique_ptr<Buffer> out_;
  bool allowSelection_ = false;
  std::string userId_;
  int32_t projectId_ = 0;
  std::string navSource_, navQS_, layoutCode_, orderBy_;
  int16_t orderSeq_ = 0;
  std::string thisURL_, issuesURL_;
};

// The sort key of a heading in the list: the field's own sort expression unless it is a code field
// that does not sort naturally, which sorts by its code table's order (the project by its code).
std::string ListSortKey(const IssuesList::LayoutField& field);

}  // namespace brisquel
