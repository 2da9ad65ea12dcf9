#pragma once

#include "core/logfile/log_time_format.h"

#include <string>
#include <string_view>

namespace qv {

// The connection log file, in the folder of the files the program writes.
inline constexpr const char* kLogFileName = "CLogs.txt";

// Appends one whole line: the timestamp of now (local time, current locale), the event text (which
// carries its own leading blank) and CR LF. The file is created (0644) when missing, opened for
// appending, written with one write() and closed again, all under one lock shared by every thread of the
// process, so lines never mix. Throws std::system_error when the file cannot be opened, written or
// closed; the line is then lost, and no part of it stays in the file.
void AppendLogFileLine(const std::string& path, std::string_view eventText, LogLineForm form);

// The same with a given moment and locale; the line as written is returned.
std::string AppendLogFileLineAt(const std::string& path, std::string_view eventText, LogLineForm form,
                                const std::tm& when, locale_t locale = (locale_t)0);

} // namespace qv
