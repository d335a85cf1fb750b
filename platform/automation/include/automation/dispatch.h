// Member tables and the binder that turns a C++ member (or a free function taking the object
// first) into a by-name callable entry. Included by automation.h; a class becomes callable by name
// by deriving from Dispatchable<T> and registering its members, one line each. The class itself
// gives its name and ProgID (library/core/database.cpp):
//
//   automation::Register<Database> reg("Database", "Brisquel.Database", [](auto& c) {
//     c.PropertyRef("ActiveConnection", &Database::GetActiveConnection, &Database::SetActiveConnection);
//     c.Property("LastErrorMessage", &Database::GetLastErrorMessage, &Database::SetLastErrorMessage);
//   });
//
// and each family of members adds its own from its own file, free functions taking the object
// first, with the defaults of trailing optional arguments (library/issues/workflow.cpp):
//
//   automation::Register<Database> reg([](auto& c) { c.Method("GetAllowedStatusRs", &GetAllowedStatusRs); });
#pragma once

#include <functional>
#include <map>
#include <tuple>
#include <type_traits>
#include <utility>

namespace automation {

using Thunk = std::function<Variant(Object&, std::vector<Variant>&)>;

struct Member {
  std::string name;
  Thunk get;     // property get, or a method called as one
  size_t getArity = 0;
  Thunk put;     // property let: the value is the last argument
  Thunk putref;  // property set
  Thunk call;    // method
};

class ClassInfo {
 public:
  ClassInfo() = default;
  ClassInfo(const ClassInfo&) = delete;
  ClassInfo& operator=(const ClassInfo&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string_view name) { name_ = std::string(name); }
  Member& Add(std::string_view name);
  const Member* Find(std::string_view name) const;
  void SetDefault(std::string_view name) { default_ = std::string(name); }
  const Member* Default() const;
  std::vector<std::string> MemberNames() const;

 private:
  std::string name_;
  std::string default_;
  std::map<std::string, Member> members_;  // key: lower-case name
};

template <class T>
ClassInfo& ClassOf() {
  static ClassInfo info;
  return info;
}

// Derive from this to be callable by name.
template <class T, class Base = Object>
class Dispatchable : public Base {
 public:
  using Base::Base;
  const ClassInfo& Class() const override { return ClassOf<T>(); }
};

using Factory = std::function<std::shared_ptr<Object>()>;
void RegisterProgId(std::string_view progId, Factory factory);
std::vector<std::string> RegisteredProgIds();

namespace detail {

template <class P>
struct Arg;  // how a parameter of type P is taken from (and written back to) a Variant

template <class V, class Conv>
struct ValueArg {
  using Holder = V;
  static constexpr bool kByRef = false;
  static Holder From(const Variant& v) { return Conv{}(v); }
  static const Holder& Pass(Holder& h) { return h; }
  static void Back(Variant&, const Holder&) {}
};
template <class V, class Conv>
struct RefArg {
  using Holder = V;
  static constexpr bool kByRef = true;
  static Holder From(const Variant& v) { return v.IsEmpty() ? V{} : Conv{}(v); }
  static Holder& Pass(Holder& h) { return h; }
  static void Back(Variant& v, const Holder& h) { v = Variant(h); }
};

struct ToBoolC {
  bool operator()(const Variant& v) const { return v.ToBool(); }
};
struct ToIntC {
  int16_t operator()(const Variant& v) const { return v.ToInt(); }
};
struct ToLongC {
  int32_t operator()(const Variant& v) const { return v.ToLong(); }
};
struct ToLongLongC {
  int64_t operator()(const Variant& v) const { return v.ToLongLong(); }
};
struct ToDoubleC {
  double operator()(const Variant& v) const { return v.ToDouble(); }
};
struct ToFloatC {
  float operator()(const Variant& v) const { return static_cast<float>(v.ToDouble()); }
};
struct ToStringC {
  std::string operator()(const Variant& v) const { return v.ToString(); }
};
struct ToDateC {
  Date operator()(const Variant& v) const { return v.ToDate(); }
};
struct SameC {
  Variant operator()(const Variant& v) const { return v; }
};
struct ToBytesC {
  std::vector<uint8_t> operator()(const Variant& v) const { return v.ToBytes(); }
};

template <> struct Arg<bool> : ValueArg<bool, ToBoolC> {};
template <> struct Arg<int16_t> : ValueArg<int16_t, ToIntC> {};
template <> struct Arg<int32_t> : ValueArg<int32_t, ToLongC> {};
template <> struct Arg<int64_t> : ValueArg<int64_t, ToLongLongC> {};
template <> struct Arg<double> : ValueArg<double, ToDoubleC> {};
template <> struct Arg<float> : ValueArg<float, ToFloatC> {};
template <> struct Arg<std::string> : ValueArg<std::string, ToStringC> {};
template <> struct Arg<const std::string&> : ValueArg<std::string, ToStringC> {};
template <> struct Arg<Date> : ValueArg<Date, ToDateC> {};
template <> struct Arg<Variant> : ValueArg<Variant, SameC> {};
template <> struct Arg<const Variant&> : ValueArg<Variant, SameC> {};
template <> struct Arg<std::vector<uint8_t>> : ValueArg<std::vector<uint8_t>, ToBytesC> {};
template <> struct Arg<const std::vector<uint8_t>&> : ValueArg<std::vector<uint8_t>, ToBytesC> {};

template <> struct Arg<bool&> : RefArg<bool, ToBoolC> {};
template <> struct Arg<int16_t&> : RefArg<int16_t, ToIntC> {};
template <> struct Arg<int32_t&> : RefArg<int32_t, ToLongC> {};
template <> struct Arg<double&> : RefArg<double, ToDoubleC> {};
template <> struct Arg<std::string&> : RefArg<std::string, ToStringC> {};
template <> struct Arg<Variant&> {
  using Holder = Variant;
  static constexpr bool kByRef = true;
  static Holder From(const Variant& v) { return v.IsMissing() ? Variant() : v; }
  static Holder& Pass(Holder& h) { return h; }
  static void Back(Variant& v, const Holder& h) { v = h; }
};

// An object argument: Nothing (or Empty) gives nullptr; another class or a non-object is a type
// mismatch.
template <class X>
struct ObjectArg {
  using Holder = std::shared_ptr<X>;
  static constexpr bool kByRef = false;
  static Holder From(const Variant& v) {
    if (v.IsEmpty() || v.IsMissing()) return nullptr;
    if (!v.IsObject()) RaiseRuntime(vberr::kTypeMismatch);
    auto o = v.ToObject();
    if (!o) return nullptr;
    if constexpr (std::is_same_v<X, Object>) {
      return o;
    } else {
      auto x = std::dynamic_pointer_cast<X>(o);
      if (!x) RaiseRuntime(vberr::kTypeMismatch);
      return x;
    }
  }
  static const Holder& Pass(Holder& h) { return h; }
  static void Back(Variant&, const Holder&) {}
};
template <class X> struct Arg<std::shared_ptr<X>> : ObjectArg<X> {};
template <class X> struct Arg<const std::shared_ptr<X>&> : ObjectArg<X> {};

template <class R>
Variant ToResult(R&& r) {
  using D = std::decay_t<R>;
  if constexpr (std::is_same_v<D, Variant>) {
    return std::forward<R>(r);
  } else if constexpr (std::is_same_v<D, int16_t>) {
    return Variant::Integer(r);
  } else if constexpr (std::is_same_v<D, int64_t>) {
    return Variant::LongLong(r);
  } else if constexpr (std::is_same_v<D, float>) {
    return Variant::Single(r);
  } else if constexpr (std::is_same_v<D, Date>) {
    return Variant::FromDate(r);
  } else if constexpr (std::is_same_v<D, std::vector<uint8_t>>) {
    return Variant::Bytes(std::forward<R>(r));
  } else {
    return Variant(std::forward<R>(r));
  }
}

// Fills omitted trailing arguments (and Missing ones) from the defaults, which stand for the last
// defaults.size() parameters, and checks the count.
void PrepareArgs(std::vector<Variant>& args, size_t arity, const std::vector<Variant>& defaults);

template <class Sig>
struct Signature;
template <class R, class C, class... P>
struct Signature<R (C::*)(P...)> {
  using Result = R;
  using Params = std::tuple<P...>;
  static constexpr size_t kArity = sizeof...(P);
  template <class T, class F, class... H>
  static R Invoke(T& obj, F f, H&... h) { return (obj.*f)(h...); }
};
template <class R, class C, class... P>
struct Signature<R (C::*)(P...) const> {
  using Result = R;
  using Params = std::tuple<P...>;
  static constexpr size_t kArity = sizeof...(P);
  template <class T, class F, class... H>
  static R Invoke(T& obj, F f, H&... h) { return (obj.*f)(h...); }
};
// Free function that takes the object first: R f(T&, P...).
template <class R, class C, class... P>
struct Signature<R (*)(C&, P...)> {
  using Result = R;
  using Params = std::tuple<P...>;
  static constexpr size_t kArity = sizeof...(P);
  template <class T, class F, class... H>
  static R Invoke(T& obj, F f, H&... h) { return f(obj, h...); }
};

template <class T, class F, size_t... I>
Variant InvokeWith(T& obj, F f, std::vector<Variant>& args, std::index_sequence<I...>) {
  using S = Signature<F>;
  using Params = typename S::Params;
  std::tuple<typename Arg<std::tuple_element_t<I, Params>>::Holder...> holders{
      Arg<std::tuple_element_t<I, Params>>::From(args[I])...};
  auto writeBack = [&] {
    (Arg<std::tuple_element_t<I, Params>>::Back(args[I], std::get<I>(holders)), ...);
  };
  if constexpr (std::is_void_v<typename S::Result>) {
    S::Invoke(obj, f, Arg<std::tuple_element_t<I, Params>>::Pass(std::get<I>(holders))...);
    writeBack();
    return Variant();
  } else {
    Variant r = ToResult(
        S::Invoke(obj, f, Arg<std::tuple_element_t<I, Params>>::Pass(std::get<I>(holders))...));
    writeBack();
    return r;
  }
}

template <class T, class F>
Thunk Bind(F f, std::vector<Variant> defaults) {
  using S = Signature<F>;
  return [f, defaults = std::move(defaults)](Object& self, std::vector<Variant>& args) -> Variant {
    PrepareArgs(args, S::kArity, defaults);
    T& obj = dynamic_cast<T&>(self);
    return InvokeWith(obj, f, args, std::make_index_sequence<S::kArity>{});
  };
}

}  // namespace detail

// Registration of one class's members, used by Register<T>.
template <class T>
class ClassBuilder {
 public:
  explicit ClassBuilder(ClassInfo& info) : info_(info) {}

  // A method; defaults stand for the last parameters, in order.
  template <class F>
  ClassBuilder& Method(std::string_view name, F f, std::vector<Variant> defaults = {}) {
    info_.Add(name).call = detail::Bind<T>(f, std::move(defaults));
    return *this;
  }
  // A read-only property (its getter may take index arguments).
  template <class G>
  ClassBuilder& Property(std::string_view name, G getter, std::vector<Variant> defaults = {}) {
    Member& m = info_.Add(name);
    m.get = detail::Bind<T>(getter, std::move(defaults));
    m.getArity = detail::Signature<G>::kArity;
    return *this;
  }
  // A property with get and let.
  template <class G, class S>
  ClassBuilder& Property(std::string_view name, G getter, S setter) {
    Member& m = info_.Add(name);
    m.get = detail::Bind<T>(getter, {});
    m.getArity = detail::Signature<G>::kArity;
    m.put = detail::Bind<T>(setter, {});
    return *this;
  }
  // A property with get and set (an object reference).
  template <class G, class S>
  ClassBuilder& PropertyRef(std::string_view name, G getter, S setter) {
    Member& m = info_.Add(name);
    m.get = detail::Bind<T>(getter, {});
    m.getArity = detail::Signature<G>::kArity;
    m.putref = detail::Bind<T>(setter, {});
    return *this;
  }
  // A write-only property.
  template <class S>
  ClassBuilder& WriteOnly(std::string_view name, S setter) {
    info_.Add(name).put = detail::Bind<T>(setter, {});
    return *this;
  }
  ClassBuilder& Default(std::string_view name) {
    info_.SetDefault(name);
    return *this;
  }

 private:
  ClassInfo& info_;
};

// Registers a class's name, its ProgID (empty for classes that callers cannot create) and its
// members. Further Register<T> objects may add members from other source files.
template <class T>
struct Register {
  template <class Fn>
  Register(std::string_view className, std::string_view progId, Fn fn) {
    ClassInfo& info = ClassOf<T>();
    info.SetName(className);
    ClassBuilder<T> b(info);
    fn(b);
    if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>) {
      if (!progId.empty()) {
        RegisterProgId(progId,
                       [] { return std::static_pointer_cast<Object>(std::make_shared<T>()); });
      }
    }
  }
  template <class Fn>
  explicit Register(Fn fn) {
    ClassBuilder<T> b(ClassOf<T>());
    fn(b);
  }
};

}  // namespace automation
