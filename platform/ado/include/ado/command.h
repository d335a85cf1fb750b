// Command: statement text with "?" placeholders (or :name / @name) and its parameters. A text may
// hold several statements separated by ";": they run in order and the last result set is the
// result. "SET NOCOUNT ON|OFF" is accepted and ignored; "@@identity" reads last_insert_rowid().
// Parameters keep their declared size: a longer value is an error, never cut.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ado/types.h"
#include "automation/automation.h"

namespace ado {

class Connection;
class Recordset;

class Parameter : public automation::Dispatchable<Parameter> {
 public:
  Parameter() = default;
  explicit Parameter(Param p) : p_(std::move(p)) {}

  const std::string& Name() const { return p_.name; }
  void SetName(const std::string& n) { p_.name = n; }
  int32_t Type() const { return p_.type; }
  void SetType(int32_t t) { p_.type = t; }
  int32_t Direction() const { return p_.direction; }
  void SetDirection(int32_t d) { p_.direction = d; }
  int32_t Size() const { return p_.size; }
  void SetSize(int32_t s);
  const automation::Variant& Value() const { return p_.value; }
  void SetValue(const automation::Variant& v) { p_.value = v; }
  int32_t Attributes() const { return attributes_; }
  void SetAttributes(int32_t a) { attributes_ = a; }
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t p) { precision_ = p; }
  int32_t NumericScale() const { return scale_; }
  void SetNumericScale(int32_t s) { scale_ = s; }
  const Param& Get() const { return p_; }

 private:
  Param p_;
  int32_t attributes_ = 0, precision_ = 0, scale_ = 0;
};

class Parameters : public automation::Dispatchable<Parameters> {
 public:
  void Append(std::shared_ptr<Parameter> p);
  // By index (0-based) or by name (without regard to case).
  std::shared_ptr<Parameter> Item(const automation::Variant& index) const;
  int32_t Count() const { return static_cast<int32_t>(list_.size()); }
  void Delete(const automation::Variant& index);
  void Refresh() {}
  const std::vector<std::shared_ptr<Parameter>>& List() const { return list_; }

 private:
  std::vector<std::shared_ptr<Parameter>> list_;
};

class Command : public automation::Dispatchable<Command> {
 public:
  Command();

  std::shared_ptr<Connection> ActiveConnection() const { return connection_; }
  void SetActiveConnection(std::shared_ptr<Connection> c) { connection_ = std::move(c); }
  const std::string& CommandText() const { return text_; }
  void SetCommandText(const std::string& t) { text_ = t; }
  int32_t CommandType() const { return type_; }
  void SetCommandType(int32_t t);
  int32_t CommandTimeout() const { return timeout_; }
  void SetCommandTimeout(int32_t t) { timeout_ = t; }
  bool Prepared() const { return prepared_; }
  void SetPrepared(bool p) { prepared_ = p; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& n) { name_ = n; }

  std::shared_ptr<Parameter> CreateParameter(const std::string& name, int32_t type, int32_t direction,
                                             int32_t size, const automation::Variant& value);
  std::shared_ptr<Parameters> GetParameters() const { return parameters_; }
  // By-name Execute: `parameters` may be an array of values that replaces the parameters' values
  // for this run.
  std::shared_ptr<Recordset> Execute(automation::Variant& recordsAffected,
                                     const automation::Variant& parameters, int32_t options);

  // Typed API.
  void Append(Param p);
  Params CurrentParams() const;
  // The statement text to run (adCmdTable texts become "SELECT * FROM <name>").
  std::string EffectiveText() const;
  std::shared_ptr<Recordset> Execute();
  int64_t ExecuteNonQuery();

 private:
  std::shared_ptr<Connection> connection_;
  std::string text_;
  std::string name_;
  int32_t type_ = adCmdUnknown;
  int32_t timeout_ = 30;
  bool prepared_ = false;
  std::shared_ptr<Parameters> parameters_;
};

}  // namespace ado
