// The browser module's face to the loader: the class table, and one WebControl per OBJECT that
// the loader turns into a control (emscripten only).
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cmath>

#include "automation/text.h"
#include "host/web_host.h"
#include "query_wizard/browser_view.h"
#include "registration/module.h"

namespace tamsolo {

namespace {

using automation::Variant;
using automation::VarType;
using emscripten::val;

Variant FromJs(const val& v) {
  std::string type = v.typeOf().as<std::string>();
  if (type == "boolean") return Variant(v.as<bool>());
  if (type == "number") {
    double d = v.as<double>();
    if (std::floor(d) == d && d >= -2147483648.0 && d <= 2147483647.0)
      return Variant(static_cast<int32_t>(d));
    return Variant(d);
  }
  if (type == "string") return Variant(v.as<std::string>());
  if (v.isNull()) return Variant::Null();
  if (v.isUndefined()) return Variant();
  if (val::global("Array").call<bool>("isArray", v)) {
    std::vector<Variant> items;
    int n = v["length"].as<int>();
    for (int i = 0; i < n; ++i) items.push_back(FromJs(v[i]));
    return Variant(std::move(items));
  }
  return Variant(val::global("String")(v).as<std::string>());
}

val ToJs(const Variant& v) {
  switch (v.Type()) {
    case VarType::Empty: return val::undefined();
    case VarType::Null: return val::null();
    case VarType::Boolean: return val(v.ToBool());
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long: return val(v.ToLong());
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency: return val(v.ToDouble());
    default: break;
  }
  if (v.IsArray() && !v.IsBytes()) {
    val out = val::array();
    for (const Variant& item : v.ToArray()) out.call<void>("push", ToJs(item));
    return out;
  }
  return val(v.ToText());
}

// A ComError reaches the page as an Error with the number and description.
[[noreturn]] void ThrowToPage(const automation::ComError& e) {
  val error = val::global("Error").new_(val(e.description));
  error.set("number", val(e.number));
  error.throw_();
  std::abort();
}

}  // namespace

class WebControl {
 public:
  WebControl(std::string clsid, int hostId) : host_(hostId) {
    std::shared_ptr<ClassFactory> factory;
    if (Failed(DllGetClassObject(clsid, factory))) return;
    if (Failed(factory->CreateInstance(host_, control_))) control_.reset();
  }

  bool ok() const { return control_ != nullptr; }

  val properties() const {
    val out = val::array();
    for (const Control::Property& p : control_->Properties()) {
      val item = val::object();
      item.set("name", val(p.name));
      item.set("dispid", val(p.dispid));
      out.call<void>("push", item);
    }
    return out;
  }

  val methods() const {
    val out = val::array();
    for (const Control::Method& m : control_->Methods()) out.call<void>("push", val(m.name));
    return out;
  }

  val get(const std::string& name) const {
    try {
      return ToJs(control_->Get(name));
    } catch (const automation::ComError& e) {
      ThrowToPage(e);
    }
  }

  void put(const std::string& name, const val& value) {
    try {
      control_->Put(name, FromJs(value));
    } catch (const automation::ComError& e) {
      ThrowToPage(e);
    }
  }

  val call(const std::string& name, const val& args) {
    try {
      Variant a = FromJs(args);
      return ToJs(control_->Call(name, a.IsArray() ? a.ToArray() : std::vector<Variant>{}));
    } catch (const automation::ComError& e) {
      ThrowToPage(e);
    }
  }

  // PARAMs by lower-case name, applied in property-map order; then activation.
  int load(const val& params) {
    HRESULT result = control_->Load([&](std::string_view name) -> std::optional<std::string> {
      val v = params[automation::LowerAscii(name)];
      if (v.isUndefined() || v.isNull()) return std::nullopt;
      return v.as<std::string>();
    });
    control_->Activate();
    return result;
  }

  void paint() { control_->Paint(); }
  // kind: 0 down, 1 move, 2 up, 3 double click, 4 leave.
  void mouse(int kind, int x, int y, int button, int shift, int originX, int originY) {
    if (kind < 0 || kind > 4) return;
    control_->OnMouse({static_cast<MouseInput::Kind>(kind), x, y, button, originX, originY, shift});
  }
  void keyUp(int key, int shift) { control_->OnKeyUp(key, shift); }
  void resized(int width, int height) { control_->Resized({width, height}); }
  int readyState() const { return control_->ReadyState(); }

 private:
  WebHost host_;
  std::unique_ptr<Control> control_;
};

val ClassTableForPage() {
  val out = val::array();
  for (const ClassEntry* c : AvailableClasses()) {
    val item = val::object();
    item.set("name", val(std::string(c->name)));
    item.set("clsid", val(std::string(c->clsid)));
    item.set("progId", val(c->ProgId()));
    item.set("independentProgId", val(c->IndependentProgId()));
    item.set("invisibleAtRuntime", val(c->InvisibleAtRuntime()));
    out.call<void>("push", item);
  }
  return out;
}

EMSCRIPTEN_BINDINGS(tamsolo) {
  UseBrowserWizardView();
  emscripten::function("classTable", &ClassTableForPage);
  emscripten::class_<WebControl>("WebControl")
      .constructor<std::string, int>()
      .function("ok", &WebControl::ok)
      .function("properties", &WebControl::properties)
      .function("methods", &WebControl::methods)
      .function("get", &WebControl::get)
      .function("put", &WebControl::put)
      .function("call", &WebControl::call)
      .function("load", &WebControl::load)
      .function("paint", &WebControl::paint)
      .function("mouse", &WebControl::mouse)
      .function("keyUp", &WebControl::keyUp)
      .function("resized", &WebControl::resized)
      .function("readyState", &WebControl::readyState);
}

}  // namespace tamsolo

int main() { return 0; }
