// The time as the reviewer writes it in its journal and shows it.
#pragma once

#include <ctime>
#include <string>

namespace varnock {

// `time` as ISO 8601 in UTC to the second, e.g. "2026-12-07T10:30:00Z".
std::string utc_timestamp(std::time_t time);

// The current time, as utc_timestamp writes it.
std::string utc_now();

}  // namespace varnock
