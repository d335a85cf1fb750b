#include <gtest/gtest.h>

#include "host/recording_host.h"
#include "host/transfer.h"

namespace tamsolo {
namespace {

// What the owner's data function saw: "data <bytes>" per piece (checking the zero after the
// counted bytes), "end" for the end call.
struct Owner {
  std::vector<std::string> calls;
  Transfers::DataFunction Function() {
    return [this](int id, const char* bytes, int32_t count) {
      std::string line = std::to_string(id) + " ";
      if (count == 0 && bytes == nullptr) {
        calls.push_back(line + "end");
        return;
      }
      EXPECT_GT(count, 0);
      EXPECT_EQ(bytes[count], '\0');
      calls.push_back(line + "data " + std::string(bytes, count));
    };
  }
};

struct Fixture {
  RecordingHost host;
  Transfers transfers;
  Owner owner;
  Fixture() { host.holdTransfers = true; }
  int Get(std::string_view kind, std::string_view url) {
    return transfers.Start(host, kind, DownloadRequest(url), owner.Function());
  }
};

TEST(Transfer, PiecesReachTheOwnerAsTheyArriveThenOneEnd) {
  Fixture f;
  ASSERT_EQ(f.Get("DownloadURL", "/APP/Workflow/Diagram.asp"), 1);
  f.host.Play(0, {"H\r\nOpen\r\n1", "2\r\n"});
  EXPECT_EQ(f.owner.calls, (std::vector<std::string>{"1 data H\r\nOpen\r\n1", "1 data 2\r\n", "1 end"}));
  EXPECT_EQ(f.transfers.Received("DownloadURL"), "H\r\nOpen\r\n12\r\n");
  EXPECT_TRUE(f.transfers.Ended("DownloadURL"));
}

TEST(Transfer, AnErrorPageIsDataAndAFailureOnlyEnds) {
  Fixture f;
  f.Get("DataURL", "/missing.asp");
  f.Get("DownloadURL", "http://127.0.0.1:1/closed");
  f.host.Play(0, {"<h1>Not Found</h1>"}, false, 404);
  f.host.Play(1, {}, false, 0);
  f.host.held[1]->OnEnd(false, 0);  // a second end from the network layer changes nothing
  EXPECT_EQ(f.owner.calls, (std::vector<std::string>{"1 data <h1>Not Found</h1>", "1 end", "2 end"}));
}

TEST(Transfer, TheUrlIsCanonicalAndMustFitTheBufferWithItsZero) {
  struct Case {
    std::string property;
    std::string requested;  // "" when nothing may start
  } cases[] = {
      {"", ""},
      {"/APP/Data.asp?Project=My Project", "/APP/Data.asp?Project=My%20Project"},
      {"/" + std::string(1022, 'a'), "/" + std::string(1022, 'a')},  // 1,023 bytes
      {"/" + std::string(1023, 'a'), ""},                             // 1,024 bytes
      {"/" + std::string(1020, 'a') + " ", ""},                       // 1,024 once escaped
  };
  for (const Case& c : cases) {
    Fixture f;
    const int id = f.Get("DataURL", c.property);
    if (c.requested.empty()) {
      EXPECT_EQ(id, 0);
      EXPECT_TRUE(f.host.requests.empty());
      EXPECT_EQ(f.transfers.Current("DataURL"), 0);
    } else {
      ASSERT_EQ(f.host.requests.size(), 1u);
      EXPECT_EQ(f.host.requests[0], (TransferRequest{"GET", c.requested, "", ""}));
    }
    EXPECT_TRUE(f.owner.calls.empty());
  }
}

TEST(Transfer, APostCarriesTheBodyAndTheClosingLineOnce) {
  Fixture f;
  const std::string body =
      "-----------------------------7d114d2a100b3e\r\n"
      "Content-Disposition: form-data; name=\"States\"\r\n\r\n1\tCaf\xc3\xa9\r\n";
  f.transfers.Start(f.host, "UploadURL", UploadRequest("/APP/Workflow/Save.asp", body), f.owner.Function());
  f.transfers.Start(f.host, "UploadURL", UploadRequest("/APP/Workflow/Save.asp", body), f.owner.Function());
  const TransferRequest expected{"POST", "/APP/Workflow/Save.asp",
                                 "multipart/form-data; boundary=-----------------------------7d114d2a100b3e",
                                 body + "-----------------------------7d114d2a100b3e--\r\n"};
  ASSERT_EQ(f.host.requests.size(), 2u);
  EXPECT_EQ(f.host.requests[0], expected);
  EXPECT_EQ(f.host.requests[1], expected);
  EXPECT_EQ(f.host.calls[0], "StartTransfer POST /APP/Workflow/Save.asp");
}

TEST(Transfer, ANewerRequestOfOneKindSupersedesTheOlderOne) {
  Fixture f;
  f.Get("DownloadURL", "/diagram?first");
  f.Get("DataURL", "/lists");  // another kind runs beside it
  f.Get("DownloadURL", "/diagram?second");
  EXPECT_FALSE(f.host.held[0]->Wanted());  // the page may stop reading it
  EXPECT_TRUE(f.host.held[2]->Wanted());
  f.host.Play(0, {"S\r\n1\tOld"});
  f.host.Play(2, {"S\r\n1\tNew"});
  f.host.Play(1, {"lists"});
  EXPECT_EQ(f.owner.calls,
            (std::vector<std::string>{"3 data S\r\n1\tNew", "3 end", "2 data lists", "2 end"}));
  EXPECT_EQ(f.transfers.Current("DownloadURL"), 3);
  EXPECT_EQ(f.transfers.Received("DownloadURL"), "S\r\n1\tNew");
  EXPECT_EQ(f.transfers.Received("DataURL"), "lists");
}

TEST(Transfer, NothingReachesAnOwnerThatIsGone) {
  RecordingHost host;
  host.holdTransfers = true;
  Owner owner;
  {
    Transfers transfers;
    transfers.Start(host, "DataURL", DownloadRequest("/lists"), owner.Function());
  }
  EXPECT_FALSE(host.held[0]->Wanted());
  host.Play(0, {"late"});
  EXPECT_TRUE(owner.calls.empty());
}

}  // namespace
}  // namespace tamsolo
