// /Setup/EMailTemplates.asp: the message templates, each with a box to tick for deleting it and a
// link to change it; /Setup/EMailTemplate.asp: one template, its subject and the text of each part
// of its message format. Site administrators only.
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;

constexpr std::string_view kListPath = "/Setup/EMailTemplates.asp";
constexpr std::string_view kEditPath = "/Setup/EMailTemplate.asp";
// The format of the templates the site makes.
constexpr const char* kFormat = "HTML";

void SendList(PageContext& page, automation::Object& db, const std::string& message) {
  auto rs = db.Call("GetEMailTemplatesRs", {Variant(page.UserId())}).ToObject();
  std::vector<forms::ListRow> rows;
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string name = FieldText(*rs, "TemplateName");
    rows.push_back({UrlComponent(name), page.Url(std::string(kEditPath) + "?TemplateName=" + UrlComponent(name)),
                    name, {FieldText(*rs, "TemplateTypeName"), FieldText(*rs, "Subject")}});
  }
  page.SendPage("E-Mail Templates",
                forms::ListPage(page, "E-Mail Templates", kListPath, message,
                                forms::ListTable("Templates", "chkEMailTemplate", {"Template", "Format", "Subject"}, rows),
                                kEditPath, "New template..."));
}

void ListGet(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  SendList(page, *db, "");
}

// The ticked templates go, all or none; a template still in use is named over the list.
void ListPost(PageContext& page) { forms::DeleteTicked(page, "DeleteEMailTemplate", kListPath, SendList); }

// ---- one template

struct Part {
  std::string name, content;
};

constexpr std::string_view kPartWithoutName = "The form that was sent has a part's text without its part name.";

struct TemplateForm {
  std::string originalName;  // the name the page was opened with ("" for a new template)
  std::string name, subject;
  std::vector<Part> parts;
  std::string image;  // the stored row as read, for UpdateEMailTemplate
};

// The parts of the format, with the template's texts (a new template's are empty).
std::vector<Part> StoredParts(PageContext& page, automation::Object& db, const std::string& name,
                              const std::string& format) {
  std::vector<Part> parts;
  auto rs = db.Call("GetEMailTemplateTypePartsRs", {Variant(page.UserId()), Variant(format)}).ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    Part p{FieldText(*rs, "PartName"), ""};
    if (!name.empty()) {
      auto content = db.Call("GetEMailTemplatePartRs", {Variant(name), Variant(format), Variant(p.name)}).ToObject();
      if (!AtEnd(*content)) p.content = FieldText(*content, "PartContent");
    }
    parts.push_back(std::move(p));
  }
  return parts;
}

std::string EditTarget(const TemplateForm& f) {
  return f.originalName.empty() ? std::string(kEditPath)
                                : std::string(kEditPath) + "?TemplateName=" + UrlComponent(f.originalName);
}

void SendTemplate(PageContext& page, const TemplateForm& f, const std::string& message) {
  std::string rows = forms::Row("Name", f.originalName.empty() ? forms::TextBox("TemplateName", f.name, 30, 50)
                                                                : "<span id=TemplateName>" + HtmlText(f.name) + "</span>") +
                     forms::Row("Subject", forms::TextBox("Subject", f.subject, 60, 256));
  for (size_t i = 0; i < f.parts.size(); ++i) {
    const Part& p = f.parts[i];
    // Each part's text goes with its part name at the same position.
    rows += forms::Row(p.name + " part", "<textarea name=PartContent id=\"PartContent" + std::to_string(i + 1) +
                                             "\" rows=8 cols=70>" + HtmlText(p.content) + "</textarea>" +
                                             forms::Hidden("PartType", p.name));
  }
  rows += forms::Row("", "Placeholders such as [IssueId], [Summary], [IssueUrl] and [ProjectCode] are filled in "
                         "from the issue when a message is sent.");
  std::string body = forms::EditPage(page, "E-Mail Template", EditTarget(f), message, rows,
                                     f.image.empty() ? std::string() : forms::Hidden("rsTemplate", f.image));
  body += "<p><a id=Cancel href=\"" + HtmlAttribute(page.Url(kListPath)) + "\">Back to the templates</a></p>\r\n";
  page.SendPage("E-Mail Template", body);
}

void EditGet(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  TemplateForm f;
  f.originalName = page.Query("TemplateName");
  std::string format = kFormat;
  if (!f.originalName.empty()) {
    const Variant name(f.originalName);
    auto rs = LookUp(f.originalName, 50, [&] { return db->Call("GetEMailTemplateRs", {name}).ToObject(); });
    if (!rs) {
      return page.SendPage("E-Mail Template",
                           forms::Message("The template '" + f.originalName + "' does not exist."), 404);
    }
    f.name = FieldText(*rs, "TemplateName");
    f.subject = FieldText(*rs, "Subject");
    format = FieldText(*rs, "TemplateTypeName");
    f.image = db->Call("rsToXml", {Variant(rs)}).ToString();
  }
  f.parts = StoredParts(page, *db, f.name, format);
  SendTemplate(page, f, "");
}

// A stored template is written back through the row it was read as; a new one is inserted with
// its parts. A refusal shows the form again as it was posted.
void EditPost(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  auto form = forms::PostedForm(page);
  if (!form) return;
  TemplateForm f;
  f.originalName = page.Query("TemplateName");
  f.name = f.originalName.empty() ? page.Form("TemplateName") : f.originalName;
  f.subject = page.Form("Subject");
  f.image = page.Form("rsTemplate");
  const std::vector<std::string> names = page.FormValues("PartType");
  const std::vector<std::string> contents = page.FormValues("PartContent");
  for (size_t i = 0; i < names.size(); ++i) f.parts.push_back({names[i], i < contents.size() ? contents[i] : ""});
  // Every part's text goes with its part name; a form that lost one is no form of this page.
  if (contents.size() > names.size()) {
    SendTemplate(page, f, std::string(kPartWithoutName));
    return forms::Refused(page);
  }
  std::string message;
  // The edit form (its path names the template) carries the stored row; only a new template's has none.
  if (f.image.empty() && f.originalName.empty()) {
    if (forms::CallWriter(page, *db, "CreateEMailTemplate", {Variant(page.UserId()), Variant(form)}, kListPath,
                          message))
      return;
  } else {
    auto rs = forms::PostedImage(page, *db, "rsTemplate", message);
    if (!rs) {
      SendTemplate(page, f, message);
      return forms::Refused(page);
    }
    if (forms::CallWriter(page, *db, "UpdateEMailTemplate", {Variant(page.UserId()), Variant(rs), Variant(form)},
                          kListPath, message))
      return;
  }
  SendTemplate(page, f, message);
}

AddPage list(std::string(kListPath), {.get = ListGet, .post = ListPost});
AddPage edit(std::string(kEditPath), {.get = EditGet, .post = EditPost});

}  // namespace

}  // namespace site
