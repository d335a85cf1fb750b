// Files posted with a new issue held as provisional attachments, on a real site file.
#include "site/pages/issues/posted_attachments.h"

#include <gtest/gtest.h>

#include "core/database.h"
#include "core/multipart.h"
#include "support/site_db.h"

namespace {

TEST(PostedAttachments, EachPostedFileBecomesAProvisionalRowNamedForTheNewIssueAndARefusalDropsThem) {
  const auto file = sitedb::FreshSite(true);
  auto db = sitedb::Open(file);
  const std::string b = "--XyZ\r\n";
  auto form = std::make_shared<brisquel::MultipartFormData>();
  form->SetBody(b + "Content-Disposition: form-data; name=\"Summary\"\r\n\r\nCrash\r\n" + b +
                "Content-Disposition: form-data; name=\"chkAttachment\"\r\n\r\n1\r\n" + b +
                "Content-Disposition: form-data; name=\"Attachment\"; filename=\"Screen Capture.jpg\"\r\n"
                "Content-Type: image/jpeg\r\n\r\n\xFF\xD8\xFF\r\n" + b +
                "Content-Disposition: form-data; name=\"Attachment\"; filename=\"shot.bmp\"\r\n"
                "Content-Type: image/bmp\r\n\r\nBM\r\n" + b +
                "Content-Disposition: form-data; name=\"Attachment\"; filename=\"\"\r\n"
                "Content-Type: application/octet-stream\r\n\r\n\r\n--XyZ--\r\n");
  ASSERT_EQ(form->Files()->Count(), 2);  // the empty file input is no file
  const std::vector<int32_t> ids = site::KeepPostedFiles(*db, *form);
  ASSERT_EQ(ids.size(), 2u);
  // A box posted by the browser names no upload of the new issue.
  EXPECT_EQ(form->Fields()->Values("chkAttachment"), std::vector<std::string>{"1"});
  site::NameForNewIssue(*form, ids);
  EXPECT_EQ(form->Fields()->Values("chkAttachment"),
            (std::vector<std::string>{std::to_string(ids[0]), std::to_string(ids[1])}));
  const std::string rows =
      "select group_concat(AttachmentFilename || '|' || AttachmentMimeType || '|' || hex(AttachmentData), ';') from "
      "(select * from ProvisionalAttachments order by ProvisionalAttachmentId)";
  EXPECT_EQ(db->Scalar(rows).ToText(), "Screen Capture.jpg|image/jpeg|FFD8FF;shot.bmp|image/bmp|424D");
  site::DropProvisionalAttachments(*db, ids);
  EXPECT_TRUE(db->Scalar(rows).IsNull());
}

}  // namespace
