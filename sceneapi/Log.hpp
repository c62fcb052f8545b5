// The diagnostic log "sceneapi.log" in the renderer's resource folder. One line per
// statement: file name, ":", line, " - ", time, " ", level name, ":  ", message. Every
// line is flushed as soon as its statement ends, so a crash of the host loses nothing.
//
//     VEX_LOG(logWARNING) << "text " << value;
//
// sceneapi knows nothing of the installation records: whoever knows where the resource
// folder is (the installation lookup) hands the log a folder source.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>

enum LogLevel {
    logERROR = 0,
    logWARNING = 1,
    logINFO = 2,
    logDEBUG = 3,
    logDEBUG1 = 4,
    logDEBUG2 = 5,
    logDEBUG3 = 6,
    logDEBUG4 = 7,
    logNONE = 8,
};

// Name of a level as it appears in the log ("ERROR" .. "DEBUG4", "NONE").
const char* logLevelName(int level);

// Process-wide threshold: statements at a level above it are not written. 7 (DEBUG4).
int& logThreshold();

// The time text of a line: local "HH:MM:SS", ".", and three digits counting milliseconds
// since the first call in the process, modulo 1000; "Error in NowTime()" when the local
// time cannot be formatted.
std::string NowTime();

// The log file replaces an existing one of at least this size instead of appending.
inline constexpr uint64_t kLogReplaceSize = 20u * 1024u * 1024u;

// Supplies the resource folder that holds "sceneapi.log"; empty when unknown. Returns
// the previous source. Without a source nothing is logged.
using LogFolderSource = std::wstring (*)();
LogFolderSource setLogFolderSource(LogFolderSource source);

// Text from outside (paths, registry values) made safe for one log line: printable
// ASCII as is, other characters as UTF-8, control characters and invalid code points
// escaped as \xNN or \u{N}, so that no value can break or forge a line.
std::string logText(std::wstring_view text);
std::string logBytes(std::string_view bytes);

template <typename OutputPolicy>
class Log {
  public:
    Log() = default;
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    virtual ~Log() {
        os_ << '\n';
        os_.flush();
        OutputPolicy::output(os_.str());
    }

    // Writes the line prefix and returns the stream that takes the message.
    std::ostringstream& begin_line(LogLevel level, const char* sourcePath, int sourceLine) {
        os_ << baseName(sourcePath) << ':' << sourceLine << ' ' << "- " << NowTime() << ' '
            << logLevelName(level) << ": " << ' ';
        return os_;
    }

  private:
    static const char* baseName(const char* path) {
        if (path == nullptr) return "";
        const char* name = path;
        for (const char* p = path; *p != '\0'; ++p) {
            if (*p == '/' || *p == '\\') name = p + 1;
        }
        return name;
    }

    std::ostringstream os_;
};

// Owns the process-wide log stream. It is opened on demand and never closed.
class Output2FILE {
  public:
    // The log stream, opened first when it is null; stays null while no resource folder
    // is known or the file cannot be opened, and the next statement tries again.
    static FILE*& log_stream();
    // True when a statement may go ahead: the stream is open, or it is being opened and
    // the statement (one made by the folder lookup itself) is held until it is.
    static bool ready();
    // Writes one finished line and flushes it.
    static void output(const std::string& line);
};

class FILELog : public Log<Output2FILE> {};

// Test seams: real code never calls these.
namespace vex::log_test {
// Closes the log stream so that the next statement opens the file again.
void closeLogFile();
// Replaces the clock and the time-of-day formatter (null restores the platform's) and
// forgets the start tick, as if NowTime() had never been called.
void setClock(uint64_t (*ticks)(), bool (*timeOfDay)(char*, size_t));
}  // namespace vex::log_test

// The level check comes first, so a statement that is not written never touches the file.
#define VEX_LOG_AT(level, line)                              \
    if ((level) > logThreshold() || !Output2FILE::ready()) { \
    } else                                                   \
        FILELog().begin_line((level), __FILE__, (line))

#define VEX_LOG(level) VEX_LOG_AT(level, __LINE__)
