#include "issues/form_values.h"

#include <algorithm>

#include "core/buffer.h"
#include "core/code_table_lookup.h"
#include "core/conversions.h"
#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/writer.h"

namespace brisquel::issueform {

using automation::Variant;


bool LayoutField::Is(std::string_view rep) const { return EqualsNoCase(representation, rep); }
bool LayoutField::IsProject() const { return EqualsNoCase(name, "ProjectCode"); }

std::vector<LayoutField> ReadLayoutFields(Database& db) {
  std::vector<LayoutField> fields;
  EachEntryFormField(db, [&](const sql::Row& r) {
    fields.push_back({r.Text("FieldName"), r.Text("FieldFriendlyName"), r.Text("Representation"),
                      r.OptLong("TextMaxLength").value_or(0)});
  });
  return fields;
}

bool HasProjectField(const std::vector<LayoutField>& fields) {
  return std::any_of(fields.begin(), fields.end(), [](const LayoutField& f) { return f.IsProject(); });
}

std::string FormText(const MultipartFormData& form, std::string_view name) {
  Variant v = form.Fields()->Item(Variant(std::string(name)));
  return v.IsEmpty() ? std::string() : v.ToString();
}

std::optional<StateRow> FindWorkflowState(Database& db, const std::string& resolutionCode,
                                          const std::string& statusCode) {
  // A code wider than the state columns names no state.
  if (CharLength(resolutionCode) > kCodeWidth || CharLength(statusCode) > kCodeWidth) return std::nullopt;
  std::optional<StateRow> row;
  db.Each("Select * from WorkflowStates where WorkflowId = 1 and ResolutionCode = ? and StatusCode = ?",
          {ado::Param::Text(resolutionCode, 50), ado::Param::Text(statusCode, 50)}, [&](const sql::Row& r) {
            if (!row) row = StateRow{r.Long("StateId"), r.Flag("IssueValid"), r.Flag("IssueFixed")};
          });
  return row;
}

std::string StatusWidthMessage(const std::string& statusCode) {
  if (CharLength(statusCode) <= kStatusWidth) return {};
  return "The status code (" + statusCode + ") is longer than 6 characters, the most an issue's status can hold.";
}

void CheckRequiredFields(const std::vector<RequiredField>& required, const MultipartFormData& form,
                         bool checkComments, std::string& messages) {
  for (const RequiredField& f : required) {
    if (!checkComments && EqualsNoCase(f.representation, "comments")) continue;
    if (TrimSpaces(FormText(form, f.fieldName)).empty()) {
      messages += f.friendlyName;
      messages += " cannot be blank.";
      messages += kCrLf;
    }
  }
}

void CheckLengths(const std::vector<LayoutField>& fields, const MultipartFormData& form, bool trimText,
                  std::string& messages) {
  for (const LayoutField& f : fields) {
    size_t limit = 0;
    size_t length = 0;
    if (f.Is("text") || f.Is("multiline")) {
      std::string v = FormText(form, f.name);
      length = CharLength(trimText ? TrimSpaces(v) : std::string_view(v));
      limit = static_cast<size_t>(std::max(f.textMaxLength, 0));
    } else if (f.Is("comments")) {
      // Comments are stored as posted, in a column of its own width.
      length = CharLength(FormText(form, f.name));
      limit = std::min(static_cast<size_t>(std::max(f.textMaxLength, 0)), kCommentWidth);
    } else if (f.Is("combo") && !f.IsProject()) {
      length = CharLength(FormText(form, f.name));
      limit = kCodeWidth;
    } else {
      continue;
    }
    if (length > limit) {
      messages += f.friendlyName;
      messages += " cannot be longer than ";
      messages += std::to_string(limit);
      messages += " characters.";
      messages += kCrLf;
    }
  }
}

void CheckListValues(Database& db, const std::vector<LayoutField>& fields, const MultipartFormData& form,
                     int32_t projectId, const ado::Recordset* held, std::string& messages) {
  for (const LayoutField& f : fields) {
    if (!f.Is("combo") || f.IsProject()) continue;
    const std::string value = FormText(form, f.name);
    // A value too long for any list has its length message already.
    if (CharLength(value) > kCodeWidth) continue;
    if (held && held->TryFieldIndex(f.name) && EqualsNoCase(value, held->Text(f.name))) continue;
    const std::optional<std::string> table =
        db.One<std::string>("select TableName from IssueFields where FieldName = ?", {ado::Param::Text(f.name, 20)});
    if (!table || table->empty() || EqualsNoCase(*table, "Projects")) continue;
    const std::optional<CodeTableRow> row = FindCodeTableRow(db, *table);
    if (!row) continue;
    std::string sql = "select 1 from " + ado::QuoteIdentifier(row->table) + " where " +
                      ado::QuoteIdentifier(row->valueColumn) + " = ?";
    ado::Params params{ado::Param::Text(value, static_cast<int32_t>(kCodeWidth))};
    if (row->variesByProject) {
      sql += " and ProjectId = ?";
      params.push_back(ado::Param::Long(projectId));
    }
    if (!db.Exists(sql, params)) {
      messages += f.friendlyName + " (" + value + ") is not one of the values of its list.";
      messages += kCrLf;
    }
  }
}

void CheckAssignee(const std::string& postedAssignee, std::string& messages) {
  std::optional<std::string> user = ResolveAssignee(postedAssignee);
  if (!user) {
    messages += "The assignee (" + postedAssignee + ") is not a valid automatic assignment.";
    messages += kCrLf;
  } else if (CharLength(*user) > kUserWidth) {
    messages += "The assignee (" + postedAssignee + ") is longer than 50 characters.";
    messages += kCrLf;
  }
}

std::string CloseMessageList(std::string messages) {
  if (messages.size() >= 2 && messages.compare(messages.size() - 2, 2, kCrLf) == 0)
    messages.resize(messages.size() - 2);
  return messages;
}

std::optional<int32_t> PostedProjectId(const MultipartFormData& form) {
  int32_t id = -1;
  if (!CnvToLong(FormText(form, "ProjectCode"), id)) return std::nullopt;
  return id;
}

std::optional<ColumnValue> ConvertField(const LayoutField& field, const MultipartFormData& form, bool forUpdate) {
  ColumnValue c;
  c.paramName = field.name;
  if (field.IsProject()) {
    std::optional<int32_t> id = PostedProjectId(form);
    // The writers refuse a project that is not a number before they convert.
    if (!id) automation::RaiseRuntime(automation::vberr::kTypeMismatch);
    c.column = "ProjectId";
    c.type = ado::adInteger;
    c.size = 4;
    c.value = Variant(*id);
  } else if (field.Is("combo")) {
    c.column = field.name;
    c.type = ado::adVarChar;
    c.size = static_cast<int32_t>(kCodeWidth);
    c.value = Variant(FormText(form, field.name));
  } else if (field.Is("checkbox")) {
    c.column = field.name;
    c.type = ado::adBoolean;
    c.value = Variant(EqualsNoCase(FormText(form, field.name), "on"));
  } else if (field.Is("text") || field.Is("multiline")) {
    std::string v = FormText(form, field.name);
    c.column = field.name;
    c.type = ado::adVarChar;
    c.size = std::max(field.textMaxLength, 0);
    c.value = Variant(forUpdate ? std::string(TrimSpaces(v)) : std::move(v));
  } else {
    return std::nullopt;
  }
  return c;
}

bool IsAutomatic(std::string_view postedAssignee) {
  return postedAssignee.size() >= kAutomaticPrefix.size() &&
         EqualsNoCase(postedAssignee.substr(0, kAutomaticPrefix.size()), kAutomaticPrefix);
}

std::optional<std::string> ResolveAssignee(const std::string& postedAssignee) {
  if (!IsAutomatic(postedAssignee)) return postedAssignee;
  // "Automatic (" + user id + ")": a value cut short or without its closing bracket names nobody.
  size_t n = postedAssignee.size();
  if (n <= kAutomaticPrefix.size() + 1 || postedAssignee.back() != ')') return std::nullopt;
  return postedAssignee.substr(kAutomaticPrefix.size(), n - kAutomaticPrefix.size() - 1);
}

std::vector<int32_t> AttachmentIds(const MultipartFormData& form) {
  return PostedIds(*form.Fields(), "chkAttachment", "attachment id");
}

void TakeOverProvisionalAttachments(Database& db, int32_t issueId, const std::vector<int32_t>& provisionalIds) {
  for (int32_t id : provisionalIds) {
    WriteStep(db, [&] {
      db.Exec(
          "INSERT INTO IssueAttachments (AttachmentMimeType, AttachmentFilename, AttachmentData, IssueId) "
          "SELECT ProvisionalAttachments.AttachmentMimeType, ProvisionalAttachments.AttachmentFilename, "
          "ProvisionalAttachments.AttachmentData, Issues.IssueId FROM ProvisionalAttachments, Issues WHERE "
          "(ProvisionalAttachments.ProvisionalAttachmentId = ?) AND (Issues.IssueId = ?)",
          {ado::Param::Long(id, "ProvisionalAttachmentId"), ado::Param::Long(issueId, "IssueId")});
    });
    WriteStep(db, [&] {
      db.Exec("DELETE FROM ProvisionalAttachments WHERE (ProvisionalAttachments.ProvisionalAttachmentId = ?)",
              {ado::Param::Long(id, "ProvisionalAttachmentId")});
    });
  }
}

std::vector<Comment> FilledComments(const std::vector<LayoutField>& fields, const MultipartFormData& form) {
  std::vector<Comment> out;
  for (const LayoutField& f : fields) {
    if (!f.Is("comments")) continue;
    std::string text = FormText(form, f.name);
    if (!text.empty()) out.push_back(Comment{f.name, std::move(text)});
  }
  return out;
}

}  // namespace brisquel::issueform
