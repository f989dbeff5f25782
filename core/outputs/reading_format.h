#pragma once
// How a reading is written out: one CSV line for the reading log (RFC 4180), one JSON object
// for MQTT, and the times both carry. Text from the line is bytes: valid UTF-8 is kept as it
// is, anything else is read as Windows-1252, like every text Kelvor shows, so both outputs
// are always valid UTF-8 whatever the instrument sent (zero bytes and line breaks included).

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/outputs/reading.h"

namespace kelvor {

using SystemTime = std::chrono::system_clock::time_point;

// Local time with milliseconds and the UTC offset: "2026-12-07T11:25:44.123+01:00".
std::string localTimeText(SystemTime time);
// UTC with milliseconds: "2026-12-07T10:25:44.123Z".
std::string utcTimeText(SystemTime time);
// The local date a reading belongs to, as the log names its file: "2026-12-07".
std::string localDateText(SystemTime time);

// "COM1" for port 0.
std::string portName(int port);

// One field of a CSV line: quoted (with inner quotes doubled) when it holds a comma, a
// quote, a line break, a control character or blanks at either end; as it is otherwise.
std::string csvField(std::string_view utf8);

// The first line of every log file, naming the columns.
std::string csvHeader();
// The reading as one CSV line, CR LF included: time, configuration, port, value, frame.
std::string csvLine(const Reading& reading);

// {"frame":..., "port":"COM1", "seq":N, "time":"<UTC>", "value":...} on one line.
std::string readingJson(const Reading& reading, std::uint64_t seq);

}  // namespace kelvor
