// The canvas by DISPID: the numbers the diagram editor calls, over the typed members.
#include <set>

#include "diagram_canvas/diagram_canvas.h"

namespace tamsolo::canvas {
namespace {

using Args = std::vector<Variant>;

[[noreturn]] void NotFound() { throw automation::ComError(kMemberNotFound, "DiagramCanvas", "Member not found."); }

float Real(const Args& a, size_t i) {
  if (i >= a.size()) throw automation::ComError(kBadIndex, "DiagramCanvas", "Argument missing.");
  return static_cast<float>(a[i].ToDouble());
}
int32_t Whole(const Args& a, size_t i) {
  if (i >= a.size()) throw automation::ComError(kBadIndex, "DiagramCanvas", "Argument missing.");
  return a[i].ToLong();
}

template <typename T>
Variant Obj(const std::shared_ptr<T>& p) {
  return Variant(std::static_pointer_cast<automation::Object>(p));
}

template <typename T>
Variant At(const std::vector<std::shared_ptr<T>>& items, int32_t index, int32_t base) {
  int32_t i = index - base;
  if (i < 0 || i >= static_cast<int32_t>(items.size()))
    throw automation::ComError(kBadIndex, "DiagramCanvas", "Invalid index.");
  return Obj(items[static_cast<size_t>(i)]);
}

// A collection read afresh from its owner at every call: 1 Count, 0 Item, and the owner's verbs.
template <typename T>
class Collection : public Dispatch {
 public:
  using Items = std::function<std::vector<std::shared_ptr<T>>()>;
  using Verb = std::function<Variant(int32_t dispid, Args& args)>;
  Collection(std::shared_ptr<automation::Object> keep, Items items, int32_t base, Verb verb)
      : keep_(std::move(keep)), items_(std::move(items)), base_(base), verb_(std::move(verb)) {}
  Variant Invoke(int32_t dispid, InvokeKind, Args args) override {
    if (dispid == 1) return Variant(static_cast<int32_t>(items_().size()));
    if (dispid == 0) return At(items_(), Whole(args, 0), base_);
    return verb_(dispid, args);
  }

 private:
  std::shared_ptr<automation::Object> keep_;  // the owner lives while its collection does
  Items items_;
  int32_t base_;
  Verb verb_;
};

template <typename T>
Variant MakeCollection(std::shared_ptr<automation::Object> keep, typename Collection<T>::Items items, int32_t base,
                       typename Collection<T>::Verb verb) {
  return Obj(std::make_shared<Collection<T>>(std::move(keep), std::move(items), base, std::move(verb)));
}

Variant NoVerb(int32_t, Args&) { NotFound(); }

}  // namespace

Variant CanvasPoint::Invoke(int32_t dispid, InvokeKind kind, Args args) {
  float& v = dispid == 1 ? x : dispid == 2 ? y : (NotFound(), x);
  if (kind == InvokeKind::Put) v = Real(args, 0);
  return Variant(static_cast<double>(v));
}

Variant Node::Invoke(int32_t dispid, InvokeKind kind, Args args) {
  const bool put = kind == InvokeKind::Put || kind == InvokeKind::PutRef;
  auto self = std::static_pointer_cast<Node>(shared_from_this());
  auto real = [&](float& f) {
    if (put) {
      f = Real(args, 0);
      SetBounds(left, top, width, height);
    }
    return Variant(static_cast<double>(f));
  };
  switch (dispid) {
    case 6: if (put) tag = args.at(0); return tag;
    case 8: if (put) caption = args.at(0).ToString(); return Variant(caption);
    case 10: if (put) SetSelected(args.at(0).ToBool()); return Variant(Selected());
    case 12: if (put && canvas_) canvas_->SetZOrder(*this, Whole(args, 0)); return Variant(int32_t{0});
    case 16:  // a bitmap number stands for the picture made from it
      if (put) picture = args.at(0), image = picture.IsObject() || picture.IsEmpty() ? 0 : picture.ToLong();
      return picture;
    case 19: if (put) pictureFlags = Whole(args, 0); return Variant(pictureFlags);
    case 20: return real(left);
    case 21: return real(top);
    case 22: return real(width);
    case 23: return real(height);
    case 24: return Variant(Index());
    case 26:
      return MakeCollection<Link>(self, [self] { return self->outgoing_; }, 1, [self](int32_t id, Args& a) -> Variant {
        if (id == 3) {
          auto target = std::dynamic_pointer_cast<Node>(a.at(0).ToObject());
          return Obj(self->AddLink(target));
        }
        if (id == 4) return self->RemoveLink(Whole(a, 0)), Variant();
        NotFound();
      });
    case 28: return MakeCollection<Link>(self, [self] { return self->Incoming(); }, 1, NoVerb);
    case 29: if (put) picturePlacement = Whole(args, 0); return Variant(picturePlacement);
    default: NotFound();
  }
}

Variant Link::Invoke(int32_t dispid, InvokeKind kind, Args args) {
  const bool put = kind == InvokeKind::Put || kind == InvokeKind::PutRef;
  auto self = std::static_pointer_cast<Link>(shared_from_this());
  switch (dispid) {
    case 4: if (put) tag = args.at(0); return tag;
    case 10: if (put) caption = args.at(0).ToString(); return Variant(caption);
    case 12: if (put) SetSelected(args.at(0).ToBool()); return Variant(Selected());
    case 20: return Source() ? Obj(Source()) : Variant(std::shared_ptr<automation::Object>());
    case 21: return Target() ? Obj(Target()) : Variant(std::shared_ptr<automation::Object>());
    case 22:
      return MakeCollection<CanvasPoint>(self, [self] { return self->points; }, 0,
                                         [self](int32_t id, Args& a) -> Variant {
                                           if (id == 2) return self->ClearPoints(), Variant();
                                           if (id == 4) return self->AddPoint(Real(a, 0), Real(a, 1)), Variant();
                                           NotFound();
                                         });
    case 23: if (put) lineStyle = Whole(args, 0); return Variant(lineStyle);
    case 26: return Variant(Index());
    case 30: if (put) reverse = args.at(0).ToBool(); return Variant(reverse);
    default: NotFound();
  }
}

Variant DiagramCanvas::Invoke(int32_t dispid, InvokeKind kind, Args args) {
  static const std::set<int32_t> kSwitches = {1, 2, 23, 24, 25, 26, 28, 13, 55, 65};
  const bool put = kind == InvokeKind::Put || kind == InvokeKind::PutRef;
  auto self = std::static_pointer_cast<DiagramCanvas>(shared_from_this());
  auto none = Variant(std::shared_ptr<automation::Object>());
  if (kSwitches.contains(dispid)) {
    if (put) SetSwitch(dispid, args.at(0).IsEmpty() ? 0 : args.at(0).ToBool() ? 1 : args.at(0).ToLong());
    return dispid == 13 || dispid == 55 || dispid == 65 ? Variant(SwitchValue(dispid)) : Variant(Switch(dispid));
  }
  auto real = [&](float& f) {
    if (put) f = Real(args, 0);
    return Variant(static_cast<double>(f));
  };
  auto whole = [&](int32_t& i) {
    if (put) i = Whole(args, 0);
    return Variant(i);
  };
  switch (dispid) {
    case 16: if (put) gridShown = args.at(0).ToBool(); return Variant(gridShown);
    case 17: if (put) snap = args.at(0).ToBool(); return Variant(snap);
    case 21: if (put) background = static_cast<uint32_t>(Whole(args, 0)); return Variant(static_cast<int32_t>(background));
    case 29: return real(gridX);
    case 30: return real(gridY);
    case 35: return Variant(static_cast<double>(scrollX_));
    case 36: return Variant(static_cast<double>(scrollY_));
    case 43: if (put) SetPointer(Whole(args, 0)); return Variant(pointer);
    case 44: if (put) pointerPicture = args.at(0); return pointerPicture;
    case 46:
      return MakeCollection<Node>(self, [self] { return self->nodes_; }, 1, [self](int32_t id, Args& a) -> Variant {
        if (id == 2) return self->ClearNodes(), Variant();
        if (id == 3) return Obj(self->AddNode(Real(a, 0), Real(a, 1), Real(a, 2), Real(a, 3)));
        if (id == 4) return self->RemoveNode(Whole(a, 0)), Variant();
        NotFound();
      });
    case 47: return whole(zoomX);
    case 48: return whole(zoomY);
    case 49: return Variant(static_cast<int32_t>(lastGesture_));
    case 51: return CurrentNode() ? Obj(CurrentNode()) : none;
    case 52: return CurrentLink() ? Obj(CurrentLink()) : none;
    case 59:
      return MakeCollection<Node>(self, [self] { return self->SelectedNodes(); }, 1, [self](int32_t id, Args&) -> Variant {
        if (id == 3) return self->UnselectAll(), Variant();
        NotFound();
      });
    case 60:
      return MakeCollection<Link>(self, [self] { return self->SelectedLinks(); }, 1, [self](int32_t id, Args&) -> Variant {
        if (id == 3) return self->UnselectAll(), Variant();
        NotFound();
      });
    case 78: { auto n = NodeAt(Real(args, 0), Real(args, 1)); return n ? Obj(n) : none; }
    case 79: { auto l = LinkAt(Real(args, 0), Real(args, 1)); return l ? Obj(l) : none; }
    case -514: if (put) enabled_ = args.at(0).ToBool(); return Variant(enabled_);
    case -550: Refresh(); return Variant();
    default: NotFound();
  }
}

}  // namespace tamsolo::canvas
