#include "core/multipart.h"

#include <algorithm>
#include <iterator>

#include "core/error_protocol.h"

namespace brisquel {

using automation::RaiseRuntime;
using automation::Variant;
using automation::VarType;
namespace vberr = automation::vberr;

namespace {

constexpr std::string_view kFormClass = "MultipartFormData";
constexpr std::string_view kFieldsClass = "FormFields";
constexpr std::string_view kFilesClass = "AttachedFiles";
constexpr std::string_view kFileClass = "AttachedFile";

// Used for a file part that names no type of its own.
constexpr std::string_view kDefaultMimeType = "application/octet-stream";

unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// How a collection index was given: a text is a key, a number is a position from 1.
struct Index {
  enum Kind { Name, Position, Invalid } kind = Invalid;
  std::string_view name;
  int32_t position = 0;
};

Index Classify(const Variant& v) {
  if (const std::string* s = v.StringIf()) return {Index::Name, *s, 0};
  switch (v.Type()) {
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::LongLong:
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency:
      try {
        return {Index::Position, {}, v.ToLong()};
      } catch (const automation::ComError&) {
        return {};
      }
    default:
      return {};
  }
}

// The errors a keyed collection gives when asked to remove what it does not hold.
[[noreturn]] void RaiseNotHeld(const Index& index) {
  switch (index.kind) {
    case Index::Name: RaiseRuntime(vberr::kInvalidCall);
    case Index::Position: RaiseRuntime(vberr::kSubscript);
    default: RaiseRuntime(vberr::kTypeMismatch);
  }
}

// The client's own fault: logged once here as a warning, then raised through the decoding
// procedures (which add to its source chain) to the page.
[[noreturn]] void Malformed(std::string_view procedure, const std::string& what) {
  brisquel::RaiseInputFault(kFormClass, procedure, vberr::kInvalidCall, "The posted form is malformed: " + what + ".");
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  size_t at = text.find(from);
  if (at == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t done = 0;
  while (at != std::string_view::npos) {
    out.append(text, done, at - done);
    out.append(to);
    done = at + from.size();
    at = text.find(from, done);
  }
  out.append(text, done);
  return out;
}

// The text after the first `attribute` (which ends with its opening quote) up to the next quote;
// false when the attribute is absent.
bool QuotedAttribute(std::string_view header, std::string_view attribute, std::string_view& value,
                     const char* what) {
  size_t at = header.find(attribute);
  if (at == std::string_view::npos) return false;
  at += attribute.size();
  size_t close = header.find('"', at);
  if (close == std::string_view::npos) Malformed("DecodePart", std::string("a part's ") + what + " has no closing quote");
  value = header.substr(at, close - at);
  return true;
}

// The first delimiter at or after `from` that is a whole delimiter line: the delimiter followed by
// CR LF (another part) or "--" (the closing line). Content that merely holds CR LF and the boundary
// text is not a delimiter.
size_t FindDelimiter(std::string_view body, std::string_view delimiter, size_t from) {
  for (;;) {
    size_t at = body.find(delimiter, from);
    if (at == std::string_view::npos) return at;
    size_t after = at + delimiter.size();
    if (after + 2 <= body.size() &&
        ((body[after] == '\r' && body[after + 1] == '\n') || (body[after] == '-' && body[after + 1] == '-'))) {
      return at;
    }
    from = at + 1;
  }
}

}  // namespace

size_t NoCaseHash::operator()(std::string_view s) const noexcept {
  uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (char c : s) {
    h ^= Lower(static_cast<unsigned char>(c));
    h *= 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

// ---- ItemEnumerator ----

ItemEnumerator::ItemEnumerator(std::vector<Variant> items)
    : items_(std::make_shared<const std::vector<Variant>>(std::move(items))) {}

bool ItemEnumerator::Next(Variant& item) {
  if (pos_ >= items_->size()) {
    item = Variant();
    return false;
  }
  item = (*items_)[pos_++];
  return true;
}

bool ItemEnumerator::Skip(int32_t count) {
  if (count < 0) RaiseRuntime(vberr::kInvalidCall);
  size_t left = items_->size() - pos_;
  if (static_cast<size_t>(count) > left) {
    pos_ = items_->size();
    return false;
  }
  pos_ += static_cast<size_t>(count);
  return true;
}

std::shared_ptr<ItemEnumerator> ItemEnumerator::Clone() const {
  return std::shared_ptr<ItemEnumerator>(new ItemEnumerator(items_, pos_));
}

// ---- FormFields ----

Variant FormFields::Field::Value() const {
  if (values.size() == 1) return Variant(values.front());
  std::vector<Variant> a;
  a.reserve(values.size());
  for (const std::string& v : values) a.emplace_back(v);
  return Variant(std::move(a));
}

FormFields::FormFields() {
  Procedure(kFieldsClass, "Class_Initialize", [] {});
}

std::string FormFields::Add(const std::string& fieldname, const std::string& value) {
  Insert(fieldname, std::string(value));
  return value;
}

void FormFields::Insert(std::string_view fieldname, std::string&& value) {
  Procedure(kFieldsClass, "Add", [&] {
    auto it = index_.find(fieldname);
    if (it != index_.end()) {
      // A name posted again collects its values and moves to the end of the order.
      Iterator field = it->second;
      field->values.push_back(std::move(value));
      field->name.assign(fieldname);
      items_.splice(items_.end(), items_, field);
    } else {
      items_.push_back(Field{std::string(fieldname), {}});
      items_.back().values.push_back(std::move(value));
      index_.emplace(std::string(fieldname), std::prev(items_.end()));
    }
    orderValid_ = false;
  });
}

const FormFields::Field* FormFields::AtPosition(int32_t position) const {
  if (position < 1 || static_cast<size_t>(position) > items_.size()) return nullptr;
  if (!orderValid_) {
    order_.clear();
    order_.reserve(items_.size());
    for (const Field& f : items_) order_.push_back(&f);
    orderValid_ = true;
  }
  return order_[static_cast<size_t>(position) - 1];
}

const FormFields::Field* FormFields::Find(std::string_view name) const {
  auto it = index_.find(name);
  return it == index_.end() ? nullptr : &*it->second;
}

// Never raises: a field the form did not post reads as Empty.
Variant FormFields::Item(const Variant& indexOrKey) const {
  Index index = Classify(indexOrKey);
  const Field* f = nullptr;
  if (index.kind == Index::Name) f = Find(index.name);
  if (index.kind == Index::Position) f = AtPosition(index.position);
  return f ? f->Value() : Variant();
}

int32_t FormFields::Count() const {
  return Procedure(kFieldsClass, "Count", [&] { return static_cast<int32_t>(items_.size()); });
}

std::shared_ptr<automation::Object> FormFields::NewEnum() const {
  return Procedure(kFieldsClass, "NewEnum", [&] {
    std::vector<Variant> snapshot;
    snapshot.reserve(items_.size());
    for (const Field& f : items_) snapshot.push_back(f.Value());
    return std::static_pointer_cast<automation::Object>(std::make_shared<ItemEnumerator>(std::move(snapshot)));
  });
}

void FormFields::Remove(const Variant& indexOrKey) {
  Procedure(kFieldsClass, "Remove", [&] {
    Index index = Classify(indexOrKey);
    const Field* f = nullptr;
    if (index.kind == Index::Name) f = Find(index.name);
    if (index.kind == Index::Position) f = AtPosition(index.position);
    if (!f) RaiseNotHeld(index);
    auto it = index_.find(f->name);
    items_.erase(it->second);
    index_.erase(it);
    orderValid_ = false;
  });
}

std::string FormFields::Text(std::string_view name) const {
  const Field* f = Find(name);
  if (!f) return {};
  if (f->values.size() > 1) RaiseRuntime(vberr::kTypeMismatch);
  return f->values.front();
}

const std::vector<std::string>& FormFields::Values(std::string_view name) const {
  static const std::vector<std::string> kNone;
  const Field* f = Find(name);
  return f ? f->values : kNone;
}

// ---- AttachedFile ----

std::string AttachedFile::Filename() const {
  return Procedure(kFileClass, "Get_Filename", [&] { return filename_; });
}

void AttachedFile::SetFilename(const std::string& filename) {
  Procedure(kFileClass, "Let_Filename", [&] { filename_ = filename; });
}

std::string AttachedFile::MimeType() const {
  return Procedure(kFileClass, "Get_MimeType", [&] { return mimeType_; });
}

void AttachedFile::SetMimeType(const std::string& mimeType) {
  Procedure(kFileClass, "Let_MimeType", [&] { mimeType_ = mimeType; });
}

Variant AttachedFile::BinaryData() const {
  return Procedure(kFileClass, "Get_BinaryData", [&] { return filled_ ? Variant::SharingBytes(data_) : Variant(); });
}

void AttachedFile::SetBinaryData(std::string_view data) {
  Procedure(kFileClass, "Let_BinaryData", [&] {
    data_ = std::make_shared<const std::vector<uint8_t>>(data.begin(), data.end());
    filled_ = true;
  });
}

// ---- AttachedFiles ----

std::shared_ptr<AttachedFile> AttachedFiles::Add(const std::string& filename, const std::string& mimeType,
                                                 std::string_view data) {
  return Procedure(kFilesClass, "Add", [&] {
    if (Find(filename)) RaiseRuntime(vberr::kDuplicateKey);
    auto file = std::make_shared<AttachedFile>();
    file->SetBinaryData(data);
    file->SetMimeType(mimeType);
    file->SetFilename(filename);
    items_.push_back(file);
    return file;
  });
}

void AttachedFiles::AddPosted(std::string_view filename, std::string_view mimeType, std::string_view data) {
  Procedure(kFilesClass, "Add", [&] {
    auto file = std::make_shared<AttachedFile>();
    file->SetBinaryData(data);
    file->SetMimeType(std::string(mimeType));
    file->SetFilename(std::string(filename));
    items_.push_back(std::move(file));
  });
}

std::shared_ptr<AttachedFile> AttachedFiles::Find(std::string_view filename) const {
  for (const auto& f : items_) {
    if (EqualsNoCase(f->filename_, filename)) return f;
  }
  return nullptr;
}

AttachedFiles::const_iterator AttachedFiles::Locate(const Variant& indexOrKey) const {
  Index index = Classify(indexOrKey);
  if (index.kind == Index::Name) {
    return std::find_if(items_.begin(), items_.end(),
                        [&](const auto& f) { return EqualsNoCase(f->filename_, index.name); });
  }
  if (index.kind == Index::Position && index.position >= 1 && static_cast<size_t>(index.position) <= items_.size()) {
    return items_.begin() + (index.position - 1);
  }
  return items_.end();
}

// Never raises: a file that was not posted reads as a new, empty one.
std::shared_ptr<AttachedFile> AttachedFiles::Item(const Variant& indexOrKey) const {
  auto it = Locate(indexOrKey);
  return it == items_.end() ? std::make_shared<AttachedFile>() : *it;
}

std::shared_ptr<automation::Object> AttachedFiles::NewEnum() const {
  return Procedure(kFilesClass, "NewEnum", [&] {
    std::vector<Variant> snapshot(items_.begin(), items_.end());
    return std::static_pointer_cast<automation::Object>(std::make_shared<ItemEnumerator>(std::move(snapshot)));
  });
}

void AttachedFiles::Remove(const Variant& indexOrKey) {
  Procedure(kFilesClass, "Remove", [&] {
    auto it = Locate(indexOrKey);
    if (it == items_.end()) RaiseNotHeld(Classify(indexOrKey));
    items_.erase(it);
  });
}

// ---- MultipartFormData ----

MultipartFormData::MultipartFormData() {
  Procedure(kFormClass, "Class_Initialize", [&] {
    fields_ = std::make_shared<FormFields>();
    files_ = std::make_shared<AttachedFiles>();
  });
}

void MultipartFormData::SetBinaryData(const Variant& body) {
  Procedure(kFormClass, "Let_BinaryData", [&] {
    if (auto bytes = body.SharedBytes()) return Store(std::move(bytes), {});
    if (const std::string* s = body.StringIf()) return Store(nullptr, std::string(*s));
    // Anything else that converts (an array of numbers, Empty) becomes a buffer of our own.
    Store(std::make_shared<const std::vector<uint8_t>>(body.ToBytes()), {});
  });
}

void MultipartFormData::SetBody(std::string body) {
  Procedure(kFormClass, "Let_BinaryData", [&] { Store(nullptr, std::move(body)); });
}

// Holds either `bytes` or, when it is null, `text`. An empty body only clears the stored one; the
// collections keep what they held.
void MultipartFormData::Store(std::shared_ptr<const std::vector<uint8_t>> bytes, std::string&& text) {
  bytes_ = std::move(bytes);
  text_ = std::move(text);
  if (!Body().empty()) DecodeBinaryData();
}

std::string_view MultipartFormData::Body() const {
  if (!bytes_) return text_;
  return {reinterpret_cast<const char*>(bytes_->data()), bytes_->size()};
}

Variant MultipartFormData::BinaryData() const {
  return Procedure(kFormClass, "Get_BinaryData", [&] {
    return bytes_ ? Variant::SharingBytes(bytes_) : Variant::Bytes(std::vector<uint8_t>(text_.begin(), text_.end()));
  });
}

std::shared_ptr<AttachedFiles> MultipartFormData::Files() const {
  return Procedure(kFormClass, "Get_Files", [&] { return files_; });
}

std::shared_ptr<FormFields> MultipartFormData::Fields() const {
  return Procedure(kFormClass, "Get_Fields", [&] { return fields_; });
}

// The delimiter comes from the body's first line, not from the request header, so both the
// browsers' bodies ("--" + boundary) and the diagram editor's (the bare boundary) decode.
void MultipartFormData::DecodeBinaryData() {
  Procedure(kFormClass, "DecodeBinaryData", [&] {
    fields_ = std::make_shared<FormFields>();
    files_ = std::make_shared<AttachedFiles>();
    const std::string_view body = Body();
    size_t eol = body.find("\r\n");
    if (eol == std::string_view::npos) return;  // one line: not a multipart body
    std::string delimiter = "\r\n";
    delimiter.append(body.substr(0, eol));
    // A body that does not end with CR LF is still whole when its close delimiter ends it or an
    // epilogue follows that; without one it is not a multipart body (a URL-encoded post, say): an
    // empty form.
    if (!body.ends_with("\r\n") && body.find(delimiter + "--", eol) == std::string_view::npos) return;
    if (eol == 0) Malformed("DecodeBinaryData", "the body starts with an empty line instead of a delimiter");
    // p is at the CR LF that ends a delimiter line, or at the "--" that ends the closing one.
    size_t p = eol;
    while (body.compare(p, 2, "--") != 0) {
      size_t start = p + 2;
      size_t next = FindDelimiter(body, delimiter, start);
      if (next == std::string_view::npos) {
        Malformed("DecodeBinaryData", "no delimiter line ends the part that starts at byte " + std::to_string(start + 1) +
                  " (the body is cut short or holds no part)");
      }
      DecodePart(body.substr(start, next - start));
      p = next + delimiter.size();
    }
  });
}

void MultipartFormData::DecodePart(std::string_view part) {
  Procedure(kFormClass, "DecodePart", [&] {
    size_t blank = part.find("\r\n\r\n");
    if (blank == std::string_view::npos) Malformed("DecodePart", "a part has no empty line after its headers");
    std::string_view header = part.substr(0, blank + 2);  // ends with the last header's CR LF
    std::string_view content = part.substr(blank + 4);

    std::string_view name;
    if (!QuotedAttribute(header, "name=\"", name, "name")) Malformed("DecodePart", "a part has no name");
    std::string_view filename;
    if (!QuotedAttribute(header, "filename=\"", filename, "file name")) {
      fields_->Insert(name, HtmlDecode(content));
      return;
    }
    if (filename.empty()) return;  // a file input left empty
    std::string_view mimeType = kDefaultMimeType;
    constexpr std::string_view kContentType = "Content-Type: ";
    size_t type = header.find(kContentType);
    if (type != std::string_view::npos) {
      type += kContentType.size();
      mimeType = header.substr(type, header.find("\r\n", type) - type);
    }
    files_->AddPosted(filename, mimeType, content);
  });
}

std::string MultipartFormData::HtmlDecode(std::string_view text) {
  return Procedure(kFormClass, "HtmlDecode", [&] {
    if (text.find('&') == std::string_view::npos) return std::string(text);
    return ReplaceAll(ReplaceAll(text, "&gt;", ">"), "&lt;", "<");
  });
}

namespace {

automation::Register<MultipartFormData> regForm("MultipartFormData", "Brisquel.MultipartFormData", [](auto& c) {
  using M = MultipartFormData;
  c.Property("BinaryData", &M::BinaryData, &M::SetBinaryData);
  c.Property("Files", &M::Files);
  c.Property("Fields", &M::Fields);
});

automation::Register<FormFields> regFields("FormFields", "", [](auto& c) {
  using F = FormFields;
  c.Method("Add", &F::Add);
  // For a page that replaces posted values before a writer reads them.
  c.Method("Remove", &F::Remove);
  c.Property("Item", &F::Item);
  c.Default("Item");
  c.Property("Count", &F::Count);
  c.Property("NewEnum", &F::NewEnum);
  c.Property("_NewEnum", &F::NewEnum);
});

automation::Register<AttachedFiles> regFiles("AttachedFiles", "", [](auto& c) {
  using F = AttachedFiles;
  c.Property("Item", &F::Item);
  c.Default("Item");
  c.Property("Count", &F::Count);
  c.Property("NewEnum", &F::NewEnum);
  c.Property("_NewEnum", &F::NewEnum);
});

automation::Register<AttachedFile> regFile("AttachedFile", "", [](auto& c) {
  using F = AttachedFile;
  c.Property("Filename", &F::Filename);
  c.Property("MimeType", &F::MimeType);
  c.Property("BinaryData", &F::BinaryData);
});

automation::Register<ItemEnumerator> regEnum("ItemEnumerator", "", [](auto& c) {
  using E = ItemEnumerator;
  c.Method("Next", &E::Next);
  c.Method("Skip", &E::Skip);
  c.Method("Reset", &E::Reset);
  c.Method("Clone", &E::Clone);
});

}  // namespace

}  // namespace brisquel
