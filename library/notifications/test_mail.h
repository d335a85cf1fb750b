// The test message: one message sent with the stored SMTP settings, at once or by a one-off job
// of the job agent, and its SMTP dialogue kept line by line in EMailTestResults.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/database.h"
#include "notifications/email_config.h"
#include "notifications/notifications.h"

namespace agent {
class Store;
}

namespace brisquel {

// Sends the test message with the stored settings (e-mail switched off or not) and keeps its
// dialogue in EMailTestResults, replacing the last test's rows.
void SendTestEMailMessage(Database& db, const std::string& toEMail);
RecordsetPtr GetEMailTestResultsRs(Database& db);
// Stores a dialogue, one row per CRLF-separated line, in one transaction (not by name).
void StoreTestResults(Database& db, const std::string& dialogue);

// The dialogue of one test message, or "Error: n (d)" (with the log details when some were
// logged). The login only when `smtpUserId` is given. The port is read as an unsigned 16-bit
// number, so ports above 32,767 travel as their 16-bit pattern.
std::string SendTestMessage(Notifications& n, const std::string& toEMail, const std::string& fromEmail,
                            const std::string& smtpHost, int16_t smtpPort, int16_t smtpTimeout,
                            const std::string& smtpUserId, const std::string& smtpPassword);

// The management connection to the job agent's store for the site of `db`, with its server (the
// site's file) and database name.
std::unique_ptr<agent::Store> ConnectToDMO(Database& db, std::string& serverName, std::string& databaseName);
// Replaces the site's job "<Db> EMail Test" by a new one whose one step sends the test message to
// the address, and starts it. Site administrators only.
bool SetupTestEMailJob(Notifications& n, Database& db, const std::string& userId, const std::string& toEMailAddress);

}  // namespace brisquel
