#include "db/DatabaseErrorHandler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Errors.h"

namespace zirvo::db {
namespace {

using Lines = std::vector<std::string>;

// Runs the handler and returns its log lines, the state report shown as "<state>".
Lines Handle(const Exception& error) {
  Lines lines;
  HandleDatabaseError(error, Log([&](const std::string& line) { lines.push_back(line); }),
                      [&] { lines.push_back("<state>"); });
  return lines;
}

EDBEngineError Engine(std::vector<DBEngineErrorEntry> entries) {
  return EDBEngineError(std::move(entries));
}

TEST(HandleDatabaseError, EngineErrorsAreClassifiedByTheCodeOfTheirFirstEntry) {
  EXPECT_EQ(Handle(Engine({{10241, "M"}})),
            (Lines{"Record is locked", "DB ! 10241 40/1 - M", "<state>"}));
  EXPECT_EQ(Handle(Engine({{8962, "M0"}, {1, "M1"}, {10241, "M2"}})),
            (Lines{"Corrupted Database", "DB ! 8962 35/2 - M0", "DB ! M1", "DB ! M2", "<state>"}));
  for (unsigned code : {8705u, 11014u, 12034u, 13058u}) {
    EXPECT_EQ(Handle(Engine({{static_cast<std::uint16_t>(code), "x"}})).front(),
              "Corrupted Database");
  }
  EXPECT_EQ(Handle(Engine({{11059, "x"}})).front(), "Lock violation");
  EXPECT_EQ(Handle(Engine({{0xFFFF, "x"}, {8705, "y"}})),
            (Lines{"DB ! 65535 255/255 - x", "DB ! y", "<state>"}));
  // Without entries there is no entry 0 to read: logged as any other error.
  EXPECT_EQ(Handle(Engine({})), (Lines{"! ", "<state>"}));
}

TEST(HandleDatabaseError, ConversionAbortAndOtherErrorsInTheirOrder) {
  EXPECT_EQ(Handle(EConvertError("'x' n'est pas une date")),
            (Lines{"'x' n'est pas une date", "<state>"}));
  EXPECT_EQ(Handle(EAbort()), (Lines{"<state>"}));
  EXPECT_EQ(Handle(Exception("Connexion refusée")), (Lines{"! Connexion refusée", "<state>"}));
  EXPECT_EQ(Handle(HttpProtocolError(500, "HTTP/1.1 500 Erreur", "")),
            (Lines{"! HTTP/1.1 500 Erreur", "<state>"}));

  // A failing state report replaces the error; the lines before it are already written.
  Lines lines;
  EXPECT_THROW(HandleDatabaseError(Exception("M"),
                                   Log([&](const std::string& line) { lines.push_back(line); }),
                                   [] { throw Exception("count failed"); }),
               Exception);
  EXPECT_EQ(lines, (Lines{"! M"}));
}

}  // namespace
}  // namespace zirvo::db
