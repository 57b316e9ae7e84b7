// Named parameters of a statement: ":name" becomes the ODBC marker "?".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zirvo::db {

struct MarkedStatement {
  std::string text;                // the statement with "?" for every parameter
  std::vector<std::string> names;  // the parameter of each "?", in order; repeats kept
};

// Replaces every ":name" (a colon, then a letter or "_", then letters, digits or "_") by
// "?". A colon inside a quoted literal ('...' with '' for a quote), a quoted identifier
// ("..." or [...]) or a comment (-- to the line end, /* ... */) is text, not a
// parameter; so is "::" and a colon that no name follows. Never fails.
MarkedStatement MarkParameters(std::string_view statement);

}  // namespace zirvo::db
