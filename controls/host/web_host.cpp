#include "host/web_host.h"

#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "gdi/canvas_dc.h"

extern "C" {
int tamsolo_host_request_edit(int host, int dispid);
void tamsolo_host_changed(int host, int dispid);
void tamsolo_host_fire(int host, const char* event, const char* argsJson);
void tamsolo_host_invalidate(int host);
int tamsolo_host_width(int host);
int tamsolo_host_height(int host);
void tamsolo_host_request_size(int host, int width, int height);
int tamsolo_host_user_mode(int host);
int tamsolo_transfer_start(const char* method, const char* url, const char* contentType, const char* body,
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
void tamsolo_host_play_keys(int host, const char* strokesJson);
void tamsolo_capture_pick(int host, void* done);
int tamsolo_capture_pixels(int picture, uint32_t* out, int count);
void tamsolo_capture_preview(int host, const char* title, const char* menu, const char* itemsJson, int picture,
                             int width, int height, void* command);
void tamsolo_capture_hide(int host);
void tamsolo_capture_ask_name(int host, const char* dialogJson, void* done);
void tamsolo_capture_make_file(int host, const char* name, int picture, const char* bytes, int size, void* done);
void tamsolo_dom_remove_attribute(int element, const char* name);
void tamsolo_dom_append_to_host(int host, int child);
int tamsolo_dom_value(int element, char* buffer, int size);
void tamsolo_dom_focus(int element);
void tamsolo_dom_detach(int element);

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
EMSCRIPTEN_KEEPALIVE void tamsolo_capture_picked(void* done, int result, int picture, int width, int height) {
  auto* fn = static_cast<std::function<void(tamsolo::PickResult, tamsolo::Picture)>*>(done);
  (*fn)(static_cast<tamsolo::PickResult>(result), tamsolo::Picture{picture, width, height});
  delete fn;
}
EMSCRIPTEN_KEEPALIVE void tamsolo_preview_command(void* command, int id) {
  (*static_cast<std::function<void(int)>*>(command))(id);
}
// `name` is null when the dialog was cancelled; it was allocated for the call and is freed here.
EMSCRIPTEN_KEEPALIVE void tamsolo_save_named(void* done, char* name, int filter) {
  auto* fn = static_cast<std::function<void(std::optional<std::string>, int)>*>(done);
  std::optional<std::string> typed;
  if (name) typed = std::string(name);
  std::free(name);
  (*fn)(typed, filter);
  delete fn;
}
EMSCRIPTEN_KEEPALIVE void tamsolo_file_made(void* done, int made) {
  auto* fn = static_cast<std::function<void(bool)>*>(done);
  (*fn)(made != 0);
  delete fn;
}
EMSCRIPTEN_KEEPALIVE void tamsolo_dom_event(void* handler) {
  (*static_cast<std::function<void()>*>(handler))();
}
}

namespace tamsolo {

namespace {

void JsonStringOf(std::string& out, std::string_view s) {
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
  std::string Value() const override {
    std::vector<char> buffer(4096);
    int n = tamsolo_dom_value(id_, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), static_cast<size_t>(std::max(0, n)));
  }
  void Focus() override { tamsolo_dom_focus(id_); }
  void Detach() override { tamsolo_dom_detach(id_); }
  void RemoveAttribute(std::string_view name) override {
    tamsolo_dom_remove_attribute(id_, std::string(name).c_str());
  }
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
    default: JsonStringOf(out, v.ToText());
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
void WebHost::RequestSize(gdi::Size pixels) { tamsolo_host_request_size(id_, pixels.cx, pixels.cy); }
bool WebHost::UserMode() const { return tamsolo_host_user_mode(id_) != 0; }

void WebHost::StartTransfer(const TransferRequest& request, std::shared_ptr<TransferSink> sink) {
  auto* held = new std::shared_ptr<TransferSink>(std::move(sink));
  // A request that did not start never calls back, so its sink is released here.
  if (!tamsolo_transfer_start(request.method.c_str(), request.url.c_str(), request.contentType.c_str(),
                              request.body.data(), static_cast<int>(request.body.size()), held))
    delete held;
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

namespace {

std::string StrokesJson(const std::vector<keys::KeyStroke>& strokes) {
  std::string out = "[";
  for (const keys::KeyStroke& k : strokes) {
    if (out.size() > 1) out += ',';
    out += "{\"action\":" + std::to_string(static_cast<int>(k.action)) + ",\"key\":";
    JsonStringOf(out, k.key);
    out += ",\"code\":";
    JsonStringOf(out, k.code);
    out += ",\"keyCode\":" + std::to_string(k.keyCode) + ",\"shift\":" + (k.shift ? "true" : "false") +
           ",\"ctrl\":" + (k.ctrl ? "true" : "false") + ",\"alt\":" + (k.alt ? "true" : "false") + ",\"text\":";
    JsonStringOf(out, k.text);
    out += ",\"ms\":" + std::to_string(k.ms) + "}";
  }
  return out + "]";
}

}  // namespace

void WebHost::PlayKeys(const std::vector<keys::KeyStroke>& strokes) {
  if (!strokes.empty()) tamsolo_host_play_keys(id_, StrokesJson(strokes).c_str());
}

void WebHost::PickDisplay(std::function<void(PickResult, Picture)> done) {
  tamsolo_capture_pick(id_, new std::function<void(PickResult, Picture)>(std::move(done)));
}

std::vector<uint32_t> WebHost::PicturePixels(const Picture& picture) {
  std::vector<uint32_t> out(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height));
  const int n = tamsolo_capture_pixels(picture.id, out.data(), static_cast<int>(out.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

void WebHost::ShowPreview(std::string_view title, std::string_view menu, const std::vector<PreviewMenuItem>& items,
                          const Picture& picture, std::function<void(int)> command) {
  std::string json = "[";
  for (const PreviewMenuItem& item : items) {
    if (json.size() > 1) json += ',';
    json += "{\"text\":";
    JsonStringOf(json, item.text);
    json += ",\"command\":" + std::to_string(item.command) + ",\"enabled\":" + (item.enabled ? "true" : "false") + "}";
  }
  json += "]";
  // The old frame goes with its menu before the new one's is kept.
  auto next = std::make_unique<std::function<void(int)>>(std::move(command));
  tamsolo_capture_preview(id_, std::string(title).c_str(), std::string(menu).c_str(), json.c_str(), picture.id,
                          picture.width, picture.height, next.get());
  previewCommand_ = std::move(next);
}

void WebHost::HidePreview() { tamsolo_capture_hide(id_); }

void WebHost::AskSaveName(const SaveDialog& dialog, std::function<void(std::optional<std::string>, int)> done) {
  std::string json = "{\"title\":";
  JsonStringOf(json, dialog.title);
  json += ",\"fileName\":";
  JsonStringOf(json, dialog.fileName);
  json += ",\"defaultExtension\":";
  JsonStringOf(json, dialog.defaultExtension);
  json += ",\"filters\":[";
  for (size_t i = 0; i < dialog.filters.size(); ++i) {
    if (i) json += ',';
    json += '[';
    JsonStringOf(json, dialog.filters[i].first);
    json += ',';
    JsonStringOf(json, dialog.filters[i].second);
    json += ']';
  }
  json += "]}";
  tamsolo_capture_ask_name(id_, json.c_str(), new std::function<void(std::optional<std::string>, int)>(std::move(done)));
}

void WebHost::MakeFile(std::string_view name, const Picture& picture, const std::string* bytes,
                       std::function<void(bool)> done) {
  tamsolo_capture_make_file(id_, std::string(name).c_str(), picture.id, bytes ? bytes->data() : nullptr,
                            bytes ? static_cast<int>(bytes->size()) : 0, new std::function<void(bool)>(std::move(done)));
}

void WebHost::AddToControl(DomElement& element) {
  tamsolo_dom_append_to_host(id_, static_cast<WebElement&>(element).Id());
}

}  // namespace tamsolo
