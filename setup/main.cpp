// vantrel-setup DATABASE_FILE --admin USER_ID --password PASSWORD [--demo]
//
// Creates a new site database at the current schema version with its first rows and the first
// site administrator. Never overwrites a file.
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "schema/site_database.h"

namespace {

constexpr const char* kUsage =
    "Usage: vantrel-setup DATABASE_FILE --admin USER_ID --password PASSWORD [--demo]\n"
    "\n"
    "Creates a new Vantrel site database file with its first rows and a first site\n"
    "administrator. The file must not exist yet.\n"
    "\n"
    "  DATABASE_FILE        the SQLite file to create\n"
    "  --admin USER_ID      the site administrator's user id (a letter, then letters\n"
    "                       and digits; at most 50 characters)\n"
    "  --password PASSWORD  the administrator's password (at most 20 characters);\n"
    "                       only a salted hash of it is stored\n"
    "  --demo               also add a demo project with users and issues\n"
    "  --help               show this text\n";

struct Arguments {
  std::string file;
  std::string admin;
  std::string password;
  bool haveAdmin = false;
  bool havePassword = false;
  bool demo = false;
};

int Fail(const std::string& message, bool showUsage) {
  std::fprintf(stderr, "vantrel-setup: %s\n", message.c_str());
  if (showUsage) std::fprintf(stderr, "\n%s", kUsage);
  return showUsage ? 2 : 1;
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
    } else if (a == "--demo") {
      args.demo = true;
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
  if (!args.havePassword) return Fail("The site administrator's password (--password) is missing.", true);
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
  return 0;
}
