#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "automation/automation.h"
#include "core/multipart.h"
#include "eventlog/eventlog.h"
#include "support/com_error.h"

using automation::ComError;
using automation::CreateObject;
using automation::Object;
using automation::Variant;
using brisquel::MultipartFormData;

namespace {

const std::string kBoundary = "----WebKitFormBoundaryQ7mZ3xK9aB2cD4eF";
const std::string kLine = "--" + kBoundary;  // a browser's delimiter line

struct Part {
  std::string headers;
  std::string content;
};

Part Value(const std::string& name, const std::string& value) {
  return {"Content-Disposition: form-data; name=\"" + name + "\"", value};
}

Part File(const std::string& name, const std::string& filename, const std::string& data,
          const std::string& mimeType = "application/octet-stream") {
  return {"Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + filename +
              "\"\r\nContent-Type: " + mimeType,
          data};
}

std::string Multipart(const std::vector<Part>& parts, const std::string& line = kLine) {
  std::string b;
  for (const Part& p : parts) b += line + "\r\n" + p.headers + "\r\n\r\n" + p.content + "\r\n";
  return b + line + "--\r\n";
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}

std::shared_ptr<Object> NewForm() { return CreateObject("Brisquel.MultipartFormData"); }

std::shared_ptr<Object> Decode(const std::string& body) {
  auto form = NewForm();
  form->Put("BinaryData", Variant::Bytes(Bytes(body)));
  return form;
}

using testsupport::ErrorOf;

std::vector<std::string> Texts(const Variant& v) {
  std::vector<std::string> out;
  for (const Variant& e : v.ToArray()) out.push_back(e.ToString());
  return out;
}

class MultipartTest : public ::testing::Test {
 protected:
  std::shared_ptr<eventlog::MemorySink> log_ = eventlog::CaptureInMemory();
  void TearDown() override { eventlog::SetSink(nullptr); }
};

TEST_F(MultipartTest, BrowserBodyKeepsValuesAndEveryByteOfTheFile) {
  // File data with every byte value, CR LF runs, and text that resembles a delimiter without
  // being a whole delimiter line: the line less its last character, and the whole line followed
  // by something other than CR LF or "--".
  std::string data = AllBytes() + "\r\n\r\n\r\r\n\n" + "\r\n" + kLine.substr(0, kLine.size() - 1) + "\r\n" +
                     "\r\n" + kLine + "X\r\n" + "\r\n" + kLine + " --" + "\r\n";
  auto form = Decode(Multipart({Value("Title", "A title"), File("Attachment", "C:\\Users\\me\\a.bin", data),
                                Value("Comments", "line 1\r\nline 2\r\n")}));
  auto fields = form->Get("Fields").ToObject();
  auto files = form->Get("Files").ToObject();
  EXPECT_EQ(fields->Get("Count").ToLong(), 2);
  EXPECT_EQ(files->Get("Count").ToLong(), 1);
  EXPECT_EQ(form->Get("Fields", {Variant("Title")}).ToString(), "A title");
  EXPECT_EQ(fields->Get("Item", {Variant("comments")}).ToString(), "line 1\r\nline 2\r\n");
  auto file = files->Get("Item", {Variant(1)}).ToObject();
  EXPECT_EQ(file->Get("Filename").ToString(), "C:\\Users\\me\\a.bin");
  EXPECT_EQ(file->Get("MimeType").ToString(), "application/octet-stream");
  Variant bytes = file->Get("BinaryData");
  ASSERT_TRUE(bytes.IsBytes());
  EXPECT_EQ(bytes.ToBytes(), Bytes(data));
  EXPECT_EQ(form->Get("Files", {Variant("c:\\users\\ME\\A.BIN")}).ToObject(), file);
}

TEST_F(MultipartTest, BareBoundaryBodyDecodesTheSame) {
  std::string data = AllBytes() + "\r\n";
  auto form = Decode(Multipart({Value("StateName", "Open"), File("Diagram", "wf.bin", data)}, "BOUNDARY42"));
  EXPECT_EQ(form->Get("Fields", {Variant("statename")}).ToString(), "Open");
  EXPECT_EQ(form->Get("Files", {Variant("wf.bin")}).ToObject()->Get("BinaryData").ToBytes(), Bytes(data));
}

TEST_F(MultipartTest, RepeatedNamesCollectValuesAndMoveToTheEnd) {
  auto form = Decode(Multipart({Value("chk", "1"), Value("Title", "t"), Value("chk", "2"), Value("Other", "o"),
                                Value("chk", "3"), Value("Mixed", "a"), Value("MIXED", "b")}));
  auto fields = form->Get("Fields").ToObject();
  EXPECT_EQ(fields->Get("Count").ToLong(), 4);
  EXPECT_EQ(Texts(fields->Get("Item", {Variant("CHK")})), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Texts(fields->Get("Item", {Variant("mixed")})), (std::vector<std::string>{"a", "b"}));
  // Item order: Title, Other, chk (posted again after Other), Mixed.
  EXPECT_EQ(fields->Get("Item", {Variant(1)}).ToString(), "t");
  EXPECT_EQ(fields->Get("Item", {Variant(2)}).ToString(), "o");
  EXPECT_EQ(Texts(fields->Get("Item", {Variant(3)})), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Texts(fields->Get("Item", {Variant(4.0)})), (std::vector<std::string>{"a", "b"}));

  // Enumeration yields the items in the same order, through the by-name enumerator and in C++.
  auto e = fields->Get("NewEnum").ToObject();
  std::vector<Variant> args{Variant()};
  std::vector<Variant> seen;
  while (e->Call("Next", args).ToBool()) seen.push_back(args[0]);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[1].ToString(), "o");
  EXPECT_TRUE(seen[2].IsArray());
  EXPECT_TRUE(args[0].IsEmpty());
  e->Call("Reset");
  EXPECT_TRUE(e->Call("Skip", {Variant(3)}).ToBool());
  EXPECT_TRUE(e->Call("Next", args).ToBool());
  EXPECT_EQ(Texts(args[0]), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(e->Call("Skip", {Variant(1)}).ToBool());

  auto typed = std::dynamic_pointer_cast<MultipartFormData>(form)->Fields();
  std::vector<std::string> names;
  for (const auto& f : *typed) names.push_back(f.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Title", "Other", "chk", "MIXED"}));
  EXPECT_EQ(typed->Text("title"), "t");
  EXPECT_EQ(typed->Text("absent"), "");
  EXPECT_EQ(typed->Values("Chk"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_TRUE(typed->Values("absent").empty());
  EXPECT_EQ(ErrorOf([&] { (void)typed->Text("chk"); }).number, 13);
}

TEST_F(MultipartTest, AbsentItemsReadAsEmptyWithoutError) {
  auto form = Decode(Multipart({Value("Title", "t")}));
  auto fields = form->Get("Fields").ToObject();
  for (Variant key : {Variant("Missing"), Variant(0), Variant(2), Variant(-1), Variant(), Variant::Null(),
                      Variant("1"), Variant(1e12)}) {
    EXPECT_TRUE(fields->Get("Item", {key}).IsEmpty());
  }
  auto file = form->Get("Files", {Variant("none.txt")}).ToObject();
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Get("Filename").ToString(), "");
  EXPECT_EQ(file->Get("MimeType").ToString(), "");
  EXPECT_TRUE(file->Get("BinaryData").IsEmpty());
  EXPECT_EQ(form->Get("Files").ToObject()->Get("Count").ToLong(), 0);
}

TEST_F(MultipartTest, FileParts) {
  std::string noType = "Content-Disposition: form-data; name=\"f3\"; filename=\"raw.dat\"";
  auto form = Decode(Multipart({File("f1", "", ""), File("f2", "empty.txt", "", "text/plain"), {noType, "xyz"},
                                File("f4", "a.txt", "first"), File("f5", "A.TXT", "second"),
                                File("f6", "a.txt", "third")}));
  auto typed = std::dynamic_pointer_cast<MultipartFormData>(form);
  // An empty file input adds nothing; the part's field name is not kept for a file.
  EXPECT_EQ(typed->Fields()->Count(), 0);
  auto files = typed->Files();
  ASSERT_EQ(files->Count(), 5);
  auto empty = files->Item(Variant("empty.txt"));
  EXPECT_EQ(empty->MimeType(), "text/plain");
  ASSERT_TRUE(empty->BinaryData().IsBytes());  // an empty file, not a missing one
  EXPECT_TRUE(empty->Bytes().empty());
  EXPECT_EQ(files->Item(Variant("raw.dat"))->MimeType(), "application/octet-stream");
  // Uploads whose names differ only in case, or not at all, are all kept, by position; the name
  // finds the first.
  EXPECT_EQ(files->Item(Variant("A.txt"))->Bytes(), Bytes("first"));
  EXPECT_EQ(files->Item(Variant(4))->Bytes(), Bytes("second"));
  EXPECT_EQ(files->Item(Variant(5))->Bytes(), Bytes("third"));
  std::vector<std::string> names;
  for (const auto& f : *files) names.push_back(f->Filename());
  EXPECT_EQ(names, (std::vector<std::string>{"empty.txt", "raw.dat", "a.txt", "A.TXT", "a.txt"}));
  // Explicit inserts keep the keyed contract.
  EXPECT_EQ(ErrorOf([&] { files->Add("A.txt", "text/plain", "x"); }).number, 457);
  EXPECT_EQ(files->Add("b.txt", "text/plain", "x")->Filename(), "b.txt");

  auto e = files->NewEnum();
  std::vector<Variant> args{Variant()};
  int n = 0;
  while (e->Call("Next", args).ToBool()) {
    EXPECT_TRUE(std::dynamic_pointer_cast<brisquel::AttachedFile>(args[0].ToObject()));
    ++n;
  }
  EXPECT_EQ(n, 6);
}

TEST_F(MultipartTest, OnlyLtAndGtEntitiesAreDecodedInValues) {
  auto form = Decode(Multipart({Value("v", "&lt;b&gt;word&lt;/b&gt; &amp;lt; &quot;x&quot; &#60; &LT;"),
                                File("f", "f.txt", "&lt;kept&gt;")}));
  EXPECT_EQ(form->Get("Fields", {Variant("v")}).ToString(), "<b>word</b> &amp;lt; &quot;x&quot; &#60; &LT;");
  EXPECT_EQ(form->Get("Files", {Variant(1)}).ToObject()->Get("BinaryData").ToBytes(), Bytes("&lt;kept&gt;"));
  EXPECT_EQ(MultipartFormData::HtmlDecode("&&gt;lt;"), "&>lt;");
}

TEST_F(MultipartTest, BodiesThatAreNotMultipartGiveAnEmptyForm) {
  auto form = Decode(Multipart({Value("a", "1")}));
  form->Put("BinaryData", Variant::Bytes(Bytes("a=1&b=2")));  // no final CR LF
  EXPECT_EQ(form->Get("Fields").ToObject()->Get("Count").ToLong(), 0);
  EXPECT_EQ(form->Get("Files").ToObject()->Get("Count").ToLong(), 0);
  EXPECT_TRUE(log_->Events().empty());
}

TEST_F(MultipartTest, ABodyEndingAtItsCloseDelimiterOrWithAnEpilogueIsReadWhole) {
  const std::string body = Multipart({Value("a", "1"), File("f", "x.bin", "data\r\n")});
  const std::string closed = body.substr(0, body.size() - 2);  // "--B--" with no CR LF
  const std::string bare = Multipart({Value("a", "1"), File("f", "x.bin", "data\r\n")}, kBoundary);
  for (const std::string& b : {closed, closed + "\r\nepilogue", closed + "epilogue", body + "epilogue\r\n",
                               bare.substr(0, bare.size() - 2)}) {
    auto form = Decode(b);
    EXPECT_EQ(form->Get("Fields", {Variant("a")}).ToString(), "1") << b;
    EXPECT_EQ(form->Get("Files").ToObject()->Get("Item", {Variant("x.bin")}).ToObject()->Get("BinaryData").ToBytes(),
              Bytes("data\r\n"))
        << b;
  }
  EXPECT_TRUE(log_->Events().empty());
}

TEST_F(MultipartTest, EmptyByteArrayKeepsTheDecodedForm) {
  std::string body = Multipart({Value("a", "1"), File("f", "x.bin", AllBytes())});
  auto form = Decode(body);
  EXPECT_EQ(form->Get("BinaryData").ToBytes(), Bytes(body));
  form->Put("BinaryData", Variant::Bytes({}));
  Variant stored = form->Get("BinaryData");
  EXPECT_TRUE(stored.IsBytes());
  EXPECT_TRUE(stored.ToBytes().empty());
  EXPECT_EQ(form->Get("Fields", {Variant("a")}).ToString(), "1");
  EXPECT_EQ(form->Get("Files").ToObject()->Get("Count").ToLong(), 1);
  // A new body replaces both collections.
  form->Put("BinaryData", Variant::Bytes(Bytes(Multipart({Value("b", "2")}))));
  EXPECT_TRUE(form->Get("Fields", {Variant("a")}).IsEmpty());
  EXPECT_EQ(form->Get("Files").ToObject()->Get("Count").ToLong(), 0);
}

TEST_F(MultipartTest, AByteArrayBodyIsHeldOnceSharedWithTheCallersValue) {
  const std::string data(1 << 20, '\x5A');
  const Variant posted = Variant::Bytes(Bytes(Multipart({Value("a", "1"), File("f", "big.bin", data)})));
  const auto buffer = posted.SharedBytes();
  auto form = NewForm();
  form->Put("BinaryData", posted);
  EXPECT_EQ(buffer.use_count(), 3);  // posted, buffer and the form
  auto typed = std::dynamic_pointer_cast<MultipartFormData>(form);
  EXPECT_EQ(typed->Body().data(), reinterpret_cast<const char*>(buffer->data()));
  EXPECT_EQ(typed->Body().size(), buffer->size());
  EXPECT_EQ(form->Get("BinaryData").SharedBytes(), buffer);
  EXPECT_EQ(typed->Files()->Item(Variant("big.bin"))->Bytes().size(), data.size());
  // Text is copied; the form lets go of the array it held.
  const std::string text = Multipart({Value("b", "2")});
  form->Put("BinaryData", Variant(text));
  EXPECT_EQ(buffer.use_count(), 2);
  EXPECT_EQ(typed->Body(), text);
  EXPECT_EQ(form->Get("BinaryData").ToBytes(), Bytes(text));
  EXPECT_EQ(form->Get("Fields", {Variant("b")}).ToString(), "2");
}

TEST_F(MultipartTest, MalformedBodiesRaiseError5ThroughTheProtocol) {
  // Only the closing line, no part.
  ComError e = ErrorOf([] { Decode(kLine + "--\r\n"); });
  EXPECT_EQ(e.number, 5);
  EXPECT_EQ(e.source.find("Brisquel.dll:MultipartFormData.Let_BinaryData\r\n"
                          "Brisquel.dll:MultipartFormData.DecodeBinaryData\r\n"),
            0u);
  // A part without the empty line after its headers: the chain holds all three procedures.
  log_->Clear();
  e = ErrorOf([] { Decode(kLine + "\r\nContent-Disposition: form-data; name=\"a\"\r\n" + kLine + "--\r\n"); });
  EXPECT_EQ(e.number, 5);
  EXPECT_EQ(e.source.find("Brisquel.dll:MultipartFormData.Let_BinaryData\r\n"
                          "Brisquel.dll:MultipartFormData.DecodeBinaryData\r\n"
                          "Brisquel.dll:MultipartFormData.DecodePart\r\n"),
            0u);
  EXPECT_EQ(e.description, "The posted form is malformed: a part has no empty line after its headers.");
  // The client's own fault: one warning where it was found, none as it climbs.
  ASSERT_EQ(log_->Events().size(), 1u);
  EXPECT_EQ(log_->Events()[0].type, eventlog::Type::Warning);
  EXPECT_EQ(log_->Events()[0].text,
            "Brisquel.dll:MultipartFormData.DecodePart refused its input: " + e.description);

  EXPECT_EQ(ErrorOf([] { Decode("\r\n" + Multipart({Value("a", "1")})); }).number, 5);
  EXPECT_EQ(ErrorOf([] { Decode(Multipart({{"Content-Disposition: form-data; name=\"a", "1"}})); }).number, 5);
  EXPECT_EQ(ErrorOf([] { Decode(Multipart({{"Content-Disposition: form-data", "1"}})); }).number, 5);
  EXPECT_EQ(
      ErrorOf([] { Decode(Multipart({{"Content-Disposition: form-data; name=\"f\"; filename=\"x", "1"}})); }).number,
      5);

  // A body cut short after a whole part: the parts before the cut stay decoded.
  std::string full = Multipart({Value("a", "1"), Value("b", "2")});
  std::string cut = full.substr(0, full.find("\r\n" + kLine, full.find("name=\"b\"")) + 2);
  auto form = NewForm();
  e = ErrorOf([&] { form->Put("BinaryData", Variant::Bytes(Bytes(cut))); });
  EXPECT_EQ(e.number, 5);
  EXPECT_NE(e.description.find("cut short"), std::string::npos);
  EXPECT_EQ(form->Get("Fields", {Variant("a")}).ToString(), "1");
  EXPECT_TRUE(form->Get("Fields", {Variant("b")}).IsEmpty());
}

TEST_F(MultipartTest, EveryPrefixOfABodyDecodesOrFailsCleanly) {
  std::string full = Multipart({Value("a", "x&lt;y"), File("f", "b.bin", AllBytes() + "\r\n"), Value("a", "2")});
  for (size_t n = 0; n <= full.size(); ++n) {
    MultipartFormData form;
    try {
      form.SetBody(full.substr(0, n));
    } catch (const ComError& e) {
      EXPECT_EQ(e.number, 5) << "prefix " << n;
      continue;
    }
    // Without an error the form is either empty (no close delimiter) or complete: the body may end
    // right after its close delimiter.
    if (n >= full.size() - 2) {
      EXPECT_EQ(form.Fields()->Values("A"), (std::vector<std::string>{"x<y", "2"}));
      EXPECT_EQ(form.Files()->Item(Variant(1))->Bytes(), Bytes(AllBytes() + "\r\n"));
    } else {
      EXPECT_EQ(form.Fields()->Count() + form.Files()->Count(), 0) << "prefix " << n;
    }
  }
}

TEST_F(MultipartTest, SyntheticFormAndRemoval) {
  auto form = NewForm();
  auto fields = form->Get("Fields").ToObject();
  EXPECT_EQ(fields->Call("Add", {Variant("Name"), Variant("v1")}).ToString(), "v1");
  fields->Call("Add", {Variant("x"), Variant("y")});
  fields->Call("Add", {Variant("NAME"), Variant("v2")});
  EXPECT_EQ(Texts(form->Get("Fields", {Variant("name")})), (std::vector<std::string>{"v1", "v2"}));

  auto typed = std::dynamic_pointer_cast<brisquel::FormFields>(fields);
  EXPECT_EQ(ErrorOf([&] { typed->Remove(Variant("nope")); }).number, 5);
  EXPECT_EQ(ErrorOf([&] { typed->Remove(Variant(3)); }).number, 9);
  typed->Remove(Variant(1));  // "x" is first now: Name moved to the end when posted again
  EXPECT_FALSE(typed->Contains("X"));
  typed->Remove(Variant("name"));
  EXPECT_EQ(typed->Count(), 0);
  EXPECT_EQ(ErrorOf([&] { typed->Remove(Variant(1)); }).source.find("Brisquel.dll:FormFields.Remove"), 0u);
}

TEST_F(MultipartTest, ChromiumBodyDecodesExactly) {
  std::ifstream in(std::string(VANTREL_SOURCE_DIR) + "/tests/library/core/data/chromium_multipart.bin",
                   std::ios::binary);
  ASSERT_TRUE(in) << "missing test data";
  std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto form = Decode(body);
  auto fields = form->Get("Fields").ToObject();
  EXPECT_EQ(fields->Get("Count").ToLong(), 2);
  EXPECT_EQ(fields->Get("Item", {Variant("title")}).ToString(),
            "Grüße – 日本語 <b>bold</b> <i> &amp; more");
  EXPECT_EQ(fields->Get("Item", {Variant("Comments")}).ToString(), "line one\r\nline two");

  // The Blob the page posted: 0..255, CR LF runs, 255..0, a partial delimiter, CR LF.
  std::string all = AllBytes();
  std::string expected = all + "\r\n\r\n\r\n\r\r\n\n\r\n" + std::string(all.rbegin(), all.rend()) +
                         "\r\n------WebKitFormBoundary\r\n--\r\n\r\n";
  auto files = form->Get("Files").ToObject();
  ASSERT_EQ(files->Get("Count").ToLong(), 1);
  auto file = files->Get("Item", {Variant("bytes.bin")}).ToObject();
  EXPECT_EQ(file->Get("MimeType").ToString(), "application/octet-stream");
  EXPECT_EQ(file->Get("BinaryData").ToBytes(), Bytes(expected));
}

}  // namespace
