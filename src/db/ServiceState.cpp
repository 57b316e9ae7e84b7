#include "db/ServiceState.h"

#include "base/Errors.h"
#include "db/Connection.h"
#include "db/Query.h"
#include "db/Statements.h"
#include "platform/Clock.h"
#include "platform/ServiceManager.h"

namespace zirvo::db {

std::string ServiceStateText(std::optional<std::uint32_t> state) {
  return state ? platform::ServiceStateText(*state) : "Le service est inexistant !";
}

std::string ServiceStatusText(const std::string& serviceName, const std::string& machineName,
                              const ServiceStateQuery& query) {
  std::optional<std::uint32_t> state;
  try {
    if (query) state = query(serviceName, machineName);
  } catch (const Exception&) {
    state.reset();
  }
  return ServiceStateText(state);
}

void ActualizeSQLServiceState(const StateReportContext& context) {
  const auto timerText = [&] { return context.timerEnabled() ? "actif" : "inactif"; };
  if (context.log.Debug()) {
    context.log.Line(std::string("ActualizeSQLServiceState : état du timer : ") + timerText());
  }
  // Read once: the other thread may close the connection meanwhile, and the count must
  // then fail as a closed connection rather than the log contradict itself.
  const bool connected = context.connection.Connected();
  if (context.log.Debug()) {
    context.log.Line(std::string("ActualizeSQLServiceState : ADO_MSSQLConnection.Connected=") +
                     (connected ? "True" : "False"));
  }
  if (connected) {
    Query count(context.connection);
    count.SetText(std::string(kCountStatement));
    count.Open();
    const long long records = count.FieldAsInteger("NbRecords");
    if (records > kCountLogThreshold && context.log.Debug()) {
      context.log.Line("La table SMS_SENDED contient " + std::to_string(records) +
                       " enregistrements.");
    }
  } else if (context.log.Debug()) {
    const std::string status =
        ServiceStatusText(context.serviceName(), std::string(), context.stateQuery);
    context.log.Line(
        "ActualizeSQLServiceState : la base de données MSSQL n'est pas connectée. Etat du service "
        ": " +
        status);
    context.log.Line(std::string("État du timer : ") + timerText());
  }
}

void RecordServiceState(Connection& connection, std::uint8_t stateNumber,
                        const std::string& stateText, const std::string& failurePrefix,
                        const Log& log) {
  Query insert(connection);
  insert.ClearLines();
  insert.AddLine(std::string(kInsertStateStatement));
  insert.ParamByName("Execution_date_time").SetDateTime(platform::LocalNow());
  insert.ParamByName("ServiceNState").SetByte(stateNumber);
  insert.ParamByName("ServiceSState").SetText(stateText);
  try {
    insert.Execute();
  } catch (const Exception& error) {
    log.Line(failurePrefix + error.Message());
  }
}

}  // namespace zirvo::db
