// The cut of the selected messages into gateway requests: one account per batch, and a
// cut wherever the next row's record number is a multiple of 1000.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zirvo::delivery {

inline constexpr long kBatchCut = 1000;

// One request's worth of messages: the account values of their rows as stored
// (scrambled) and their ids in selection order, duplicates kept.
struct Batch {
  std::string memberId;
  std::string password;
  std::vector<std::string> messageIds;
};

// Whether the batch that holds a row with the read account values ends before the next
// row, tested in this order: another MEMBER_ID; another PASSWORD (both compared exactly,
// case included); the next row's record number (from 1 over the whole result) is a
// multiple of kBatchCut. The first batch of a result therefore holds at most
// kBatchCut - 1 ids. The last row always ends its batch.
bool BatchEndsBefore(std::string_view readMemberId, std::string_view readPassword,
                     std::string_view nextMemberId, std::string_view nextPassword,
                     long nextRecordNumber);

// Walks a cursor from its current row to past the last one and hands each closed batch
// to sendBatch, which may raise: the walk then stops with the cursor on the first row of
// the next batch and the error goes to the caller. Cursor is db::Query or any type with
// Eof(), Next(), RecNo() and FieldAsText(name) of the same meaning.
template <class Cursor, class SendBatch>
void ForEachBatch(Cursor& cursor, SendBatch&& sendBatch) {
  Batch batch;
  while (!cursor.Eof()) {
    batch.memberId = cursor.FieldAsText("MEMBER_ID");
    batch.password = cursor.FieldAsText("PASSWORD");
    batch.messageIds.push_back(cursor.FieldAsText("SMS_ID"));
    cursor.Next();
    if (cursor.Eof() ||
        BatchEndsBefore(batch.memberId, batch.password, cursor.FieldAsText("MEMBER_ID"),
                        cursor.FieldAsText("PASSWORD"), cursor.RecNo())) {
      sendBatch(static_cast<const Batch&>(batch));
      batch.messageIds.clear();
    }
  }
}

}  // namespace zirvo::delivery
