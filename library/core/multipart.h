// Posted forms. A page hands the raw multipart/form-data body of a request to a MultipartFormData
// (its BinaryData property); the body is split into posted values (Fields, a FormFields collection
// keyed by field name) and uploaded files (Files, an AttachedFiles collection of AttachedFile).
// The writers take the object as their FormData argument and only read it.
//
// Bytes and characters map one to one: every posted byte is kept as it came, so values stay in the
// browser's encoding (UTF-8) and file data come back byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "automation/automation.h"
#include "automation/text.h"

namespace brisquel {

// Field and file names compare without regard to (ASCII) case.
using automation::EqualsNoCase;
struct NoCaseHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept;
};
struct NoCaseEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept { return EqualsNoCase(a, b); }
};

// The enumerator a collection's NewEnum hands out, in the shape of IEnumVARIANT. It walks a
// snapshot taken when it was made, so changing the collection cannot invalidate it.
class ItemEnumerator : public automation::Dispatchable<ItemEnumerator> {
 public:
  explicit ItemEnumerator(std::vector<automation::Variant> items);
  // The next item into `item` and True; False (and `item` Empty) past the last one.
  bool Next(automation::Variant& item);
  // Skips `count` items; False when fewer were left.
  bool Skip(int32_t count);
  void Reset() { pos_ = 0; }
  std::shared_ptr<ItemEnumerator> Clone() const;

 private:
  ItemEnumerator(std::shared_ptr<const std::vector<automation::Variant>> items, size_t pos)
      : items_(std::move(items)), pos_(pos) {}
  std::shared_ptr<const std::vector<automation::Variant>> items_;
  size_t pos_ = 0;
};

// The posted values, keyed by field name. A name posted more than once holds all its values, in
// arrival order, and moves to the end of the item order each time it is posted again.
class FormFields : public automation::Dispatchable<FormFields> {
 public:
  struct Field {
    std::string name;                 // as last posted
    std::vector<std::string> values;  // one or more, in arrival order
    // The item as callers see it: the text of a name posted once, else an array (from 0) of texts.
    automation::Variant Value() const;
  };
  using const_iterator = std::list<Field>::const_iterator;

  FormFields();

  // Adds a value under a name (collecting the values of a repeated name) and returns the value.
  std::string Add(const std::string& fieldname, const std::string& value);
  // The item of a field name, or of a position from 1 in item order; Empty when there is none.
  automation::Variant Item(const automation::Variant& indexOrKey) const;
  int32_t Count() const;
  std::shared_ptr<automation::Object> NewEnum() const;
  // Removes one item: error 5 for an unknown name, 9 for a position out of range.
  void Remove(const automation::Variant& indexOrKey);

  // For the library's own code.
  const Field* Find(std::string_view name) const;  // nullptr when not posted
  bool Contains(std::string_view name) const { return Find(name) != nullptr; }
  // The value of a name posted once; "" when not posted. A name posted more than once raises a
  // type mismatch (13), as reading an array as text does.
  std::string Text(std::string_view name) const;
  // Every value of a name in arrival order; empty when not posted.
  const std::vector<std::string>& Values(std::string_view name) const;
  // Iteration over the fields in item order.
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

 private:
  friend class MultipartFormData;
  using Iterator = std::list<Field>::iterator;
  void Insert(std::string_view fieldname, std::string&& value);  // the body of Add
  const Field* AtPosition(int32_t position) const;               // from 1; nullptr outside

  std::list<Field> items_;
  std::unordered_map<std::string, Iterator, NoCaseHash, NoCaseEqual> index_;
  // Item order as a vector, rebuilt on the first access by position after a change.
  mutable std::vector<const Field*> order_;
  mutable bool orderValid_ = true;
};

// One uploaded file.
class AttachedFile : public automation::Dispatchable<AttachedFile> {
 public:
  // The file name as the client sent it (a full client path stays as sent).
  std::string Filename() const;
  void SetFilename(const std::string& filename);
  std::string MimeType() const;
  void SetMimeType(const std::string& mimeType);
  // The file's bytes as a byte array; Empty for a file never filled.
  automation::Variant BinaryData() const;
  // One byte per character of `data`.
  void SetBinaryData(std::string_view data);

  // For the library's own code.
  bool HasData() const { return filled_; }
  const std::vector<uint8_t>& Bytes() const { return *data_; }

 private:
  friend class AttachedFiles;  // finds files by name without the property procedures
  std::string filename_;
  std::string mimeType_;
  // Shared with every value the getter hands out: a large file is held once.
  std::shared_ptr<const std::vector<uint8_t>> data_ = std::make_shared<const std::vector<uint8_t>>();
  bool filled_ = false;
};

// The uploaded files in arrival order, found by file name (without regard to case) or position.
class AttachedFiles : public automation::Dispatchable<AttachedFiles> {
 public:
  using const_iterator = std::vector<std::shared_ptr<AttachedFile>>::const_iterator;

  // A new file under the key `filename`: error 457 when a file of that name is already held.
  std::shared_ptr<AttachedFile> Add(const std::string& filename, const std::string& mimeType,
                                    std::string_view data);
  // The file of a name (the first that arrived under it) or of a position from 1; a new, empty
  // AttachedFile when there is none.
  std::shared_ptr<AttachedFile> Item(const automation::Variant& indexOrKey) const;
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  std::shared_ptr<automation::Object> NewEnum() const;
  // Removes one file: error 5 for an unknown name, 9 for a position out of range.
  void Remove(const automation::Variant& indexOrKey);

  // For the library's own code.
  std::shared_ptr<AttachedFile> Find(std::string_view filename) const;  // nullptr when absent
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

 private:
  friend class MultipartFormData;
  // The decoder's insertion: a second upload of the same file name is kept too, reachable by
  // position, instead of failing the whole form.
  void AddPosted(std::string_view filename, std::string_view mimeType, std::string_view data);
  const_iterator Locate(const automation::Variant& indexOrKey) const;  // end() when absent

  std::vector<std::shared_ptr<AttachedFile>> items_;
};

// One posted form. Creatable as "Brisquel.MultipartFormData".
class MultipartFormData : public automation::Dispatchable<MultipartFormData> {
 public:
  MultipartFormData();

  // Stores the body (a byte array, one character per byte) and decodes it. An empty byte array
  // only clears the stored body: the collections keep what they held. A body that neither ends
  // with CR LF nor holds a close delimiter gives empty collections; a malformed body raises error 5
  // (an automation::InputFault, logged once as a warning), keeping the parts decoded before the
  // fault. A byte array's buffer is kept as it is, shared with the caller's
  // value, so an upload is held once (plus the bytes of its files); text is copied.
  void SetBinaryData(const automation::Variant& body);
  // The same for a body the caller already holds as bytes in a string.
  void SetBody(std::string body);
  // The stored body as a byte array (empty when none was stored); a stored byte array is handed
  // out shared, not copied.
  automation::Variant BinaryData() const;
  std::string_view Body() const;

  std::shared_ptr<AttachedFiles> Files() const;
  std::shared_ptr<FormFields> Fields() const;

  // "&gt;" to ">", then "&lt;" to "<"; no other entity. Applied to every posted value.
  static std::string HtmlDecode(std::string_view text);

 private:
  void Store(std::shared_ptr<const std::vector<uint8_t>> bytes, std::string&& text);
  void DecodeBinaryData();
  void DecodePart(std::string_view part);

  // The stored body: a byte array's buffer, or (when that is null) text of our own.
  std::shared_ptr<const std::vector<uint8_t>> bytes_;
  std::string text_;
  std::shared_ptr<FormFields> fields_;
  std::shared_ptr<AttachedFiles> files_;
};

}  // namespace brisquel
