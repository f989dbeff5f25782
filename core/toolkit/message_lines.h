#pragma once
// The three lines the message window shows of a text: what the window does with the text,
// apart from the window itself.

#include <string>
#include <string_view>

namespace kelvor {

// The three display lines of a message: characters 1-50, 51-100 and 101-150, each without
// trailing blanks and centred within its own length (of k leading blanks, ceil(k/2) stay in
// front and the rest move to the end), padded to 50.
struct MessageLines {
  std::string line[3];
};
MessageLines messageLines(std::string_view text);

}  // namespace kelvor
