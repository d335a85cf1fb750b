#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include "registry/registry.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

const std::string kOthers =
    "# Vantrel installation\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel]\n"
    "Interval=5\n"
    "\n"
    "# another program's class stays\n"
    "[HKEY_CLASSES_ROOT\\CLSID]\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{00000000-1111-2222-3333-444444444444}]\n"
    "@=Other Class\n";

class RegisterProgram : public ::testing::Test {
 protected:
  TempDir dir;
  std::string file = (dir / "registry").string();
  std::string errors = (dir / "stderr").string();
  testsupport::ScopedEnv env{"VANTREL_REGISTRY", file};

  // Runs tamsolo-register with these arguments; its exit code (its error output in `errors`).
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "tamsolo-register");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, TAMSOLO_REGISTER_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    return WEXITSTATUS(status);
  }
  static std::string Value(const std::string& key, const std::string& name = "") {
    return registry::ReadValue("HKEY_CLASSES_ROOT\\" + key, name).value_or("<none>");
  }
};

TEST_F(RegisterProgram, UnregisteringLeavesTheFileAsItWasBefore) {
  WriteFile(file, kOthers);
  ASSERT_EQ(Run({"/opt/controls/tamsolo.wasm"}), 0);
  ASSERT_EQ(Value("Tamsolo.QELLogo"), "QELLogo class");
  ASSERT_EQ(Run({"--unregister"}), 0);
  EXPECT_EQ(ReadFile(file), kOthers);
}

TEST_F(RegisterProgram, RegisteringTwiceWritesTheFileOfRegisteringOnce) {
  WriteFile(file, kOthers);
  ASSERT_EQ(Run({"/opt/controls/tamsolo.wasm"}), 0);
  const std::string once = ReadFile(file);
  ASSERT_EQ(Run({"/opt/controls/tamsolo.wasm"}), 0);
  EXPECT_EQ(ReadFile(file), once);
  EXPECT_TRUE(once.starts_with(kOthers));
}

TEST_F(RegisterProgram, TheRecordNamesTheModulesFullPath) {
  ASSERT_EQ(Run({"controls/../tamsolo.wasm"}), 0);
  const std::string module = (std::filesystem::current_path() / "tamsolo.wasm").string();
  const std::string capture = "CLSID\\{141B3DC5-CE92-4C86-80EF-BB058AAD3684}";
  const std::string diagram = "CLSID\\{5A978598-17E3-45A5-8C46-8F424EEA2E31}";
  struct Case {
    std::string key, name, value;
  } cases[] = {
      {"Tamsolo.WorkflowDiagram", "", "WorkflowDiagram Class"},
      {"Tamsolo.WorkflowDiagram\\CurVer", "", "Tamsolo.WorkflowDiagram.2"},
      {diagram + "\\ProgID", "", "Tamsolo.WorkflowDiagram.1"},
      {diagram + "\\InprocServer32", "", module},
      {diagram + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {capture + "\\ToolboxBitmap32", "", module + ", 104"},
      {capture + "\\MiscStatus\\1", "", "131473"},
      {"CLSID\\{B849DFE1-FADB-4C9E-B0F9-D3DAC3438F48}\\MiscStatus\\1", "", "132497"},
      {"Tamsolo.ChartBar.2", "", "ChartBar Class"},
      {"TypeLib\\{29A5C856-39EB-4B02-B487-80BBA92C6194}\\1.0", "", "TAMSOLOLib"},
  };
  for (const Case& c : cases) EXPECT_EQ(Value(c.key, c.name), c.value) << c.key;
  EXPECT_FALSE(registry::KeyExists("HKEY_CLASSES_ROOT\\" + capture + "\\Insertable"));
  EXPECT_TRUE(registry::KeyExists("HKEY_CLASSES_ROOT\\" + diagram + "\\Insertable"));
  EXPECT_TRUE(registry::KeyExists("HKEY_CLASSES_ROOT\\" + diagram + "\\Programmable"));
}

TEST_F(RegisterProgram, ARegistryThatCannotBeWrittenFailsWithItsSentence) {
  WriteFile(dir / "plain", "");
  testsupport::ScopedEnv blocked("VANTREL_REGISTRY", (dir / "plain" / "registry").string());
  EXPECT_EQ(Run({"/opt/controls/tamsolo.wasm"}), 1);
  EXPECT_EQ(ReadFile(errors), "tamsolo-register: Cannot open the registry lock " +
                                  (dir / "plain" / "registry").string() + ".lock: Not a directory\n");
}

TEST_F(RegisterProgram, AWrongCommandLineIsRefused) {
  EXPECT_EQ(Run({"--force"}), 2);
  EXPECT_EQ(Run({"a.wasm", "b.wasm"}), 2);
  EXPECT_EQ(ReadFile(errors), "Usage: tamsolo-register [--unregister] [MODULE]\n");
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
