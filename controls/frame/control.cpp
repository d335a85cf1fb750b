#include "frame/control.h"

#include "automation/text.h"
#include "gdi/colors.h"

namespace tamsolo {

using automation::EqualsNoCase;
using automation::Variant;

Control::Control(Host& host, const ClassEntry& entry) : host_(host), entry_(entry) {
  ModuleAddRef();
}

Control::~Control() { ModuleRelease(); }

void Control::AddProperty(std::string name, int32_t id, std::function<Variant()> get,
                          std::function<void(const Variant&)> put, bool persisted) {
  properties_.push_back({std::move(name), id, std::move(get), std::move(put), persisted});
}

void Control::AddMethod(std::string name, std::function<Variant(std::vector<Variant>&)> call, int32_t id) {
  methods_.push_back({std::move(name), std::move(call), id});
}

void Control::AddEvent(std::string name, int32_t id) { events_.push_back({std::move(name), id}); }

void Control::AddStockColor(std::string name, int32_t id, uint32_t& field) {
  AddProperty(
      std::move(name), id, [&field] { return Variant(static_cast<int32_t>(field)); },
      [this, id, &field](const Variant& v) { SetStock(id, field, static_cast<uint32_t>(v.ToLong())); });
}

void Control::AddBorderVisible() {
  AddProperty(
      "BorderVisible", dispid::kBorderVisible, [this] { return Variant(borderVisible_); },
      [this](const Variant& v) { SetStock(dispid::kBorderVisible, borderVisible_, v.ToBool()); });
}

const Control::Property* Control::FindProperty(std::string_view name) const {
  for (const Property& p : properties_)
    if (EqualsNoCase(p.name, name)) return &p;
  return nullptr;
}

const Control::Method* Control::FindMethod(std::string_view name) const {
  for (const Method& m : methods_)
    if (EqualsNoCase(m.name, name)) return &m;
  return nullptr;
}

const Control::Event* Control::FindEvent(std::string_view name) const {
  for (const Event& e : events_)
    if (EqualsNoCase(e.name, name)) return &e;
  return nullptr;
}

Variant Control::Get(std::string_view name) const {
  const Property* p = FindProperty(name);
  if (!p || !p->get) automation::RaiseRuntime(automation::vberr::kNoSuchMember);
  return p->get();
}

void Control::Put(std::string_view name, const Variant& value) {
  const Property* p = FindProperty(name);
  if (!p || !p->put) automation::RaiseRuntime(automation::vberr::kNoSuchMember);
  p->put(value);
}

Variant Control::Call(std::string_view name, std::vector<Variant> args) {
  const Method* m = FindMethod(name);
  if (!m) automation::RaiseRuntime(automation::vberr::kNoSuchMember);
  return m->call(args);
}

HRESULT ErrorResult(const automation::ComError& e) {
  if (e.number < 0) return e.number;
  return static_cast<HRESULT>(0x800A0000u | static_cast<uint32_t>(e.number & 0xFFFF));
}

HRESULT Control::Load(const PropertyBag& bag) {
  for (const Property& p : properties_) {
    if (!p.persisted || !p.put) continue;
    std::optional<std::string> text = bag(p.name);
    if (!text) continue;
    try {
      p.put(Variant(*text));
    } catch (const automation::ComError& e) {
      return ErrorResult(e);
    }
  }
  return hr::kOk;
}

std::vector<std::pair<std::string, std::string>> Control::Save() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const Property& p : properties_)
    if (p.persisted && p.get) out.emplace_back(p.name, p.get().ToText());
  return out;
}

void Control::Paint() {
  std::unique_ptr<gdi::Dc> dc = host_.GetDc();
  if (!dc) return;
  gdi::Size size = host_.ClientSize();
  Draw(*dc, {0, 0, size.cx, size.cy});
}

HRESULT Control::SetExtent(gdi::Size himetric) {
  extent_ = himetric;
  return hr::kOk;
}

void Control::Resized(gdi::Size pixels) {
  SetExtent({gdi::PixelsToHimetric(pixels.cx), gdi::PixelsToHimetric(pixels.cy)});
  host_.Invalidate();
}

void Control::SetNaturalPixels(gdi::Size px) {
  natural_ = {gdi::PixelsToHimetric(px.cx), gdi::PixelsToHimetric(px.cy)};
  extent_ = natural_;
}

bool Control::Implements(std::string_view iid) const {
  if (EqualsNoCase(iid, entry_.iid) || EqualsNoCase(iid, "I" + std::string(entry_.name)) ||
      EqualsNoCase(iid, "IUnknown"))
    return true;
  for (std::string_view name : kControlInterfaces)
    if (EqualsNoCase(iid, name)) return true;
  return false;
}

HRESULT Control::GetGUID(int kind, std::string& guid) const {
  if (kind != kGuidKindDefaultSourceDispIid) return hr::kInvalidArg;
  guid = std::string(entry_.eventIid);
  return guid.empty() ? hr::kFail : hr::kOk;
}

HRESULT Control::InterfaceSupportsErrorInfo(std::string_view iid) const {
  return EqualsNoCase(iid, entry_.iid) ? hr::kOk : hr::kFalse;
}

void Control::InitStock(int32_t id, uint32_t value) {
  switch (id) {
    case dispid::kForeColor: foreColor_ = value; break;
    case dispid::kBackColor: backColor_ = value; break;
    case dispid::kBorderColor: borderColor_ = value; break;
    case dispid::kFillColor: fillColor_ = value; break;
    case dispid::kBorderVisible: borderVisible_ = value != 0; break;
    default: break;
  }
}

void Control::SetReadyState(int32_t state) {
  readyState_ = state;
  host_.Changed(dispid::kReadyState);
  host_.Invalidate();
}

}  // namespace tamsolo
