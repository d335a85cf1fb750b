// The frame every control shares: its property map (names without regard to case, in the order
// the page's PARAMs are applied), methods callable by name, stock colour properties with their
// setter pattern, ready state, persistence from the page's PARAMs, extents, and the interfaces the
// control answers.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "automation/automation.h"
#include "common/class_table.h"
#include "frame/hresult.h"
#include "frame/object_count.h"
#include "host/host.h"

namespace tamsolo {

namespace dispid {
inline constexpr int32_t kBackColor = -501;
inline constexpr int32_t kBorderColor = -503;
inline constexpr int32_t kFillColor = -510;
inline constexpr int32_t kForeColor = -513;
inline constexpr int32_t kBorderVisible = -519;
inline constexpr int32_t kReadyState = -525;
inline constexpr int32_t kUnknown = -1;  // a member declared without a DISPID of its own
}  // namespace dispid

inline constexpr int32_t kReadyStateComplete = 4;
inline constexpr int kGuidKindDefaultSourceDispIid = 1;

// The standard interfaces of a windowed or windowless control.
inline constexpr std::string_view kControlInterfaces[] = {
    "IDispatch", "IViewObjectEx", "IViewObject2", "IViewObject", "IOleInPlaceObjectWindowless",
    "IOleInPlaceObject", "IOleWindow", "IOleInPlaceActiveObject", "IOleControl", "IOleObject",
    "IPersistStreamInit", "IPersist", "IProvideClassInfo", "IProvideClassInfo2"};

// The mouse over a control: the position in the control's pixels; the button pressed or released
// (for a move the buttons held: 1 left, 2 right, 4 middle); where the control's top-left corner
// lies in the page's viewport (for popups and tips beside it); the keys held (1 shift, 2 control,
// 4 alt).
struct MouseInput {
  enum class Kind { Down, Move, Up, DoubleClick, Leave };
  static constexpr int32_t kLeft = 1, kRight = 2, kMiddle = 4;
  Kind kind = Kind::Move;
  int x = 0, y = 0;
  int32_t button = 0;
  int originX = 0, originY = 0;
  int32_t shift = 0;
};

class Control {
 public:
  using Variant = automation::Variant;
  struct Property {
    std::string name;
    int32_t dispid;
    std::function<Variant()> get;
    std::function<void(const Variant&)> put;
    bool persisted;
  };
  struct Method {
    std::string name;
    std::function<Variant(std::vector<Variant>&)> call;
    int32_t dispid = dispid::kUnknown;
  };
  // An event of the control's outgoing interface; declared events need not all be fired.
  struct Event {
    std::string name;
    int32_t dispid = dispid::kUnknown;
  };
  // Reads a PARAM by name; nullopt when the page gave none.
  using PropertyBag = std::function<std::optional<std::string>(std::string_view name)>;

  Control(Host& host, const ClassEntry& entry);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const ClassEntry& Entry() const { return entry_; }
  Host& Site() { return host_; }

  // Second-phase construction, run by the class factory.
  virtual HRESULT FinalConstruct() { return hr::kOk; }
  // Runs once the page's PARAMs are in.
  virtual void Activate() {}

  const std::vector<Property>& Properties() const { return properties_; }
  const std::vector<Method>& Methods() const { return methods_; }
  const Property* FindProperty(std::string_view name) const;
  const Method* FindMethod(std::string_view name) const;
  const std::vector<Event>& Events() const { return events_; }
  const Event* FindEvent(std::string_view name) const;
  // By-name access; an unknown name raises 438.
  Variant Get(std::string_view name) const;
  void Put(std::string_view name, const Variant& value);
  Variant Call(std::string_view name, std::vector<Variant> args);

  // IPersistPropertyBag: each persisted property in map order, through its setter.
  HRESULT Load(const PropertyBag& bag);
  std::vector<std::pair<std::string, std::string>> Save() const;

  // The key releases in the control's element; most controls take none.
  virtual void OnKeyUp(int32_t key, int32_t shift) { (void)key, (void)shift; }
  // The page gave the control's area a new size (pixels): the extent follows and it repaints.
  virtual void Resized(gdi::Size pixels);

  // IViewObject::Draw into the given rectangle; Paint draws the whole client area now.
  virtual HRESULT Draw(gdi::Dc& dc, const gdi::Rect& bounds) = 0;
  void Paint();
  // Mouse input the page passes on; controls without mouse handling ignore it.
  virtual void OnMouse(const MouseInput& input) { (void)input; }

  // Extents in HIMETRIC.
  virtual HRESULT SetExtent(gdi::Size himetric);
  gdi::Size Extent() const { return extent_; }
  gdi::Size NaturalExtent() const { return natural_; }

  // QueryInterface by interface name or IID.
  virtual bool Implements(std::string_view iid) const;
  HRESULT GetGUID(int kind, std::string& guid) const;
  HRESULT InterfaceSupportsErrorInfo(std::string_view iid) const;

  int32_t ReadyState() const { return readyState_; }
  bool Dirty() const { return dirty_; }

  // Stock colours (OLE_COLOR) as stored; the frame owns their fields.
  uint32_t ForeColor() const { return foreColor_; }
  uint32_t BackColor() const { return backColor_; }
  uint32_t BorderColor() const { return borderColor_; }
  uint32_t FillColor() const { return fillColor_; }
  bool BorderVisible() const { return borderVisible_; }

 protected:
  void AddProperty(std::string name, int32_t dispid, std::function<Variant()> get,
                   std::function<void(const Variant&)> put, bool persisted = true);
  void AddMethod(std::string name, std::function<Variant(std::vector<Variant>&)> call,
                 int32_t id = dispid::kUnknown);
  void AddEvent(std::string name, int32_t id = dispid::kUnknown);
  // The stock colour properties a control chooses to have, with their standard DISPIDs.
  void AddForeColor() { AddStockColor("ForeColor", dispid::kForeColor, foreColor_); }
  void AddBackColor() { AddStockColor("BackColor", dispid::kBackColor, backColor_); }
  void AddBorderColor() { AddStockColor("BorderColor", dispid::kBorderColor, borderColor_); }
  void AddFillColor() { AddStockColor("FillColor", dispid::kFillColor, fillColor_); }
  void AddBorderVisible();
  void AddStockColor(std::string name, int32_t id, uint32_t& field);

  // Ask, store, mark dirty, notify, repaint. False when the container refused.
  template <class T>
  bool SetStock(int32_t id, T& field, T value) {
    if (!host_.RequestEdit(id)) return false;
    field = std::move(value);
    dirty_ = true;
    host_.Changed(id);
    host_.Invalidate();
    return true;
  }
  // The value a stock property (colour or BorderVisible) starts with, set without any notice.
  void InitStock(int32_t id, uint32_t value);
  void SetReadyState(int32_t state);  // notifies DISPID -525, then repaints
  // A control that loads data keeps a ready state, unset until its first load ends; one that loads
  // nothing is complete as soon as it is live, as the page's OBJECT was.
  void KeepReadyState() { readyState_ = 0; }
  void SetExtentStored(gdi::Size himetric) { extent_ = himetric; }
  void SetNaturalPixels(gdi::Size pixels);  // extent and natural extent from a bitmap's size
  void MarkClean() { dirty_ = false; }

  Host& host_;

 private:
  const ClassEntry& entry_;
  std::vector<Property> properties_;
  std::vector<Method> methods_;
  std::vector<Event> events_;
  uint32_t foreColor_ = 0x80000012;  // button text
  uint32_t backColor_ = 0x8000000F;  // button face
  uint32_t borderColor_ = 0x80000012;
  uint32_t fillColor_ = 0x80000005;  // window
  bool borderVisible_ = false;
  int32_t readyState_ = kReadyStateComplete;
  bool dirty_ = false;
  gdi::Size extent_{};
  gdi::Size natural_{};
};

// HRESULT of a run-time error that left a setter (VB's 0x800A0000 facility for small numbers).
HRESULT ErrorResult(const automation::ComError& e);

}  // namespace tamsolo
