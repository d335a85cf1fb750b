// What the service reads from its surroundings: the registry values (read afresh at every use,
// never cached), the event log helpers, the environment overrides, and small text helpers.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "automation/text.h"

namespace orlenta {

inline constexpr std::string_view kServiceName = "Orlenta";
inline constexpr std::string_view kDisplayName = "Vantrel E-Mail Notification Service";
inline constexpr std::string_view kSenderFile = "kesprin";
inline constexpr std::string_view kAppIdKey = "HKEY_CLASSES_ROOT\\AppID";
inline constexpr std::string_view kAppIdGuid = "{A7AD5CEA-F3C5-459F-8CE8-530B5F7C8290}";
inline constexpr std::string_view kServiceAppIdKey = "HKEY_CLASSES_ROOT\\AppID\\{A7AD5CEA-F3C5-459F-8CE8-530B5F7C8290}";
inline constexpr std::string_view kExeAppIdKey = "HKEY_CLASSES_ROOT\\AppID\\Orlenta.EXE";

// Limits of what a value under Databases may hold (the sender's command line stays short).
inline constexpr size_t kMaxDatabaseNameChars = 259;
inline constexpr size_t kMaxConnectionStringChars = 129;
inline constexpr size_t kMaxInstallDirChars = 259;

// Error codes reported in event texts: errno values (ENOENT for a missing key or value).
// Returns 0 when the key exists, otherwise the code.
int OpenKey(std::string_view key);
// 0 when the key exists and the registry may be rewritten.
int OpenKeyForWriting(std::string_view key);
// The value, or nullopt with *error set (ENOENT when missing).
std::optional<std::string> ReadValue(std::string_view key, std::string_view name, int* error = nullptr);

// Decimal text read like atol (leading white space, optional sign, digits, anything after
// ignored; no digits gives 0), saturating at the limits of a 32-bit integer.
int32_t DecimalValue(std::string_view text);

// Whether the text is well-formed UTF-8 without NUL (its length: automation::CharLength).
using automation::IsReadableText;

// Event log: trace lines only when LogDetailLevel (read before every line) is non-zero;
// notices always; errors always.
bool TracingOn();
void Trace(std::string_view text);
void Notice(std::string_view text);
void ErrorEvent(std::string_view text);

// The length of one "minute" of the schedule. VANTREL_MINUTE_SECONDS (a positive number of
// seconds, fractions allowed) shortens it for tests; 60 s otherwise.
std::chrono::nanoseconds Minute();

// Seconds a sender may run before it is killed (registry value SenderTimeout; 0 = no limit).
int32_t SenderTimeoutSeconds();

}  // namespace orlenta
