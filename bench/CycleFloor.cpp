// The floor of one delivery cycle: the least work any program must do for the result the
// service produces, through the same driver and the same gateway. It runs the same
// selection (keeping only the three fields the batch cut needs), cuts the same batches,
// posts the same form bodies over TLS 1.2 (one connection per request, as the service
// does), and runs the same update statement for every reply line, prepared once and
// executed per line with one commit each. It does nothing else: no log, no settings, no
// waits. cycle_bench.py runs it beside the service and prints the ratio.
//
//   ZirvoCycleFloor DATABASE GATEWAY_PORT
//
// Prints "key=value" words: select, post and update seconds, their sum, rows, requests,
// reply lines. Linux only, like every benchmark; it talks to the ODBC API and OpenSSL
// directly because measuring them bare is its purpose.
#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/Common.h"
#include "db/DateSerial.h"
#include "db/NamedParameters.h"
#include "db/Statements.h"
#include "delivery/Batching.h"
#include "delivery/DeliveryCheck.h"
#include "delivery/GatewayReply.h"
#include "net/FormEncoding.h"
#include "platform/Clock.h"
#include "platform/OdbcApi.h"

namespace {

using Clock = std::chrono::steady_clock;

void Check(SQLRETURN result, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (SQL_SUCCEEDED(result) || result == SQL_NO_DATA) return;
  SQLCHAR state[6] = {};
  SQLCHAR text[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLGetDiagRecA(type, handle, 1, state, &native, text, sizeof text, &length);
  throw std::runtime_error(std::string(what) + ": " + reinterpret_cast<char*>(text));
}

std::string Joined(const auto& lines) {
  std::string text;
  for (const auto line : lines) text += std::string(line) + "\r\n";
  return zirvo::db::MarkParameters(text).text;
}

SQL_TIMESTAMP_STRUCT Timestamp(const zirvo::LocalDateTime& t) {
  SQL_TIMESTAMP_STRUCT ts{};
  ts.year = static_cast<SQLSMALLINT>(t.year);
  ts.month = static_cast<SQLUSMALLINT>(t.month);
  ts.day = static_cast<SQLUSMALLINT>(t.day);
  ts.hour = static_cast<SQLUSMALLINT>(t.hour);
  ts.minute = static_cast<SQLUSMALLINT>(t.minute);
  ts.second = static_cast<SQLUSMALLINT>(t.second);
  ts.fraction = static_cast<SQLUINTEGER>(t.millisecond) * 1'000'000u;
  return ts;
}

struct Row {
  std::string memberId, password, smsId;
};

// The rows in memory as the batch cut walks them.
struct RowCursor {
  const std::vector<Row>& rows;
  std::size_t current = 0;
  bool Eof() const { return current >= rows.size(); }
  void Next() { ++current; }
  long RecNo() const { return Eof() ? -1 : static_cast<long>(current + 1); }
  std::string FieldAsText(std::string_view name) const {
    const Row& row = rows[current];
    return name == "MEMBER_ID" ? row.memberId : name == "PASSWORD" ? row.password : row.smsId;
  }
};

std::string ReadText(SQLHSTMT statement, SQLUSMALLINT column) {
  SQLCHAR buffer[512];
  SQLLEN indicator = 0;
  Check(SQLGetData(statement, column, SQL_C_CHAR, buffer, sizeof buffer, &indicator),
        SQL_HANDLE_STMT, statement, "SQLGetData");
  if (indicator == SQL_NULL_DATA) return {};
  return std::string(reinterpret_cast<char*>(buffer));
}

// This program's own peak resident memory so far: the parent's, counted in wait4's figure
// for a forked child, must not be.
long PeakKib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// The peak just after the selection has run, before any row is read: what any client
// pays for the statement through this driver, which keeps a parameterised result whole.
long executedPeakKib = 0;

std::vector<Row> Select(SQLHDBC connection) {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  Check(SQLAllocHandle(SQL_HANDLE_STMT, connection, &statement), SQL_HANDLE_DBC, connection,
        "SQLAllocHandle");
  const zirvo::LocalDateTime now = zirvo::platform::LocalNow();
  SQL_TIMESTAMP_STRUCT from = Timestamp(zirvo::db::SerialToDateTime(
      zirvo::delivery::WindowStartSerial(now) + zirvo::db::kSqlServerNumberEpochShift));
  SQL_TIMESTAMP_STRUCT to = Timestamp(now);
  SQLLEN size = sizeof(SQL_TIMESTAMP_STRUCT);
  SQLBindParameter(statement, 1, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3,
                   &from, 0, &size);
  SQLBindParameter(statement, 2, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3,
                   &to, 0, &size);
  std::string text = Joined(zirvo::db::kSelectionLines);
  Check(SQLExecDirectA(statement, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS),
        SQL_HANDLE_STMT, statement, "SQLExecDirect");
  executedPeakKib = PeakKib();
  SQLSMALLINT columns = 0;
  SQLNumResultCols(statement, &columns);
  SQLUSMALLINT member = 0, password = 0, id = 0;
  for (SQLUSMALLINT c = 1; c <= columns; ++c) {
    SQLCHAR name[128] = {};
    SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN columnSize = 0;
    SQLDescribeColA(statement, c, name, sizeof name, &length, &type, &columnSize, &digits,
                    &nullable);
    const std::string n(reinterpret_cast<char*>(name));
    if (n == "MEMBER_ID" && !member) member = c;
    if (n == "PASSWORD" && !password) password = c;
    if (n == "SMS_ID" && !id) id = c;
  }
  std::vector<Row> rows;
  while (SQLFetch(statement) != SQL_NO_DATA) {
    // Read in column order, as drivers require of SQLGetData.
    Row row;
    for (SQLUSMALLINT c : {member, password, id}) {
      std::string value = ReadText(statement, c);
      (c == member ? row.memberId : c == password ? row.password : row.smsId) = std::move(value);
    }
    rows.push_back(std::move(row));
  }
  SQLFreeHandle(SQL_HANDLE_STMT, statement);
  return rows;
}

std::string Post(SSL_CTX* context, const std::string& hostPort, const std::string& body) {
  BIO* bio = BIO_new_ssl_connect(context);
  BIO_set_conn_hostname(bio, hostPort.c_str());
  if (BIO_do_connect(bio) <= 0 || BIO_do_handshake(bio) <= 0) {
    BIO_free_all(bio);
    throw std::runtime_error("TLS connect to " + hostPort + " failed");
  }
  const std::string request =
      "POST /envoi/sms/export.php HTTP/1.1\r\nHost: " + hostPort +
      "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  BIO_write(bio, request.data(), static_cast<int>(request.size()));
  // Read up to the end of the body its Content-Length announces, as the service's
  // client does, without waiting for the server to close.
  std::string reply;
  char buffer[16384];
  std::size_t head = std::string::npos;
  std::size_t total = std::string::npos;
  for (int got; total == std::string::npos || reply.size() < total;) {
    if ((got = BIO_read(bio, buffer, sizeof buffer)) <= 0) break;
    reply.append(buffer, static_cast<std::size_t>(got));
    if (head == std::string::npos && (head = reply.find("\r\n\r\n")) != std::string::npos) {
      const auto length = reply.find("Content-Length: ");
      if (length != std::string::npos && length < head) {
        total = head + 4 + std::stoul(reply.substr(length + 16));
      }
    }
  }
  BIO_free_all(bio);
  return head == std::string::npos ? std::string() : reply.substr(head + 4);
}

// The update prepared once, its four values bound once to these buffers.
struct Update {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  unsigned char delivered = 0;
  SQL_TIMESTAMP_STRUCT when{};
  char16_t message[2] = u" ";
  char16_t id[256] = {};
  SQLLEN deliveredSize = 1, whenSize = sizeof(SQL_TIMESTAMP_STRUCT), messageSize = SQL_NULL_DATA,
         idSize = 0;

  explicit Update(SQLHDBC connection) {
    Check(SQLAllocHandle(SQL_HANDLE_STMT, connection, &statement), SQL_HANDLE_DBC, connection,
          "SQLAllocHandle");
    std::string text = Joined(zirvo::db::kUpdateLines);
    Check(SQLPrepareA(statement, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS), SQL_HANDLE_STMT,
          statement, "SQLPrepare");
    SQLBindParameter(statement, 1, SQL_PARAM_INPUT, SQL_C_BIT, SQL_BIT, 1, 0, &delivered, 0,
                     &deliveredSize);
    SQLBindParameter(statement, 2, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3,
                     &when, 0, &whenSize);
    SQLBindParameter(statement, 3, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1, 0, message, 0,
                     &messageSize);
    SQLBindParameter(statement, 4, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 255, 0, id,
                     sizeof id, &idSize);
  }
  ~Update() { SQLFreeHandle(SQL_HANDLE_STMT, statement); }

  // "id|dd/mm/yyyy hh:mm:ss|DELIVRD": the lines the bench's gateway writes.
  void Run(std::string_view line) {
    const auto bar = line.find('|');
    const std::string_view smsId = line.substr(0, bar);
    for (std::size_t i = 0; i < smsId.size() && i < 255; ++i) id[i] = smsId[i];
    idSize = static_cast<SQLLEN>(smsId.size() * sizeof(char16_t));
    unsigned d = 0, mo = 0, y = 0, h = 0, mi = 0, s = 0;
    std::sscanf(std::string(line.substr(bar + 1, 19)).c_str(), "%u/%u/%u %u:%u:%u", &d, &mo, &y, &h,
                &mi, &s);
    when = SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(y),
                                static_cast<SQLUSMALLINT>(mo),
                                static_cast<SQLUSMALLINT>(d),
                                static_cast<SQLUSMALLINT>(h),
                                static_cast<SQLUSMALLINT>(mi),
                                static_cast<SQLUSMALLINT>(s),
                                0};
    delivered = line.ends_with("DELIVRD") ? 1 : 0;
    Check(SQLExecute(statement), SQL_HANDLE_STMT, statement, "SQLExecute");
  }
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ZirvoCycleFloor DATABASE GATEWAY_PORT\n");
    return 2;
  }
  try {
    const auto start = Clock::now();
    const std::clock_t cpuStart = std::clock();
    SQLHENV environment = SQL_NULL_HENV;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment);
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  0);
    SQLHDBC connection = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection);
    std::string odbc =
        std::string("DRIVER=SQLite3;Database=") + argv[1] + ";NoCreat=1;Timeout=5000";
    Check(SQLDriverConnectA(connection, nullptr, reinterpret_cast<SQLCHAR*>(odbc.data()), SQL_NTS,
                            nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, connection, "SQLDriverConnect");

    const std::vector<Row> rows = Select(connection);
    const auto selected = Clock::now();

    SSL_CTX* tls = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(tls, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(tls, TLS1_2_VERSION);
    const std::string hostPort = std::string("127.0.0.1:") + argv[2];
    Clock::duration posting{}, updating{};
    long requests = 0, lines = 0;
    {
      Update update(connection);
      RowCursor cursor{rows};
      zirvo::delivery::ForEachBatch(cursor, [&](const zirvo::delivery::Batch& batch) {
        const auto before = Clock::now();
        const std::string body = zirvo::net::EncodeFormFields(zirvo::delivery::BuildFormFields(
            zirvo::config::UnscramblePassword(batch.memberId),
            zirvo::config::UnscramblePassword(batch.password), batch.messageIds));
        const std::string reply = Post(tls, hostPort, body);
        ++requests;
        const auto posted = Clock::now();
        for (const auto& line : zirvo::delivery::SplitReplyLines(reply)) {
          update.Run(line);
          ++lines;
        }
        posting += posted - before;
        updating += Clock::now() - posted;
      });
    }
    SSL_CTX_free(tls);
    SQLDisconnect(connection);
    SQLFreeHandle(SQL_HANDLE_DBC, connection);
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    const double seconds = Seconds(Clock::now() - start);
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    std::printf(
        "floor=%.4f cpu=%.4f select=%.4f post=%.4f update=%.4f rows=%zu requests=%ld lines=%ld "
        "peak_kib=%ld executed_peak_kib=%ld\n",
        seconds, cpu, Seconds(selected - start), Seconds(posting), Seconds(updating), rows.size(),
        requests, lines, PeakKib(), executedPeakKib);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ZirvoCycleFloor: %s\n", error.what());
    return 1;
  }
}
