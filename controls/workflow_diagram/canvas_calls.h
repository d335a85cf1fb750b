// The editor drives its canvas by DISPID, as it drove the drawing control it was written for:
// these are the numbers it uses and three small helpers to call them.
#pragma once

#include <memory>
#include <vector>

#include "diagram_canvas/diagram_canvas.h"

namespace tamsolo::canvascalls {

using automation::Variant;
using canvas::Dispatch;

// The canvas.
inline constexpr int32_t kGridShown = 16, kSnap = 17, kBackground = 21, kGridX = 29, kGridY = 30, kScrollX = 35,
                         kScrollY = 36, kPointer = 43, kPointerPicture = 44, kNodes = 46, kZoomX = 47, kZoomY = 48,
                         kLastGesture = 49, kCurrentNode = 51, kCurrentLink = 52, kSelectedNodes = 59,
                         kSelectedLinks = 60, kNodeAt = 78, kLinkAt = 79, kEnabled = -514, kRefresh = -550;
// Collections.
inline constexpr int32_t kCount = 1, kItem = 0, kClear = 2, kAdd = 3, kRemove = 4, kUnselectAll = 3, kAddPoint = 4;
// Nodes.
inline constexpr int32_t kNodeTag = 6, kNodeCaption = 8, kNodeSelected = 10, kZOrder = 12, kNodePicture = 16,
                         kNodeFlags = 19, kNodeLeft = 20, kNodeTop = 21, kNodeWidth = 22, kNodeHeight = 23,
                         kNodeIndex = 24, kOutgoing = 26, kPlacement = 29;
// Links and points.
inline constexpr int32_t kLinkTag = 4, kLinkCaption = 10, kLinkSelected = 12, kSource = 20, kTarget = 21,
                         kPoints = 22, kLineStyle = 23, kLinkIndex = 26, kReverse = 30, kPointX = 1, kPointY = 2;

inline Variant Nothing() { return Variant(std::shared_ptr<automation::Object>()); }

inline Dispatch& Of(const Variant& v) {
  auto p = std::dynamic_pointer_cast<Dispatch>(v.ToObject());
  if (!p) throw automation::ComError(static_cast<int32_t>(0x80004003), "WorkflowDiagram", "Invalid pointer");
  return *p;
}
inline bool IsNothing(const Variant& v) { return !v.IsObject() || !v.ToObject(); }

inline Variant CGet(Dispatch& o, int32_t id, std::vector<Variant> args = {}) {
  return o.Invoke(id, canvas::InvokeKind::Get, std::move(args));
}
inline void CPut(Dispatch& o, int32_t id, Variant v) { o.Invoke(id, canvas::InvokeKind::Put, {std::move(v)}); }
inline Variant CCall(Dispatch& o, int32_t id, std::vector<Variant> args = {}) {
  return o.Invoke(id, canvas::InvokeKind::Method, std::move(args));
}
inline int32_t Count(Dispatch& collection) { return CGet(collection, kCount).ToLong(); }
inline Dispatch& Item(Dispatch& collection, int32_t i) { return Of(CGet(collection, kItem, {Variant(i)})); }
inline float Real(Dispatch& o, int32_t id) { return static_cast<float>(CGet(o, id).ToDouble()); }

}  // namespace tamsolo::canvascalls
