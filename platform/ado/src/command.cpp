#include "ado/command.h"

#include "ado/connection.h"
#include "ado/recordset.h"
#include "engine.h"

namespace ado {

using automation::Variant;

namespace {
constexpr const char* kSource = "ADODB.Command";
}

void Parameter::SetSize(int32_t s) {
  if (s < 0) Raise(err::kInvalidArgument, "ADODB.Parameter");
  p_.size = s;
}

void Parameters::Append(std::shared_ptr<Parameter> p) {
  if (!p) Raise(err::kInvalidArgument, "ADODB.Parameters");
  list_.push_back(std::move(p));
}

std::shared_ptr<Parameter> Parameters::Item(const Variant& index) const {
  if (index.IsString()) {
    for (const auto& p : list_)
      if (automation::EqualsNoCase(p->Name(), *index.StringIf())) return p;
    Raise(err::kItemNotFound, "ADODB.Parameters");
  }
  int32_t i = index.ToLong();
  if (i < 0 || i >= Count()) Raise(err::kItemNotFound, "ADODB.Parameters");
  return list_[static_cast<size_t>(i)];
}

void Parameters::Delete(const Variant& index) {
  auto p = Item(index);
  for (auto it = list_.begin(); it != list_.end(); ++it) {
    if (*it == p) {
      list_.erase(it);
      return;
    }
  }
}

Command::Command() : parameters_(std::make_shared<Parameters>()) {}

void Command::SetCommandType(int32_t t) {
  if (t != adCmdText && t != adCmdTable && t != adCmdUnknown && t != adCmdUnspecified && t != adCmdTableDirect)
    Raise(err::kNotSupported, kSource, "Only text and table commands are supported.");
  type_ = t;
}

std::shared_ptr<Parameter> Command::CreateParameter(const std::string& name, int32_t type, int32_t direction,
                                                    int32_t size, const Variant& value) {
  if (size < 0) Raise(err::kInvalidArgument, kSource);
  return std::make_shared<Parameter>(
      Param{name, type, direction, size, value.IsMissing() ? Variant() : value});
}

void Command::Append(Param p) { parameters_->Append(std::make_shared<Parameter>(std::move(p))); }

Params Command::CurrentParams() const {
  Params out;
  out.reserve(parameters_->List().size());
  for (const auto& p : parameters_->List()) out.push_back(p->Get());
  return out;
}

std::string Command::EffectiveText() const {
  if (type_ == adCmdTable || type_ == adCmdTableDirect) return "SELECT * FROM " + detail::QuoteIdent(text_);
  return text_;
}

std::shared_ptr<Recordset> Command::Execute() {
  if (!connection_) Raise(err::kInvalidConnection, kSource);
  return connection_->Query(EffectiveText(), CurrentParams(), adLockReadOnly);
}

int64_t Command::ExecuteNonQuery() {
  if (!connection_) Raise(err::kInvalidConnection, kSource);
  return connection_->ExecuteNonQuery(EffectiveText(), CurrentParams());
}

std::shared_ptr<Recordset> Command::Execute(Variant& recordsAffected, const Variant& parameters, int32_t options) {
  if (!connection_) Raise(err::kInvalidConnection, kSource);
  Params params = CurrentParams();
  if (!parameters.IsEmpty() && !parameters.IsMissing()) {
    // Values given to Execute replace the parameters' values for this run only.
    const auto& values = parameters.IsArray() ? parameters.ToArray() : std::vector<Variant>{parameters};
    for (size_t i = 0; i < values.size(); ++i) {
      if (i < params.size()) {
        params[i].value = values[i];
      } else {
        params.push_back(Param{"", adVariant, adParamInput, 0, values[i]});
      }
    }
  }
  bool noRecords = options != -1 && (options & adExecuteNoRecords);
  ResultSet result;
  int64_t n = detail::Run(*connection_, EffectiveText(), params, !noRecords, &result);
  recordsAffected = Variant(static_cast<int32_t>(n));
  if (noRecords) return nullptr;
  auto rs = std::make_shared<Recordset>();
  if (result.meta) rs->OpenResult(connection_, std::move(result), adLockReadOnly, text_);
  return rs;
}

namespace {

automation::Register<Parameter> regParameter("Parameter", "", [](auto& c) {
  using P = Parameter;
  c.Property("Name", &P::Name, &P::SetName);
  c.Property("Type", &P::Type, &P::SetType);
  c.Property("Direction", &P::Direction, &P::SetDirection);
  c.Property("Size", &P::Size, &P::SetSize);
  c.Property("Value", &P::Value, &P::SetValue);
  c.Property("Attributes", &P::Attributes, &P::SetAttributes);
  c.Property("Precision", &P::Precision, &P::SetPrecision);
  c.Property("NumericScale", &P::NumericScale, &P::SetNumericScale);
  c.Default("Value");
});

automation::Register<Parameters> regParameters("Parameters", "", [](auto& c) {
  using P = Parameters;
  c.Method("Append", &P::Append);
  c.Property("Item", &P::Item);
  c.Property("Count", &P::Count);
  c.Method("Delete", &P::Delete);
  c.Method("Refresh", &P::Refresh);
  c.Default("Item");
});

automation::Register<Command> regCommand("Command", "ADODB.Command", [](auto& c) {
  using C = Command;
  c.PropertyRef("ActiveConnection", &C::ActiveConnection, &C::SetActiveConnection);
  c.Property("CommandText", &C::CommandText, &C::SetCommandText);
  c.Property("CommandType", &C::CommandType, &C::SetCommandType);
  c.Property("CommandTimeout", &C::CommandTimeout, &C::SetCommandTimeout);
  c.Property("Prepared", &C::Prepared, &C::SetPrepared);
  c.Property("Name", &C::Name, &C::SetName);
  c.Method("CreateParameter", &C::CreateParameter,
           {Variant(""), Variant(static_cast<int32_t>(adEmpty)), Variant(static_cast<int32_t>(adParamInput)),
            Variant(0), Variant::Missing()});
  c.Property("Parameters", &C::GetParameters);
  c.Method("Execute",
           static_cast<std::shared_ptr<Recordset> (C::*)(Variant&, const Variant&, int32_t)>(&C::Execute),
           {Variant(), Variant(), Variant(-1)});
  c.Default("Parameters");
});

}  // namespace

}  // namespace ado
