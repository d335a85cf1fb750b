// Decoding posted forms: a 10 MB upload (goal: well under 50 ms) and a form of many small fields.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "core/multipart.h"

namespace {

const std::string kLine = "------WebKitFormBoundaryQ7mZ3xK9aB2cD4eF";

std::string Field(const std::string& name, const std::string& value) {
  return kLine + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::vector<uint8_t> UploadBody(size_t fileSize) {
  std::mt19937_64 rng(42);
  std::string data(fileSize, '\0');
  for (char& c : data) c = static_cast<char>(rng() & 0xFF);
  std::string body = Field("Title", "A title") + Field("Comments", "Some &lt;text&gt;\r\nover lines");
  body += kLine + "\r\nContent-Disposition: form-data; name=\"Attachment\"; filename=\"big.bin\"\r\n" +
          "Content-Type: application/octet-stream\r\n\r\n" + data + "\r\n" + kLine + "--\r\n";
  return {body.begin(), body.end()};
}

void BM_Decode10MbUpload(benchmark::State& state) {
  automation::Variant body = automation::Variant::Bytes(UploadBody(10 * 1024 * 1024));
  for (auto _ : state) {
    brisquel::MultipartFormData form;
    form.SetBinaryData(body);
    benchmark::DoNotOptimize(form.Files()->Item(automation::Variant(1))->Bytes().data());
  }
  state.SetBytesProcessed(state.iterations() * 10 * 1024 * 1024);
}
BENCHMARK(BM_Decode10MbUpload)->Unit(benchmark::kMillisecond);

void BM_DecodeManyFields(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += Field("chkField" + std::to_string(i % 500), "value " + std::to_string(i));
  text += kLine + "--\r\n";
  automation::Variant body = automation::Variant::Bytes({text.begin(), text.end()});
  for (auto _ : state) {
    brisquel::MultipartFormData form;
    form.SetBinaryData(body);
    benchmark::DoNotOptimize(form.Fields()->Count());
  }
}
BENCHMARK(BM_DecodeManyFields)->Unit(benchmark::kMicrosecond);

}  // namespace
