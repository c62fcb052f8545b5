#include "sceneapi/Log.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "sceneapi/LogPlatform.hpp"
#include "sceneapi/TimePlatform.hpp"

namespace {

const char* const kLevelNames[] = {"ERROR",  "WARNING", "INFO",   "DEBUG", "DEBUG1",
                                   "DEBUG2", "DEBUG3",  "DEBUG4", "NONE"};

constexpr uint64_t kNoStart = UINT64_MAX;
std::atomic<uint64_t> g_startTick{kNoStart};
uint64_t (*g_ticks)() = vex::platform::tickCountMilliseconds;
bool (*g_timeOfDay)(char*, size_t) = vex::platform::formatLocalTimeOfDay;

LogFolderSource g_folderSource = nullptr;
FILE* g_stream = nullptr;
bool g_opening = false;
// Lines made while the log is being opened (the folder lookup reporting a broken
// registry file); written once the file is open, dropped if it cannot be.
std::vector<std::string> g_held;
constexpr size_t kMaxHeldLines = 64;

void writeLine(const std::string& line) {
    // fwrite rather than "%s": a NUL in a message must not cut the line short.
    std::fwrite(line.data(), 1, line.size(), g_stream);
    std::fflush(g_stream);
}

void openLog() {
    g_opening = true;
    const std::wstring folder = g_folderSource != nullptr ? g_folderSource() : std::wstring();
    if (!folder.empty()) {
        // The separator is added even after a trailing one; a doubled one names the same file.
        const std::wstring path = folder + vex::platform::kPathSeparator + L"sceneapi.log";
        const uint64_t size = vex::platform::wideFileSize(path).value_or(0);
        FILE* stream = vex::platform::openWideForWriting(path, size >= kLogReplaceSize);
        if (stream == nullptr) {
            const int saved = errno;
            std::fputs("could not open log file:\n", stderr);
            // perror writes at once; a buffered stderr (a file, on Windows) would come after it.
            std::fflush(stderr);
            errno = saved;
            std::perror("opening log");
        }
        g_stream = stream;
    }
    g_opening = false;
    std::vector<std::string> held;
    held.swap(g_held);
    if (g_stream != nullptr) {
        for (const std::string& line : held) writeLine(line);
    }
}

void appendEscaped(std::string& out, char32_t c) {
    char buffer[16];
    if (c < 0x20 || c == 0x7F) {
        std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(c));
        out += buffer;
    } else {
        std::snprintf(buffer, sizeof buffer, "\\u{%x}", static_cast<unsigned>(c));
        out += buffer;
    }
}

}  // namespace

const char* logLevelName(int level) {
    if (level < logERROR || level > logNONE) return "NONE";
    return kLevelNames[level];
}

int& logThreshold() {
    static int threshold = logDEBUG4;
    return threshold;
}

std::string NowTime() {
    const uint64_t now = g_ticks();
    uint64_t expected = kNoStart;
    g_startTick.compare_exchange_strong(expected, now);
    const uint64_t start = g_startTick.load();
    char text[200];
    if (!g_timeOfDay(text, sizeof text)) return "Error in NowTime()";
    // A thread that read the clock just before another one won the start sees 0.
    const uint64_t elapsed = now >= start ? now - start : 0;
    char result[256];
    std::snprintf(result, sizeof result, "%s.%03ld", text, static_cast<long>(elapsed % 1000));
    return result;
}

LogFolderSource setLogFolderSource(LogFolderSource source) {
    const LogFolderSource previous = g_folderSource;
    g_folderSource = source;
    return previous;
}

std::string logText(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        const auto c = static_cast<char32_t>(w);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c >= 0x80 && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF) &&
                   !(c >= 0x80 && c < 0xA0)) {
            out += vex::platform::utf8FromWide(std::wstring_view(&w, 1)).value_or("?");
        } else {
            appendEscaped(out, c);
        }
    }
    return out;
}

std::string logBytes(std::string_view bytes) {
    if (auto wide = vex::platform::wideFromUtf8(bytes)) return logText(*wide);
    std::string out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
            out += buffer;
        }
    }
    return out;
}

FILE*& Output2FILE::log_stream() {
    if (g_stream == nullptr && !g_opening) openLog();
    return g_stream;
}

bool Output2FILE::ready() {
    return log_stream() != nullptr || g_opening;
}

void Output2FILE::output(const std::string& line) {
    if (g_stream != nullptr) {
        writeLine(line);
    } else if (g_opening && g_held.size() < kMaxHeldLines) {
        g_held.push_back(line);
    }
}

namespace vex::log_test {

void closeLogFile() {
    if (g_stream != nullptr) std::fclose(g_stream);
    g_stream = nullptr;
}

void setClock(uint64_t (*ticks)(), bool (*timeOfDay)(char*, size_t)) {
    g_ticks = ticks != nullptr ? ticks : vex::platform::tickCountMilliseconds;
    g_timeOfDay = timeOfDay != nullptr ? timeOfDay : vex::platform::formatLocalTimeOfDay;
    g_startTick.store(kNoStart);
}

}  // namespace vex::log_test
