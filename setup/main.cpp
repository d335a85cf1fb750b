// vantrel-setup DATABASE_FILE --admin USER_ID (--password-file PATH | --password - | --password
// PASSWORD) [--demo] [--backup-job]
//
// Creates a new site database at the current schema version with its first rows and the first
// site administrator, and with --backup-job the site's backup job. Never overwrites a file.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "brisquel/setup.h"

namespace {

constexpr const char* kUsage =
    "Usage: vantrel-setup DATABASE_FILE --admin USER_ID --password-file PATH [--demo] [--backup-job]\n"
    "       vantrel-setup DATABASE_FILE --admin USER_ID --password - [--demo] [--backup-job]\n"
    "\n"
    "Creates a new Vantrel site database file with its first rows and a first site\n"
    "administrator. The file must not exist yet.\n"
    "\n"
    "  DATABASE_FILE        the SQLite file to create\n"
    "  --admin USER_ID      the site administrator's user id (a letter, then letters\n"
    "                       and digits; at most 50 characters)\n"
    "  --password-file PATH the administrator's password is the first line of PATH\n"
    "                       (at most 20 characters); only a salted hash of it is stored\n"
    "  --password -         read the password from standard input (no echo on a\n"
    "                       terminal)\n"
    "  --password PASSWORD  the password itself; other users can read it in the\n"
    "                       process list, so prefer the two forms above\n"
    "  --demo               also add a demo project with users and issues\n"
    "  --backup-job         also write the site's backup job into the job store\n"
    "                       (VANTREL_AGENT_STORE): daily at 02:00 into the folder\n"
    "                       Backups beside DATABASE_FILE, kept for 2 weeks\n"
    "  --help               show this text\n";

struct Arguments {
  std::string file;
  std::string admin;
  std::string password;
  bool haveAdmin = false;
  std::string passwordFile;
  bool havePassword = false;
  bool demo = false;
  bool backupJob = false;
};

int Fail(const std::string& message, bool showUsage) {
  std::fprintf(stderr, "vantrel-setup: %s\n", message.c_str());
  if (showUsage) std::fprintf(stderr, "\n%s", kUsage);
  return showUsage ? 2 : 1;
}

// One line of `in` without its line end; false when nothing could be read.
bool ReadLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line) && line.empty()) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// The password from standard input; on a terminal it is asked for and not echoed.
bool ReadPasswordFromInput(std::string& password) {
  if (!::isatty(STDIN_FILENO)) return ReadLine(std::cin, password);
  termios saved{};
  ::tcgetattr(STDIN_FILENO, &saved);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  std::fputs("Password: ", stderr);
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  const bool ok = ReadLine(std::cin, password);
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::fputs("\n", stderr);
  return ok;
}

// Resolves --password - and --password-file into the password; a message when that fails.
std::string TakePassword(Arguments& args) {
  if (!args.passwordFile.empty()) {
    std::ifstream in(args.passwordFile);
    if (!in || !ReadLine(in, args.password)) return "The password file " + args.passwordFile + " cannot be read.";
  } else if (args.password == "-") {
    if (!ReadPasswordFromInput(args.password)) return "No password was given on standard input.";
  }
  return "";
}

// The site's backup job with the first settings an installation gives a site (daily at 02:00
// into the folder Backups beside it, old backups removed after 2 weeks), so that "Back up now"
// has a job to start. A message when it cannot be written.
std::string WriteBackupJob(const std::string& file) {
  namespace fs = std::filesystem;
  const fs::path site = fs::absolute(file);
  const fs::path folder = site.parent_path();
  std::error_code ec;
  fs::create_directories(folder / "Backups", ec);
  if (ec) return "The backup folder " + (folder / "Backups").string() + " cannot be made: " + ec.message() + ".";
  std::string message;
  try {
    auto admin = automation::CreateObject("Brisquel.DbAdmin");
    admin->Put("ConnectionString", automation::Variant("Data Source=" + site.string()));
    message = admin->Get("LastErrorMessage").ToText();
    if (message.empty()) {
      if (admin->Call("InitializeJobSchedule", {automation::Variant(folder.string())}).ToBool()) {
        std::printf("Backup job: daily at 02:00 into %s\n", (folder / "Backups").c_str());
        return "";
      }
      message = admin->Get("LastErrorMessage").ToText();
    }
  } catch (const automation::ComError& e) {
    message = e.description;
  }
  return "The site was created, but its backup job could not be written: " + message;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  std::vector<std::string_view> items(argv + 1, argv + argc);
  for (size_t i = 0; i < items.size(); ++i) {
    std::string_view a = items[i];
    auto value = [&](const char* option, std::string& into, bool& seen) -> bool {
      if (seen) {
        Fail(std::string(option) + " is given twice.", true);
        return false;
      }
      if (i + 1 >= items.size()) {
        Fail(std::string(option) + " needs a value.", true);
        return false;
      }
      into = std::string(items[++i]);
      seen = true;
      return true;
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--admin") {
      if (!value("--admin", args.admin, args.haveAdmin)) return 2;
    } else if (a == "--password") {
      if (!value("--password", args.password, args.havePassword)) return 2;
    } else if (a == "--password-file") {
      if (!value("--password-file", args.passwordFile, args.havePassword)) return 2;
      if (args.passwordFile.empty()) return Fail("--password-file needs a file name.", true);
    } else if (a == "--demo") {
      args.demo = true;
    } else if (a == "--backup-job") {
      args.backupJob = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return Fail("Unknown option " + std::string(a) + ".", true);
    } else if (!args.file.empty()) {
      return Fail("Only one database file can be given (also got " + std::string(a) + ").", true);
    } else {
      args.file = std::string(a);
    }
  }
  if (args.file.empty()) return Fail("No database file was given.", true);
  if (!args.haveAdmin) return Fail("The site administrator's id (--admin) is missing.", true);
  if (!args.havePassword) {
    return Fail("The site administrator's password (--password-file or --password) is missing.", true);
  }
  if (std::string problem = TakePassword(args); !problem.empty()) return Fail(problem, false);
  std::string problem = brisquel::schema::CheckAdministrator(args.admin, args.password);
  if (!problem.empty()) return Fail(problem, false);

  try {
    for (const auto& line :
         brisquel::schema::CreateSiteDatabase(args.file, args.admin, args.password, args.demo)) {
      std::printf("%s\n", line.c_str());
    }
  } catch (const std::exception& e) {
    return Fail(e.what(), false);
  }
  if (args.backupJob) {
    if (std::string problem = WriteBackupJob(args.file); !problem.empty()) return Fail(problem, false);
  }
  return 0;
}
