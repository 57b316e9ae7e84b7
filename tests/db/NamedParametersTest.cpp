#include "db/NamedParameters.h"

#include <gtest/gtest.h>

#include "db/Statements.h"

namespace zirvo::db {
namespace {

using Names = std::vector<std::string>;

TEST(NamedParameters, ColonsInLiteralsIdentifiersAndCommentsAreText) {
  const auto marked = MarkParameters(
      "select ':no', \"a:b\", [c:d], 'it''s :no' from t -- :no\n"
      "where x=:first and /* :no */ y = :Second_2 and z=:first and t::int = 1 and w = ':'");
  EXPECT_EQ(marked.text,
            "select ':no', \"a:b\", [c:d], 'it''s :no' from t -- :no\n"
            "where x=? and /* :no */ y = ? and z=? and t::int = 1 and w = ':'");
  EXPECT_EQ(marked.names, (Names{"first", "Second_2", "first"}));
  EXPECT_EQ(MarkParameters("select 'open :quote").names, Names{});
  EXPECT_EQ(MarkParameters("a = :9 or b = :_x:y").names, (Names{"_x", "y"}));
}

TEST(NamedParameters, TheServiceStatementsHaveTheirParametersInOrder) {
  std::string selection;
  for (auto line : kSelectionLines) selection += std::string(line) + "\r\n";
  EXPECT_EQ(MarkParameters(selection).names, (Names{"datedebut", "datefin"}));
  std::string update;
  for (auto line : kUpdateLines) update += std::string(line) + "\r\n";
  EXPECT_EQ(MarkParameters(update).names,
            (Names{"delivered", "delivered_date_time", "delivered_message", "sms_id"}));
  EXPECT_EQ(MarkParameters(kInsertStateStatement).names,
            (Names{"Execution_date_time", "ServiceNState", "ServiceSState"}));
  const auto datas = MarkParameters(kAddDatasStatement).names;
  ASSERT_EQ(datas.size(), 45u);
  EXPECT_EQ(datas.front(), "DATAS_ID");
  EXPECT_EQ(datas.back(), "Original_Content");
  EXPECT_EQ(MarkParameters(kAddEmailsStatement).names.size(), 6u);
}

}  // namespace
}  // namespace zirvo::db
