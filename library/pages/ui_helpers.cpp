#include "pages/ui_helpers.h"

#include "core/buffer.h"
#include "core/error_protocol.h"
#include "core/writer.h"
#include "brisquel/encode.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "UIHelpers";
constexpr std::string_view kCrLf = "\r\n";

void Require(const void* object) {
  if (object == nullptr) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
}

// A parent id inside the script: a number as it is, anything else as a quoted script string.
std::string ScriptValue(const Variant& v) {
  switch (v.Type()) {
    case automation::VarType::Integer:
    case automation::VarType::Long:
    case automation::VarType::Single:
    case automation::VarType::Double:
    case automation::VarType::Currency:
    case automation::VarType::Byte:
    case automation::VarType::LongLong:
      return v.ToString();
    case automation::VarType::Null:
      return "null";
    default:
      return "\"" + encode::ScriptString(v.ToText()) + "\"";
  }
}

// The canonicaliser reads a C string and ends its result with a NUL in a buffer of blanks; the
// result is what TrimNull makes of that buffer.
template <class F>
std::string Canonicalise(const std::string& s, F canonicaliser) {
  std::string buffer = canonicaliser(std::string_view(s.c_str()));
  buffer += '\0';
  buffer.append(128, ' ');
  return TrimNull(buffer);
}

}  // namespace

std::string TrimNull(const std::string& s) {
  return Procedure(kClass, "TrimNull", [&] {
    const size_t nul = s.find('\0');
    if (nul != std::string::npos) return s.substr(0, nul);
    return std::string(TrimSpaces(s));
  });
}

std::string UIHelpers::OptionList(const std::shared_ptr<ado::Recordset>& rs, const std::string& idField,
                                  const std::string& displayField, const std::string& selected) {
  return Procedure(kClass, "OptionList", [&] {
    Require(rs.get());
    Buffer b;
    if (!rs->IsBOF()) rs->MoveFirst();
    const bool byId = !idField.empty();
    // Without an id column a failing step is skipped and the list goes on, from the first
    // selection test to the end of the call.
    bool goOn = false;
    auto step = [&](auto&& f) {
      if (!goOn) return f();
      try {
        f();
      } catch (...) {
      }
    };
    while (!rs->IsEOF()) {
      step([&] { b.Append("<option"); });
      goOn = goOn || !byId;
      step([&] {
        const Variant v = rs->Value(byId ? idField : displayField);
        if (!v.IsNull() && v.ToString() == selected) b.Append(" selected");
      });
      if (byId) {
        b.Append(" value = \"");
        b.Append(HtmlEncode(rs->Value(idField).ToString()));
        b.Append("\"");
      }
      step([&] { b.Append(">"); });
      step([&] { b.Append(HtmlEncode(rs->Value(displayField).ToString())); });
      step([&] {
        b.Append("</option>");
        b.Append(kCrLf);
      });
      rs->MoveNext();
    }
    return b.Text();
  });
}

Variant UIHelpers::DependantCombo(const std::string& functionName, const std::shared_ptr<ado::Recordset>& rsParent,
                                  const std::shared_ptr<ado::Command>& cmdChild, const std::string& parentId,
                                  const std::string& childFieldId, const std::string& childFieldText) {
  return Procedure(kClass, "DependantCombo", [&] {
    // The name is written into the script as it is: only an identifier can stand there.
    if (!encode::IsScriptIdentifier(functionName)) automation::RaiseRuntime(automation::vberr::kInvalidCall);
    Require(rsParent.get());
    Require(cmdChild.get());
    std::string out = "<SCRIPT LANGUAGE=javascript>\r\n";
    out += "function " + functionName + "(ParentId, cmbChild) {\r\n";
    out += "    var oOption;\r\n";
    out += "    while (cmbChild.children.length > 0)\r\n";
    out += "        cmbChild.remove(0);\r\n";
    while (!rsParent->IsEOF()) {
      const Variant parent = rsParent->Value(parentId);
      out += "    if (ParentId == " + ScriptValue(parent) + ") {\r\n";
      cmdChild->GetParameters()->Item(Variant(0))->SetValue(parent);
      auto children = std::make_shared<ado::Recordset>();
      children->Open(Variant(cmdChild), Variant::Missing(), -1, -1, -1);
      while (!children->IsEOF()) {
        out += "        oOption = document.createElement(\"OPTION\"); ";
        if (!childFieldId.empty())
          out += "oOption.value=\"" + encode::ScriptString(children->Value(childFieldId).ToString()) + "\"; ";
        out += "oOption.text=\"" + encode::ScriptString(children->Value(childFieldText).ToString()) + "\"; ";
        out += "cmbChild.add(oOption);\r\n";
        children->MoveNext();
      }
      children->Close();
      out += "    }\r\n";
      rsParent->MoveNext();
    }
    out += "}\r\n";
    out += "</SCRIPT>\r\n";
    return Variant(std::move(out));
  });
}

std::string UIHelpers::FilterOptionList(const std::string& /*projectId*/, const std::string& userId,
                                        const std::shared_ptr<ado::Recordset>& rsProjectUsers,
                                        const std::string& selected) {
  return Procedure(kClass, "FilterOptionList", [&] {
    Require(rsProjectUsers.get());
    constexpr std::string_view kAssignedTo = "Assigned to ";
    const std::string selectedUser =
        selected.starts_with(kAssignedTo) ? selected.substr(kAssignedTo.size()) : selected;
    auto mark = [](bool on) { return on ? std::string("<option selected>") : std::string("<option>"); };
    std::string out = mark(selected == "Assigned to me") + "Assigned to me</option>";
    while (!rsProjectUsers->IsEOF()) {
      const Variant v = rsProjectUsers->Value("UserId");
      if (!v.IsNull() && v.ToString() != userId) {
        const std::string user = v.ToString();
        out += mark(user == selectedUser) + "Assigned to " + HtmlEncode(user) + "</option>";
      }
      rsProjectUsers->MoveNext();
    }
    out += mark(selected == "All open issues") + "All open issues</option>";
    out += mark(selected == "All issues") + "All issues</option>";
    return out;
  });
}

std::string UIHelpers::SimpleHtmlEncode(const std::string& quotedString) {
  return Procedure(kClass, "SimpleHtmlEncode", [&] { return encode::HtmlText(quotedString); });
}

std::string UIHelpers::HtmlEncode(const std::string& quotedString) {
  return Procedure(kClass, "HtmlEncode", [&] { return encode::HtmlText(quotedString); });
}

std::string UIHelpers::UrlEncode(const std::string& s) {
  return Procedure(kClass, "UrlEncode", [&] { return Canonicalise(s, encode::CanonicalUrl); });
}

std::string UIHelpers::UrlDecode(const std::string& s) {
  return Procedure(kClass, "UrlDecode", [&] { return Canonicalise(s, encode::DecodeUrlEscapes); });
}

namespace {

automation::Register<UIHelpers> reg("UIHelpers", "Brisquel.UIHelpers", [](auto& c) {
  c.Method("OptionList", &UIHelpers::OptionList);
  c.Method("DependantCombo", &UIHelpers::DependantCombo);
  c.Method("FilterOptionList", &UIHelpers::FilterOptionList);
  c.Method("SimpleHtmlEncode", &UIHelpers::SimpleHtmlEncode);
  c.Method("HtmlEncode", &UIHelpers::HtmlEncode);
  c.Method("UrlEncode", &UIHelpers::UrlEncode);
  c.Method("UrlDecode", &UIHelpers::UrlDecode);
});

}  // namespace

}  // namespace brisquel
