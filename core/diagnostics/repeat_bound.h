#pragma once
// Keeps any one cause from filling standard error (and so the journal): a message that comes
// again and again, as one a stranger on the bus can provoke at will, is written the first
// few times, then only as a count, once at each power of ten.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace kelvor {

class RepeatBound {
 public:
  explicit RepeatBound(std::size_t shownInFull = 5) : shownInFull_(shownInFull) {}

  // The line to write for one more occurrence of `message`; empty when nothing is to be
  // written. The message itself is its cause.
  std::string line(const std::string& message);

 private:
  std::size_t shownInFull_;
  // Causes are counted up to a number; beyond it, new ones share one count, so that messages
  // that differ each time cannot grow the table without end.
  std::unordered_map<std::string, std::uint64_t> counts_;
  std::uint64_t others_ = 0;
};

}  // namespace kelvor
