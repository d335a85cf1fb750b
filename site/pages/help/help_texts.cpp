// The one table of help texts: what each page is for, what its fields mean and who may use it.
// A page that is added to the site gets its entry here (the site's tests ask for one per page).
#include "site/pages/help/help_texts.h"

#include "automation/text.h"

namespace site::help {

namespace {

constexpr std::string_view kEveryone = "Every signed-in user.";
constexpr std::string_view kTeam =
    "Every signed-in user except public users (the menu shows them no Reports group).";
constexpr std::string_view kReport =
    "Every signed-in user; the menu shows the Reports group to everybody but public users.";
constexpr std::string_view kSiteAdmins = "Site administrators only; anybody else is refused.";
constexpr std::string_view kAdmins =
    "Site administrators, and project administrators for the projects they administer; anybody else is refused.";
constexpr std::string_view kProjectAdmins =
    "Site administrators, and project administrators for the projects they administer; any of them may make a new "
    "project. Anybody else is refused.";
constexpr std::string_view kPrinter =
    "Opened from the \"Printer friendly...\" link of the page it prints, by the same users; it has no menu, "
    "so that only the content is printed.";
constexpr std::string_view kDownload =
    "Opened from the \"Download...\" link of the page it belongs to; the browser saves the file instead of "
    "showing it.";
constexpr std::string_view kDataPage =
    "Read by the chart of its page, not opened by hand; it answers only a signed-in user.";

const Field kListFields[] = {
    {"Project", "The project whose issues are listed, or \"All projects\" for every project you belong to."},
    {"Layout", "Which fields the list shows, in which rows; layouts are your own (Settings...)."},
    {"Headings", "Click a column heading to sort by it; click it again to reverse the order."},
    {"Page links", "The list shows a page of issues at a time; the links at its foot go to the other pages."},
};

std::vector<Field> ListFields(std::initializer_list<Field> more) {
  std::vector<Field> out(more);
  out.insert(out.end(), std::begin(kListFields), std::end(kListFields));
  return out;
}

std::vector<Text> MakeTexts() {
  return {
      // ---- issues
      {"/Default.asp", "Sign in",
       "The way into the tracker. Once you are signed in, \"My Issues\" and \"Home\" lead here and on to the list of "
       "your issues.",
       {{"User id", "Your user id, in any letter case."},
        {"Password", "Your password. After several wrong tries the sign-in is held back for a few seconds, longer "
                     "with each further wrong try; the page says how long."}},
       "Everybody; a visitor without an account may sign up as a public user where the site offers it."},
      {"/Assignments/MyAssignments.asp", "My Issues",
       "The issues of a filter, at first the open issues assigned to you. Tick issues and use the boxes below the "
       "list to reassign them all at once.",
       ListFields({{"Filter", "A saved filter: your own, or one of the fixed assignment filters."},
                   {"Tick boxes", "The issues that the reassignment below the list changes."},
                   {"Reassign the ticked issues to",
                    "The resolution, status and assignee the ticked issues move to; the workflow must allow the "
                    "move for each of them."}}),
       std::string_view("Every signed-in user; each sees only the issues of his projects (public users those of "
                        "the public projects).")},
      {"/Assignments/MyAssignmentsPrinterFriendly.asp", "My Issues (printer friendly)",
       "The whole list of the My Issues page, every page of it at once, without the menu.", {}, kPrinter},
      {"/Assignments/MyAssignmentsDownload.asp", "My Issues (download)",
       "The list of the My Issues page as a CSV file (issues.csv) with the fields of the chosen layout.", {},
       kDownload},
      {"/Search/Search.asp", "Search",
       "Finds issues by number, or by a text in their text fields and comments.",
       ListFields({{"Issue number", "Opens the list with that one issue, if you may see it."},
                   {"Words", "Issues whose text fields or comments hold this text as typed: the words together, in "
                             "this order, not each word on its own."},
                   {"Closed issues too", "Without the tick only open issues are searched."}}),
       kEveryone},
      {"/Search/SearchPrinterFriendly.asp", "Search (printer friendly)",
       "The whole result of a search, without the menu.", {}, kPrinter},
      {"/Search/SearchDownload.asp", "Search (download)",
       "The result of a search as a CSV file (issues.csv) with the fields of the chosen layout.", {}, kDownload},
      {"/Issues/Issue.asp", "Issue",
       "Enters a new issue or shows one issue with its comments and files. Where you may change the issue, you can "
       "move it on in the workflow, change its fields, add a comment and add or remove files, all saved together.",
       {{"Project", "The project the issue belongs to."},
        {"Issue fields", "The fields of the entry form; a field the issue's next state requires must be filled."},
        {"Comments", "Text added to the issue's log of comments when you save; earlier comments stay as written."},
        {"Resolution, Status", "The state the issue moves to; only the moves the workflow allows are offered."},
        {"Assign To", "Who works on the issue next; \"Automatic (...)\" names the user the workflow chooses."},
        {"Attachments", "The issue's files: click a name to download it; tick a file to remove it when you save."},
        {"Add files", "Files to attach when you save, a screen capture among them; with the form they may come to "
                      "at most 20 MiB, and larger ones are refused before anything is sent."},
        {"Printer friendly...", "The issue as text for printing (in the menu's bottom-left block)."}},
       std::string_view("Whoever may see the issue (the members of its project, public users for a public project, "
                        "site administrators every issue). Its assignee, the project's administrators and site "
                        "administrators may change it; everybody else only reads it. New issues: users whose groups "
                        "the workflow lets start an issue in one of their projects.")},
      {"/Issues/IssuePrinterFriendly.asp", "Issue (printer friendly)",
       "One issue with its fields, comments and the names of its files, for printing.", {}, kPrinter},
      {"/Issues/Attachment.asp", "Attachment",
       "Downloads one file of an issue. The file is always saved, never shown in the site's window, so a file "
       "cannot act as a page of the site.",
       {{"AttachmentId", "The file, as the links of the issue page name it."}},
       std::string_view("Whoever may see the issue the file belongs to; for anybody else the file does not "
                        "exist.")},
      {"/Logout.asp", "Logoff", "Ends your sign-in on this browser and returns to the sign-in page.", {}, kEveryone},

      // ---- reports
      {"/Reports/DailySummary.asp", "Daily Summary",
       "Who changed issues in a short period: for the members of a project (or of all your projects) and for the "
       "public users, how many issues each touched and how many changes he made, then the issues each one changed.",
       {{"Project", "One project, or \"All projects\": every project you are a member of."},
        {"Period", "Today, Yesterday, This week or Last week (weeks run Monday to Sunday), This month or Last month."},
        {"Issues", "How many different issues the user changed in the period."},
        {"Changes", "How many changes the user made (creating an issue counts as one)."},
        {"Printer friendly...", "The same report for printing (in the menu's bottom-left block)."}},
       kTeam},
      {"/Reports/DailySummaryPrinterFriendly.asp", "Daily Summary (printer friendly)",
       "The daily summary of the chosen project and period, without the menu.", {}, kPrinter},
      {"/Reports/ReleaseNotes.asp", "Release Notes",
       "For one project and build: the issues still known in it and the issues corrected since the previous "
       "release. The project needs the issue fields for the build an issue was found in and verified in.",
       ListFields({{"Build", "The release the notes are for."},
                   {"Previous release", "The release the corrected issues are counted from."},
                   {"Known issues, Corrected issues", "The layout of each of the two lists."},
                   {"Download fixed..., Download known...", "Either list as a CSV file."}}),
       kReport},
      {"/Reports/ReleaseNotesPrinterFriendly.asp", "Release Notes (printer friendly)",
       "Both lists of the release notes, whole, without the menu.", {}, kPrinter},
      {"/Reports/ReleaseNotesDownload.asp", "Release Notes (download)",
       "One list of the release notes (fixed or known issues) as a CSV file.", {}, kDownload},
      {"/Reports/SummaryTrends.asp", "Summary Trends",
       "A chart of how the number of issues developed over a period.",
       {{"Project", "One project, or every project you may see."},
        {"Period", "How far back the chart goes, from today to the last 90 days or all dates."}},
       kReport},
      {"/Reports/TrendData.asp", "Trend data", "The figures the trend chart draws.", {}, kDataPage},
      {"/Reports/IssueDistribution.asp", "Issue Distribution",
       "A bar chart of how the issues spread over the values of one field (priority, severity, module, ...).",
       {{"Distribution", "The field whose values make the bars."},
        {"Project", "One project, or every project you may see."},
        {"Open issues only", "Without the tick closed issues are counted too. The chosen field stays, except the "
                             "status, which is counted over all issues only."}},
       kReport},
      {"/Reports/DistributionData.asp", "Distribution data", "The figures the distribution chart draws.", {},
       kDataPage},

      // ---- your own settings
      {"/User/MyInfo.asp", "My Info",
       "Your own account: name, e-mail address and password.",
       {{"Name", "Your name as others see it."},
        {"E-Mail", "Where notifications are sent; may be blank."},
        {"E-mail notifications", "Whether the site sends you notification e-mails."},
        {"New password, New password again",
         "A new password, typed twice; leave both blank to keep the current one."},
        {"Secret question, New answer",
         "Used to prove who you are when you have forgotten your password; a blank answer keeps the current one, "
         "and an answer needs a question."}},
       kEveryone},
      {"/User/Personalize.asp", "Settings of My Issues",
       "How the My Issues page starts for you, how many issues a page of the release notes shows, and your layouts "
       "of the issue lists; each of the three is saved on its own.",
       {{"Issues per page", "How many issues one page of the list shows (1 to 1000)."},
        {"Default project", "The project the list starts with."},
        {"Default filter", "The filter the list starts with."},
        {"Default layout", "The layout the list starts with."},
        {"Release notes settings", "How many issues one page of each release notes list shows."},
        {"Layouts", "Your layouts of the issue lists: which fields in which rows. Click a layout to change it; tick "
                    "layouts and delete them. Your last layout cannot be deleted."}},
       kEveryone},
      {"/User/Layout.asp", "Layout",
       "One of your layouts of the issue lists: which fields its rows show, in which order.",
       {{"Name", "The name the lists offer it by, unique among your layouts: at most 20 characters for a new layout. "
                  "The layout \"Default\" keeps its name."},
        {"Fields", "One row of boxes per row of the list: choose a field in a box and the next box of the row opens. "
                   "Rows and boxes left empty are left out."}},
       kEveryone},
      {"/User/PersonalizeSearch.asp", "Settings of Search",
       "How the search list shows its results for you.",
       {{"Issues per page", "How many issues one page of the search result shows."}}, kEveryone},
      {"/User/Filters.asp", "Filters",
       "Your saved filters of the issue lists. Click a name to change it; tick filters and delete them.",
       {{"Tick boxes", "The filters that Delete removes."},
        {"New filter...", "Opens an empty filter."}},
       kEveryone},
      {"/User/Filter.asp", "Filter",
       "One saved filter: its name and the criteria an issue must meet, put together with the query wizard or, for "
       "an advanced filter, typed as a condition.",
       {{"Name", "The name the lists offer the filter under; unique among your filters."},
        {"Criteria", "The query wizard's conditions: a field, a comparison and a value per line."},
        {"Advanced filter", "A condition typed in SQL on the issue fields instead of the wizard's criteria."}},
       kEveryone},
      {"/User/SignUp.asp", "Sign up",
       "Creates an account for a visitor: a public user, who sees the public projects and works in them as "
       "each project's group for public users may.",
       {{"User id", "The id you will sign in with: it begins with a letter and holds only letters and digits."},
        {"Name", "Your name as others see it."},
        {"E-Mail", "Where notifications are sent."},
        {"Password, Password again", "Your password, typed twice."},
        {"Secret question, Answer", "Required: they prove who you are when you have forgotten your password."}},
       "Everybody, without signing in."},

      // ---- administration: workflow
      {"/Setup/SiteWorkflowInquiry.asp", "Workflow",
       "The site's workflow as a diagram to read: the states an issue can be in and the moves between them.",
       {{"States", "A resolution and status; each says whether an issue there is valid and fixed."},
        {"Actions", "The moves from one state to another, with the groups whose members may make them."}},
       kEveryone},
      {"/Setup/SiteWorkflow.asp", "Customize: Workflow",
       "Edits the site's workflow in its diagram: add, move and change states and the actions between them, then "
       "save the whole diagram at once.",
       {{"State", "A resolution and status, whether issues there are valid and fixed, the fields it requires, the "
                  "groups that may create issues in it and its team leads."},
        {"Action", "A move between two states: its name, the groups allowed to make it, who may be assigned, and "
                   "whether an automatic assignment is offered."},
        {"Save", "Stores the diagram; issues keep their states, with their valid and fixed flags brought in line. "
                 "A notification rule for a workflow transition follows the action between the same two states; "
                 "a rule left without one is deleted."}},
       std::string_view("Site administrators; everybody else sees the diagram to read.")},
      {"/Setup/WorkflowData.asp", "Workflow data", "The workflow diagram as the diagram control loads it.", {},
       "Read by the workflow diagram, not opened by hand; every signed-in user."},
      {"/Setup/WorkflowSave.asp", "Workflow save", "Takes the diagram the workflow editor saves.", {},
       "Posted by the workflow editor; site administrators only."},

      // ---- administration: users and groups
      {"/Setup/Users.asp", "Users",
       "Every user of the site. Click a user id to change the account; tick users and delete them.",
       {{"Tick boxes", "The users that Delete removes, with their memberships, leads, layouts and filters. A user to "
                        "whom an issue is or was assigned cannot be deleted, nor the last site administrator."},
        {"New user...", "Opens an empty account."}},
       kSiteAdmins},
      {"/Setup/User.asp", "User",
       "One account: its details, its rights and its groups.",
       {{"Id", "The id the user signs in with: it begins with a letter and holds only letters and digits; it cannot "
                "be changed later."},
        {"Name, E-Mail", "The user's name and address for notifications."},
        {"Site administrator", "May change every setting of the site."},
        {"Public user", "A public user sees only the public projects; a site administrator cannot be one."},
        {"E-mail notifications", "Whether the site sends the user notification e-mails."},
        {"Password, Password again", "The password, typed twice; on a stored user blank keeps the current one."},
        {"Secret question, Answer", "For the user to prove who he is; a blank answer keeps a stored user's one."},
        {"Groups", "The groups the user belongs to; the workflow gives rights to groups."}},
       kSiteAdmins},
      {"/Setup/Groups.asp", "Groups",
       "The groups of users the workflow gives its rights to. Tick groups and delete them.",
       {{"Tick boxes", "The groups that Delete removes, with their members' memberships, their leads and their places "
                        "in the workflow."},
        {"New group...", "Opens an empty group."}},
       kSiteAdmins},
      {"/Setup/Group.asp", "Group",
       "One group of users: a new group's code, or a stored group with its members (who are set on each user's "
       "page).",
       {{"Group", "The group's code (at most 20 characters), as the workflow and the user pages show it."},
        {"Members", "The users in the group; click one to open the user's page."}},
       kSiteAdmins},

      // ---- administration: projects
      {"/Setup/Projects.asp", "Projects",
       "The projects you administer (a site administrator: every project). Click a project to change it; tick "
       "projects and delete them with all their issues; make a new project.",
       {{"Tick boxes", "The projects that Delete removes, with their issues, history, comments and files."},
        {"New project...", "Opens an empty project, for any site or project administrator."}},
       kProjectAdmins},
      {"/Setup/Project.asp", "Project",
       "One project, new or stored: its description, who works in it and with which rights.",
       {{"Project", "The project's code (its short name); it cannot be changed later."},
        {"Description", "What the project is about."},
        {"Public users may use it", "Public users may see the project's issues, treated as members of the group "
                                    "below."},
        {"Public users count as members of", "The group whose rights public users have in the project."},
        {"E-mail notifications", "Whether the project's changes send notification e-mails."},
        {"Members", "The users who work in the project: Member, Overrides workflow (members who may make any move of "
                    "the workflow; on a stored project) and Project administrator (members who administer it)."},
        {"Group leads", "For each group, the user who leads it in this project; a lead not yet in the group joins "
                        "it."},
        {"Modules...", "The values of the project's module field (on a stored project)."}},
       kProjectAdmins},
      {"/Setup/ProjectModules.asp", "Project modules",
       "The modules of a project: the values its issues' module field offers.",
       {{"Module", "A module's name; a module issues still use cannot be removed."}}, kAdmins},
      {"/Setup/EMailNotifications.asp", "E-Mail Notifications",
       "The rules that decide who is mailed about what, for one project or for all projects. Click a rule to "
       "change it; tick rules and delete them.",
       {{"Project", "The project whose rules are listed; \"All projects\" (the rules for every project) only for "
                     "site administrators."},
        {"Tick boxes", "The rules that Delete removes."},
        {"New rule...", "Opens an empty rule for the project shown."}},
       kAdmins},
      {"/Setup/EMailNotification.asp", "E-Mail Notification",
       "One notification rule.",
       {{"Name", "The rule's name."},
        {"Active", "Only active rules send messages."},
        {"Event", "Issue created, issue assigned to a user, issue updated, or one workflow action."},
        {"Workflow action", "For the workflow-transition event: the move that sends the message."},
        {"Recipient", "The assignee, the creator, the previous assignee, an issue field holding an address (Issue "
                      "field), or a given address (E-Mail address)."},
        {"Template", "The message sent."}},
       kAdmins},
      {"/Setup/CustomCodes.asp", "Code table values",
       "The values of one code table (the Table of the address): the choices a list field of the issues offers. "
       "Click a value to change it; tick values and delete them.",
       {{"Tick boxes", "The values that Delete removes; a value still in use is refused, and the last value of "
                        "a list stays."},
        {"New value", "Opens an empty value."}},
       std::string_view("Site administrators; for a table whose values vary by project, project administrators "
                        "too.")},
      {"/Setup/CustomCode.asp", "Code table value",
       "One value of a code table. Renaming a value renames it in every issue that holds it.",
       {{"Value", "The code, at most 50 characters (the box is named after the table's values, such as Module)."},
        {"Sort order", "Its place in the list, where the table is not sorted by the values themselves."}},
       std::string_view("Site administrators; for a table whose values vary by project, project administrators "
                        "too.")},

      // ---- administration: customize
      {"/Setup/SiteEntryForm.asp", "Customize: Data Entry Form",
       "The layout of the issue entry form: rows of up to five fields.",
       {{"Fields used", "How many of the row's boxes are used; a row left blank is not shown."},
        {"Field 1 to Field 5", "The field of each box; the project field must be on the form."}},
       kSiteAdmins},
      {"/Setup/SiteCustomCodes.asp", "Customize: Code Tables",
       "The code tables of the site: the lists of values that list fields offer. Click a table to change it; tick "
       "tables and delete them.",
       {{"Tick boxes", "The tables that Delete removes; a table a field still uses is refused."},
        {"New table", "Opens an empty code table."}},
       kSiteAdmins},
      {"/Setup/SiteCustomCode.asp", "Customize: Code Table",
       "One code table.",
       {{"Table name", "The table's name; it cannot be changed later."},
        {"Name (plural, singular)", "How the pages name the table and one of its values."},
        {"Separate entries for each project", "Each project has values of its own; it cannot be changed later."},
        {"Purpose", "What the table holds."},
        {"Value field name", "The name of the column that holds the values."},
        {"Default sort order", "Ascending or descending."},
        {"Requires a separate sort order field",
         "Values are sorted by a number of their own instead of by themselves."}},
       kSiteAdmins},
      {"/Setup/SiteCustomFields.asp", "Customize: Issue Fields",
       "The fields of the issues. Click a field to change it; tick fields and delete them with their values.",
       {{"Tick boxes", "The fields that Delete removes, with every issue's value of them and their places in the "
                        "layouts, the entry form and the workflow; the project field cannot be deleted."},
        {"New field", "Opens an empty field."}},
       kSiteAdmins},
      {"/Setup/SiteCustomField.asp", "Customize: Issue Field",
       "One field of the issues.",
       {{"Field name", "The field's name; it cannot be changed later."},
        {"Caption", "The label the forms and lists show."},
        {"Description", "Shown as the field's hint in the filters."},
        {"Data type", "Text (with its number of lines and its maximum size, or kept as a log of entries), a list of "
                      "a code table's values, or a check box; it cannot be changed later, a text's size can."}},
       kSiteAdmins},
      {"/Setup/EMailTemplates.asp", "Customize: E-Mail Templates",
       "The messages the notification rules send. Click a template to change it; tick templates and delete them.",
       {{"Tick boxes", "The templates that Delete removes; a template that a rule or a waiting notification uses "
                        "is refused."},
        {"New template", "Opens an empty template."}},
       kSiteAdmins},
      {"/Setup/EMailTemplate.asp", "Customize: E-Mail Template",
       "One message: its subject and its text for each part of the message.",
       {{"Name", "The template's name; it cannot be changed later."},
        {"Subject", "The subject line; it may hold the issue's fields."},
        {"Text part, HTML part", "The message's text for each of its parts: plain text and HTML."}},
       kSiteAdmins},

      // ---- administration: system
      {"/Setup/SiteEMailServer.asp", "System: Outgoing E-Mail",
       "How the site sends its notification e-mails.",
       {{"E-Mail notifications", "Whether the site sends notifications at all."},
        {"SMTP server, Port", "The mail server the messages go to."},
        {"User id, Password", "The sign-in at the mail server, if it asks for one; the password is never shown, and a "
                              "blank one keeps it."},
        {"From address", "The sender of the messages."},
        {"Website URL", "The site's address, for the links to issues in the messages."},
        {"Delivery timeout (seconds), Delivery attempts",
         "How long one delivery may take and how often it is tried."},
        {"Delivery frequency", "How often waiting messages are sent."}},
       kSiteAdmins},
      {"/Setup/EMailServer.asp", "System: Test E-Mail",
       "Sends a test message with the outgoing e-mail settings and shows the mail server's dialogue, then the log "
       "of the notifications queued and sent.",
       {{"Send to", "Where the test message goes."}}, kSiteAdmins},
      {"/Setup/SiteBackup.asp", "System: Database Backup",
       "When the site's database is backed up, where to, and how long backups are kept; a backup can also be "
       "made at once.",
       {{"Scheduled backups", "Whether backups run on their schedule."},
        {"Every, At", "Every day up to every seven days, at a whole hour."},
        {"Backup folder", "The folder on the server that receives the backups and their reports."},
        {"Old backups", "Whether backups older than one to eight weeks are deleted."},
        {"History", "The backups made so far, with their reports."}},
       kSiteAdmins},
      {"/Setup/SiteRestore.asp", "System: Database Restore",
       "Replaces the site's database with one of its backups, after you confirm. The backup is checked first (that "
       "it is a whole backup of this site, of a version the site can read) and a safety copy of the current content "
       "is written to the backup folder.",
       {{"Restore...", "Chooses a backup of the list and asks you to confirm; whatever changed since that backup is "
                       "lost."}},
       kSiteAdmins},
  };
}

}  // namespace

const std::vector<Text>& Texts() {
  static const std::vector<Text> texts = MakeTexts();
  return texts;
}

const Text* Find(std::string_view path) {
  for (const Text& t : Texts())
    if (automation::EqualsNoCase(t.path, path)) return &t;
  return nullptr;
}

}  // namespace site::help
