#include <algorithm>
#include <cctype>
#include <mutex>
#include <new>
#include <unordered_map>

#include "automation/automation.h"
#include "automation/text.h"

namespace automation {

namespace {

std::string Lower(std::string_view s) { return LowerAscii(s); }

struct ProgIdTable {
  std::mutex mutex;
  std::unordered_map<std::string, Factory> factories;  // key: lower-case ProgID
  std::vector<std::string> names;
};

ProgIdTable& ProgIds() {
  static ProgIdTable table;
  return table;
}

[[noreturn]] void NoSuchMember() { RaiseRuntime(vberr::kNoSuchMember); }

// Errors crossing the by-name interface are recorded as VB's Err would see them.
template <class F>
Variant Crossing(F&& f) {
  try {
    return f();
  } catch (const ComError& e) {
    SetErr(e);
    throw;
  } catch (const std::bad_alloc&) {
    ComError e(vberr::kOutOfMemory, "Brisquel", RuntimeErrorText(vberr::kOutOfMemory));
    SetErr(e);
    throw e;
  } catch (const std::exception& x) {
    ComError e(vberr::kFail, "Brisquel", x.what());
    SetErr(e);
    throw e;
  }
}

}  // namespace

Member& ClassInfo::Add(std::string_view name) {
  Member& m = members_[Lower(name)];
  if (m.name.empty()) m.name = std::string(name);
  return m;
}

const Member* ClassInfo::Find(std::string_view name) const {
  auto it = members_.find(Lower(name));
  return it == members_.end() ? nullptr : &it->second;
}

const Member* ClassInfo::Default() const { return default_.empty() ? nullptr : Find(default_); }

std::vector<std::string> ClassInfo::MemberNames() const {
  std::vector<std::string> names;
  for (const auto& [key, m] : members_) names.push_back(m.name);
  return names;
}

void RegisterProgId(std::string_view progId, Factory factory) {
  ProgIdTable& t = ProgIds();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto [it, inserted] = t.factories.insert_or_assign(Lower(progId), std::move(factory));
  if (inserted) t.names.emplace_back(progId);
}

std::vector<std::string> RegisteredProgIds() {
  ProgIdTable& t = ProgIds();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.names;
}

std::shared_ptr<Object> CreateObject(std::string_view progId) {
  Factory f;
  {
    ProgIdTable& t = ProgIds();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.factories.find(Lower(progId));
    if (it != t.factories.end()) f = it->second;
  }
  if (!f) {
    ComError e(vberr::kCannotCreate, "Brisquel",
               "Cannot create object: invalid class string \"" + std::string(progId) + "\"");
    SetErr(e);
    throw e;
  }
  std::shared_ptr<Object> o;
  Crossing([&] {
    o = f();
    return Variant();
  });
  return o;
}

Object::~Object() = default;

std::string_view Object::ClassName() const { return Class().Name(); }

namespace {

const Member& Lookup(const Object& self, std::string_view name) {
  const Member* m = name.empty() ? self.Class().Default() : self.Class().Find(name);
  if (!m) NoSuchMember();
  return *m;
}

Variant GetMember(Object& self, const Member& m, std::vector<Variant>& args) {
  if (m.get) {
    if (m.getArity == 0 && !args.empty()) {
      // obj.Fields("UserId"): the arguments go to the default member of the property's value.
      std::vector<Variant> none;
      Variant v = m.get(self, none);
      std::shared_ptr<Object> o = v.ToObject();
      if (!o) RaiseRuntime(vberr::kObjectNotSet);
      return o->Get("", std::move(args));
    }
    return m.get(self, args);
  }
  if (m.call) return m.call(self, args);
  NoSuchMember();
}

}  // namespace

Variant Object::Get(std::string_view property, std::vector<Variant> args) {
  return Crossing([&] { return GetMember(*this, Lookup(*this, property), args); });
}

void Object::Put(std::string_view property, Variant value) {
  Crossing([&] {
    const Member& m = Lookup(*this, property);
    std::vector<Variant> args{std::move(value)};
    if (m.put) return m.put(*this, args);
    if (m.putref && args[0].IsObject()) return m.putref(*this, args);
    NoSuchMember();
  });
}

void Object::PutRef(std::string_view property, Variant object) {
  Crossing([&] {
    const Member& m = Lookup(*this, property);
    std::vector<Variant> args{std::move(object)};
    if (m.putref) return m.putref(*this, args);
    if (m.put) return m.put(*this, args);
    NoSuchMember();
  });
}

Variant Object::Call(std::string_view method, std::vector<Variant>& args) {
  return Crossing([&] {
    const Member& m = Lookup(*this, method);
    if (m.call) return m.call(*this, args);
    return GetMember(*this, m, args);
  });
}

Variant Object::Call(std::string_view method, const std::vector<Variant>& args) {
  std::vector<Variant> copy(args);
  return Call(method, copy);
}

Variant Object::Call(std::string_view method, std::vector<Variant>&& args) {
  return Call(method, args);
}

namespace detail {

void PrepareArgs(std::vector<Variant>& args, size_t arity, const std::vector<Variant>& defaults) {
  if (args.size() > arity) RaiseRuntime(vberr::kWrongArgumentCount);
  size_t firstDefault = arity - std::min(arity, defaults.size());
  size_t given = args.size();
  args.resize(arity, Variant::Missing());
  for (size_t i = 0; i < arity; ++i) {
    if (!args[i].IsMissing()) continue;
    if (i < firstDefault) {
      if (i >= given) RaiseRuntime(vberr::kWrongArgumentCount);
      RaiseRuntime(vberr::kArgumentNotOptional);
    }
    args[i] = defaults[i - firstDefault];
  }
}

}  // namespace detail

}  // namespace automation
