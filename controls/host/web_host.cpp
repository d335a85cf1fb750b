#include "host/web_host.h"

#include <emscripten/emscripten.h>

#include <cstdio>

#include "gdi/canvas_dc.h"

extern "C" {
int tamsolo_host_request_edit(int host, int dispid);
void tamsolo_host_changed(int host, int dispid);
void tamsolo_host_fire(int host, const char* event, const char* argsJson);
void tamsolo_host_invalidate(int host);
int tamsolo_host_width(int host);
int tamsolo_host_height(int host);
int tamsolo_host_user_mode(int host);
void tamsolo_transfer_start(const char* method, const char* url, const char* contentType, const char* body,
                            int bodySize, void* sink);
void tamsolo_host_message_box(int host, const char* text, const char* title, int icon, int buttons,
                              void* done);
int tamsolo_host_confirm(const char* text);
void tamsolo_host_beep();
void tamsolo_host_set_cursor(int host, const char* cursor);
int tamsolo_dom_create(const char* tag);
void tamsolo_dom_set_attribute(int element, const char* name, const char* value);
void tamsolo_dom_set_text(int element, const char* text);
void tamsolo_dom_append(int parent, int child);
void tamsolo_dom_listen(int element, const char* event, void* handler);
void tamsolo_dom_remove(int element);

// Called back from the page.
EMSCRIPTEN_KEEPALIVE void tamsolo_transfer_data(void* sink, const char* data, int size) {
  (*static_cast<std::shared_ptr<tamsolo::TransferSink>*>(sink))->OnData(std::string_view(data, size));
}
EMSCRIPTEN_KEEPALIVE int tamsolo_transfer_wanted(void* sink) {
  return (*static_cast<std::shared_ptr<tamsolo::TransferSink>*>(sink))->Wanted() ? 1 : 0;
}
EMSCRIPTEN_KEEPALIVE void tamsolo_transfer_end(void* sink, int ok, int status) {
  auto* held = static_cast<std::shared_ptr<tamsolo::TransferSink>*>(sink);
  (*held)->OnEnd(ok != 0, status);
  delete held;
}
EMSCRIPTEN_KEEPALIVE void tamsolo_message_box_done(void* done, int answer) {
  auto* fn = static_cast<std::function<void(int)>*>(done);
  if (*fn) (*fn)(answer);
  delete fn;
}
EMSCRIPTEN_KEEPALIVE void tamsolo_dom_event(void* handler) {
  (*static_cast<std::function<void()>*>(handler))();
}
}

namespace tamsolo {

namespace {

void JsonString(std::string& out, std::string_view s) {
  out += '"';
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
}

class WebElement : public DomElement {
 public:
  explicit WebElement(int id) : id_(id) {}
  ~WebElement() override { tamsolo_dom_remove(id_); }
  void SetAttribute(std::string_view name, std::string_view value) override {
    tamsolo_dom_set_attribute(id_, std::string(name).c_str(), std::string(value).c_str());
  }
  void SetText(std::string_view text) override { tamsolo_dom_set_text(id_, std::string(text).c_str()); }
  void Append(DomElement& child) override { tamsolo_dom_append(id_, static_cast<WebElement&>(child).id_); }
  int Id() const { return id_; }
  void Listen(std::string_view event, std::function<void()> handler) override {
    handlers_.push_back(std::make_unique<std::function<void()>>(std::move(handler)));
    tamsolo_dom_listen(id_, std::string(event).c_str(), handlers_.back().get());
  }

 private:
  int id_;
  std::vector<std::unique_ptr<std::function<void()>>> handlers_;
};

}  // namespace

namespace {

// Arrays become JSON arrays; objects, which the page cannot use, become null.
void AppendJson(std::string& out, const automation::Variant& v) {
  using automation::VarType;
  if (v.IsArray() && !v.IsBytes()) {
    out += '[';
    const auto& items = v.ToArray();
    for (size_t i = 0; i < items.size(); ++i) {
      if (i) out += ',';
      AppendJson(out, items[i]);
    }
    out += ']';
    return;
  }
  switch (v.Type()) {
    case VarType::Empty:
    case VarType::Null:
    case VarType::Object: out += "null"; break;
    case VarType::Boolean: out += v.ToBool() ? "true" : "false"; break;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Single:
    case VarType::Double: out += v.ToText(); break;
    default: JsonString(out, v.ToText());
  }
}

}  // namespace

std::string ArgumentsJson(const std::vector<automation::Variant>& args) {
  std::string out;
  AppendJson(out, automation::Variant(args));
  return out;
}

bool WebHost::RequestEdit(int32_t dispid) { return tamsolo_host_request_edit(id_, dispid) != 0; }
void WebHost::Changed(int32_t dispid) { tamsolo_host_changed(id_, dispid); }

void WebHost::Fire(std::string_view event, const std::vector<automation::Variant>& args) {
  tamsolo_host_fire(id_, std::string(event).c_str(), ArgumentsJson(args).c_str());
}

void WebHost::Invalidate() { tamsolo_host_invalidate(id_); }
std::unique_ptr<gdi::Dc> WebHost::GetDc() { return gdi::CanvasDc::ForHost(id_); }
gdi::Size WebHost::ClientSize() const { return {tamsolo_host_width(id_), tamsolo_host_height(id_)}; }
bool WebHost::UserMode() const { return tamsolo_host_user_mode(id_) != 0; }

void WebHost::StartTransfer(const TransferRequest& request, std::shared_ptr<TransferSink> sink) {
  tamsolo_transfer_start(request.method.c_str(), request.url.c_str(), request.contentType.c_str(),
                         request.body.data(), static_cast<int>(request.body.size()),
                         new std::shared_ptr<TransferSink>(std::move(sink)));
}

void WebHost::MessageBox(std::string_view text, std::string_view title, int icon, int buttons,
                         std::function<void(int)> done) {
  tamsolo_host_message_box(id_, std::string(text).c_str(), std::string(title).c_str(), icon, buttons,
                           new std::function<void(int)>(std::move(done)));
}

bool WebHost::Confirm(std::string_view text) { return tamsolo_host_confirm(std::string(text).c_str()) != 0; }
void WebHost::Beep() { tamsolo_host_beep(); }
void WebHost::SetCursor(std::string_view cursor) { tamsolo_host_set_cursor(id_, std::string(cursor).c_str()); }

std::unique_ptr<DomElement> WebHost::CreateElement(std::string_view tag) {
  return std::make_unique<WebElement>(tamsolo_dom_create(std::string(tag).c_str()));
}

void WebHost::AddToPage(DomElement& element) {
  tamsolo_dom_append(0, static_cast<WebElement&>(element).Id());
}

}  // namespace tamsolo
