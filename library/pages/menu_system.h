// MenuSystem (Brisquel.MenuSystem): the black left menu of every page, the bottom-left block of the
// few pages that have one, and the top navigation bar, as one HTML fragment. A page puts the facts
// of its request through the write-only properties, then calls Menu once.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ado/ado.h"
#include "automation/automation.h"
#include "core/buffer.h"

namespace brisquel {

class MenuSystem : public automation::Dispatchable<MenuSystem> {
 public:
  // The text properties, in the order of the interface.
  enum Text : size_t {
    kMetaDataPath,
    kInstanceMetaDataPath,
    kHttpHost,
    kRequestURL,
    kRequestServer,
    kRequestTableName,
    kRequestScriptName,
    kRequestQueryString,
    kCaptureCtlVersion,
    kKeyboardCtlVersion,
    kReleaseNotesDownloadAddressedUrl,
    kReleaseNotesDownloadKnownUrl,
    kReleaseNotesPrinterUrl,
    kIssuePrinterFriendlyUrl,
    kIssuesPrinterFriendlyUrl,
    kIssuesDownloadUrl,
    kSearchPrinterFriendlyUrl,
    kSearchDownloadUrl,
    kTextCount
  };
  static const std::array<std::string_view, kTextCount>& TextNames();

  ~MenuSystem() override;

  // Property puts; RequestURL keeps the unmapped path of what it is given.
  // Defined and instantiated with the registration of the members.
  template <Text P>
  void Let(const std::string& value);
  void LetUserIsSiteAdmin(bool value);
  void LetUserCanAdmin(bool value);

  // The whole fragment for the signed-in user; Db is a Database asked by name.
  std::string Menu(const std::shared_ptr<automation::Object>& db, const std::string& userId, int32_t currentProjectId);

  // A path beginning with "/" under the application root; anything else unchanged.
  std::string MapURL(const std::string& path) const;
  // A request URL back to its path below the application root, without its query.
  std::string UnMapURL(const std::string& url) const;
  // The virtual directory of the application ("" at the site root).
  std::string ApplicationRoot() const;

 private:
  struct Link {
    std::string url, text, target;
  };
  enum class CodeTableKind { kNone, kProject, kSite };

  void Append(std::string_view text);
  void LeftMenu(const std::string& userId, int32_t currentProjectId);
  void Administration(int32_t currentProjectId);
  void UsersGroup(const std::string& page);
  void ProjectsGroup(const std::string& page, int32_t currentProjectId);
  void CustomizeGroup(const std::string& page);
  void SystemGroup(const std::string& page);
  void CodeTableEntries(bool projectTables, const std::string& page, int32_t currentProjectId);
  void ReadCodeTables();
  void CloseCodeTables();
  void TopMenu(const std::string& userId);

  void WriteLeftMenuEntry(const std::string& page, std::string_view label, std::string_view target);
  void StartSubMenu(std::string_view title);
  void SubMenuEntry(const std::string& page, std::string_view label, std::string_view target,
                    std::string_view secondTarget);
  void SubMenuTableEntry(const std::string& label, const std::string& url, bool isCurrent);
  void EndSubMenu();

  void BottomLeftBlock();
  void BottomLeftMenu(const std::vector<Link>& links);
  void IssuesBottomLeft();
  void ReleaseNotesBottomLeft();

  const std::string& Prop(Text t) const { return texts_[t]; }

  std::array<std::string, kTextCount> texts_;
  bool userIsSiteAdmin_ = false;
  bool userCanAdmin_ = false;
  // Held for one Menu call only.
  std::shared_ptr<automation::Object> db_;
  std::unique_ptr<Buffer> buffer_;
  std::shared_ptr<ado::Recordset> codeTables_;
  CodeTableKind requested_ = CodeTableKind::kNone;
};

}  // namespace brisquel
