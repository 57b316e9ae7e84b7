#include "delivery/Batching.h"

namespace zirvo::delivery {

bool BatchEndsBefore(std::string_view readMemberId, std::string_view readPassword,
                     std::string_view nextMemberId, std::string_view nextPassword,
                     long nextRecordNumber) {
  return nextMemberId != readMemberId || nextPassword != readPassword ||
         nextRecordNumber % kBatchCut == 0;
}

}  // namespace zirvo::delivery
