// The cut of a selection into requests, walked over an in-memory cursor with the
// record numbers of a buffered result.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "delivery/Batching.h"

namespace zirvo::delivery {
namespace {

struct Row {
  std::string member;
  std::string password;
  std::string smsId;
};

// Rows in selection order; RecNo is 1-based and -1 past the end, as a db::Query's.
class RowCursor {
 public:
  explicit RowCursor(std::vector<Row> rows) : rows_(std::move(rows)) {}
  bool Eof() const { return current_ >= rows_.size(); }
  void Next() {
    if (!Eof()) ++current_;
  }
  long RecNo() const { return Eof() ? -1 : static_cast<long>(current_ + 1); }
  std::string FieldAsText(std::string_view name) const {
    if (Eof()) throw Exception("pas de ligne courante");
    const Row& row = rows_[current_];
    if (name == "MEMBER_ID") return row.member;
    if (name == "PASSWORD") return row.password;
    if (name == "SMS_ID") return row.smsId;
    throw Exception("champ inconnu");
  }

 private:
  std::vector<Row> rows_;
  std::size_t current_ = 0;
};

std::vector<Row> Rows(int count, const std::string& member, const std::string& password,
                      int firstId) {
  std::vector<Row> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) rows.push_back({member, password, std::to_string(firstId + i)});
  return rows;
}

std::vector<Row> Join(std::vector<Row> a, const std::vector<Row>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Batch> Cut(std::vector<Row> rows) {
  RowCursor cursor(std::move(rows));
  std::vector<Batch> batches;
  ForEachBatch(cursor, [&](const Batch& batch) { batches.push_back(batch); });
  return batches;
}

std::vector<std::size_t> Sizes(const std::vector<Batch>& batches) {
  std::vector<std::size_t> sizes;
  sizes.reserve(batches.size());
  for (const auto& batch : batches) sizes.push_back(batch.messageIds.size());
  return sizes;
}

TEST(Batching, TheThousandCutFollowsRecordNumbersOverTheWholeResult) {
  EXPECT_TRUE(Cut({}).empty());
  EXPECT_EQ(Sizes(Cut(Rows(1, "A", "P", 1))), std::vector<std::size_t>{1});
  EXPECT_EQ(Sizes(Cut(Rows(999, "A", "P", 1))), std::vector<std::size_t>{999});
  EXPECT_EQ(Sizes(Cut(Rows(1000, "A", "P", 1))), (std::vector<std::size_t>{999, 1}));

  const auto one = Cut(Rows(2500, "A", "P", 1));
  ASSERT_EQ(Sizes(one), (std::vector<std::size_t>{999, 1000, 501}));
  EXPECT_EQ(one[1].messageIds.front(), "1000");
  EXPECT_EQ(one[2].messageIds.front(), "2000");
  EXPECT_EQ(one[2].messageIds.back(), "2500");

  // Account A on rows 1 to 998, B on rows 999 to 1500.
  const auto two = Cut(Join(Rows(998, "A", "P", 1), Rows(502, "B", "P", 999)));
  ASSERT_EQ(Sizes(two), (std::vector<std::size_t>{998, 1, 501}));
  EXPECT_EQ(two[0].memberId, "A");
  EXPECT_EQ(two[1].memberId, "B");
  EXPECT_EQ(two[1].messageIds, std::vector<std::string>{"999"});
  EXPECT_EQ(two[2].messageIds.front(), "1000");
}

TEST(Batching, AccountsNeverMixAndCompareExactly) {
  const auto batches = Cut({{"A", "P", "1"},
                            {"A", "P", "1"},
                            {"A", "Q", "2"},
                            {"a", "Q", "3"},
                            {"a", "Q ", "4"},
                            {"", "", "5"}});
  ASSERT_EQ(Sizes(batches), (std::vector<std::size_t>{2, 1, 1, 1, 1}));
  EXPECT_EQ(batches[0].messageIds, (std::vector<std::string>{"1", "1"})) << "duplicates kept";
  EXPECT_EQ(batches[1].password, "Q");
  EXPECT_EQ(batches[2].memberId, "a");
  EXPECT_EQ(batches[3].password, "Q ");
  EXPECT_EQ(batches[4].memberId, "");
}

TEST(Batching, AFailingSendStopsTheWalkOnTheNextBatchsFirstRow) {
  RowCursor cursor(Join(Rows(3, "A", "P", 1), Rows(3, "B", "P", 4)));
  int sent = 0;
  EXPECT_THROW(ForEachBatch(cursor,
                            [&](const Batch&) {
                              ++sent;
                              throw Exception("refusé");
                            }),
               Exception);
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(cursor.RecNo(), 4);
}

}  // namespace
}  // namespace zirvo::delivery
