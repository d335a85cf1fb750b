#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "registry/registry.h"
#include "support/temp_dir.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  testsupport::ScopedEnv env{"VANTREL_REGISTRY", (dir / "registry").string()};
  std::string Content() { return testsupport::ReadFile(dir / "registry"); }
};

TEST_F(RegistryTest, ValuesAreFoundWithoutRegardToCase) {
  registry::WriteValue(registry::kVantrelKey, "EMailSchedule", "15");
  EXPECT_EQ(registry::ReadValue("hklm\\software\\vantrel ltd.\\VANTREL", "emailschedule"), "15");
  EXPECT_EQ(registry::RegRead("HKLM\\Software\\Vantrel Ltd.\\Vantrel\\EMAILSCHEDULE"), "15");
  registry::WriteValue(registry::kVantrelKey, "EMAILSCHEDULE", "5");
  EXPECT_EQ(registry::ReadValues(registry::kVantrelKey).size(), 1u);
  EXPECT_NE(Content().find("EMailSchedule=5"), std::string::npos);  // the stored name is kept
  EXPECT_FALSE(registry::ReadValue(registry::kVantrelKey, "Missing"));
  EXPECT_THROW(registry::RegRead("HKLM\\Software\\Vantrel Ltd.\\Vantrel\\Missing"), registry::Error);
}

TEST_F(RegistryTest, WritersKeepCommentsAndOtherSections) {
  testsupport::WriteFile(dir / "registry",
                         "# written by hand\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\nA=1\n\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel]\n# level\nLogDetailLevel=1\n");
  registry::WriteValue(registry::kDatabasesKey, "site1", "Data Source=/srv/a=b.db");
  registry::WriteValue(registry::kVantrelKey, "INSTALLDIR", "/opt/vantrel");
  std::string c = Content();
  EXPECT_NE(c.find("# written by hand"), std::string::npos);
  EXPECT_NE(c.find("# level"), std::string::npos);
  EXPECT_EQ(registry::ReadValue("HKLM\\SOFTWARE\\Other", "a"), "1");
  EXPECT_EQ(registry::ReadValue(registry::kDatabasesKey, "SITE1"), "Data Source=/srv/a=b.db");
  EXPECT_EQ(registry::ReadValue(registry::kVantrelKey, "LogDetailLevel"), "1");
  EXPECT_EQ(registry::SubKeys(registry::kVantrelKey), std::vector<std::string>{"Databases"});
}

TEST_F(RegistryTest, DeleteValueAndKey) {
  registry::WriteValue(registry::kDatabasesKey, "a", "1");
  registry::WriteValue(registry::kDatabasesKey, "b", "2");
  registry::WriteValue(registry::kVantrelKey, "", "default");
  EXPECT_EQ(registry::RegRead("HKLM\\SOFTWARE\\Vantrel Ltd.\\Vantrel\\"), "default");
  EXPECT_TRUE(registry::DeleteValue(registry::kDatabasesKey, "A"));
  EXPECT_FALSE(registry::DeleteValue(registry::kDatabasesKey, "A"));
  EXPECT_EQ(registry::ReadValues(registry::kDatabasesKey).size(), 1u);
  EXPECT_THROW(registry::RegDelete("HKLM\\SOFTWARE\\Vantrel Ltd.\\Vantrel\\Databases\\zz"), registry::Error);
  registry::RegDelete("HKLM\\SOFTWARE\\Vantrel Ltd.\\Vantrel\\");
  EXPECT_FALSE(registry::KeyExists(registry::kDatabasesKey));
  EXPECT_FALSE(registry::KeyExists(registry::kVantrelKey));
}

TEST_F(RegistryTest, AKeyAddedThenRemovedGivesTheFileBack) {
  const std::string before = "# by hand\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\nA=1\n";
  testsupport::WriteFile(dir / "registry", before);
  registry::WriteValue("HKCR\\Tamsolo.Chart", "", "Chart Class");
  registry::CreateKey("HKCR\\Tamsolo.Chart\\Empty");
  ASSERT_TRUE(registry::DeleteKey("HKCR\\Tamsolo.Chart"));
  EXPECT_EQ(Content(), before);
}

// A writer killed before its rename leaves its temporary file; the next writer removes those of
// processes that no longer run, and nothing else.
TEST_F(RegistryTest, AWriterRemovesTheTemporaryFilesOfDeadWriters) {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = std::to_string(child), alive = std::to_string(::getppid());
  const std::pair<std::string, bool> files[] = {
      {"registry.tmp." + dead, false}, {"registry.tmp." + alive, true}, {"other.tmp." + dead, true},
      {"registry.tmp.x" + dead, true}};
  for (const auto& [name, kept] : files) testsupport::WriteFile(dir / name, "left");
  registry::WriteValue(registry::kVantrelKey, "A", "1");
  for (const auto& [name, kept] : files) EXPECT_EQ(std::filesystem::exists(dir / name), kept) << name;
}

TEST_F(RegistryTest, RefusesWhatCannotBeKeptOnOneLine) {
  EXPECT_THROW(registry::WriteValue(registry::kVantrelKey, "x", "a\nb"), registry::Error);
  EXPECT_THROW(registry::WriteValue(registry::kVantrelKey, "a=b", "1"), registry::Error);
  EXPECT_FALSE(std::filesystem::exists(dir / "registry"));
}

TEST_F(RegistryTest, ConcurrentWritersInOtherProcessesLoseNothing) {
  const int kProcs = 6, kEach = 15;
  for (int p = 0; p < kProcs; ++p) {
    if (fork() == 0) {
      for (int i = 0; i < kEach; ++i)
        registry::WriteValue(registry::kDatabasesKey, "db" + std::to_string(p) + "_" + std::to_string(i), "v");
      _exit(0);
    }
  }
  for (int p = 0; p < kProcs; ++p) wait(nullptr);
  EXPECT_EQ(registry::ReadValues(registry::kDatabasesKey).size(), static_cast<size_t>(kProcs * kEach));
}

}  // namespace
