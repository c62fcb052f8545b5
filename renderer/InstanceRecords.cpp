#include "renderer/InstanceRecords.hpp"

#include "renderer/LinkPlatform.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <sstream>

namespace vex::raymint {

namespace {

constexpr char kRecordMagic[] = "raymint-instance 1";
constexpr char kRecordSuffix[] = ".instance";
constexpr size_t kMaxRecordBytes = 4096;
// A folder full of junk must not make every query of the host slow.
constexpr size_t kMaxEntriesScanned = 4096;

template <class T>
bool parseNumber(const std::string& text, T& out) {
    if (text.empty() || text.size() > 20) return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), out);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// "<digits>.instance" -> the digits' value.
std::optional<int64_t> pidOfFileName(const char* name) {
    const size_t n = std::strlen(name);
    const size_t suffix = sizeof kRecordSuffix - 1;
    if (n <= suffix || n > suffix + 10 || std::strcmp(name + n - suffix, kRecordSuffix) != 0)
        return std::nullopt;
    int64_t pid = 0;
    const auto result = std::from_chars(name, name + n - suffix, pid);
    if (result.ec != std::errc() || result.ptr != name + n - suffix || pid <= 0)
        return std::nullopt;
    return pid;
}

}  // namespace

std::string recordText(const InstanceRecord& r) {
    std::ostringstream out;
    out << kRecordMagic << "\nversion " << r.version << "\npid " << r.processId << "\nport "
        << r.port << "\nstart " << r.startTime << "\n";
    return out.str();
}

std::optional<InstanceRecord> parseRecord(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kRecordMagic) return std::nullopt;
    InstanceRecord r;
    unsigned seen = 0;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const size_t space = line.find(' ');
        if (space == std::string::npos) return std::nullopt;
        const std::string key = line.substr(0, space);
        const std::string value = line.substr(space + 1);
        unsigned bit = 0;
        bool ok = false;
        if (key == "version") {
            bit = 1;
            ok = parseNumber(value, r.version) && r.version >= 1 && r.version <= 99;
        } else if (key == "pid") {
            bit = 2;
            ok = parseNumber(value, r.processId) && r.processId > 0 && r.processId <= INT32_MAX;
        } else if (key == "port") {
            bit = 4;
            ok = parseNumber(value, r.port) && r.port >= 1 && r.port <= 65535;
        } else if (key == "start") {
            bit = 8;
            ok = parseNumber(value, r.startTime);
        } else {
            continue;  // later versions may add keys
        }
        if (!ok || (seen & bit) != 0) return std::nullopt;
        seen |= bit;
    }
    if (seen != 15) return std::nullopt;
    return r;
}

std::optional<uint64_t> processStartTime(int64_t processId) {
    if (processId <= 0 || processId > INT32_MAX) return std::nullopt;
    const std::optional<std::string> text = platform::processStatText(processId);
    if (!text) return std::nullopt;
    // The command name in parentheses may hold anything, spaces and ')' included.
    const size_t close = text->rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text->substr(close + 1));
    std::string state;
    fields >> state;
    if (state.empty() || state == "Z" || state == "X" || state == "x") return std::nullopt;
    // State is field 3; the start time is field 22.
    std::string field;
    for (int i = 4; i <= 22; ++i) {
        if (!(fields >> field)) return std::nullopt;
    }
    uint64_t start = 0;
    if (!parseNumber(field, start)) return std::nullopt;
    return start;
}

bool recordIsLive(const InstanceRecord& record) {
    const auto start = processStartTime(record.processId);
    return start && *start == record.startTime;
}

std::string instanceFolder(const std::string& prefix) {
    return prefix + "/var/instances";
}

std::string recordPath(const std::string& folder, int64_t processId) {
    return folder + "/" + std::to_string(processId) + kRecordSuffix;
}

std::vector<InstanceRecord> liveInstances(const std::string& folder, bool removeStale) {
    std::vector<InstanceRecord> live;
    for (const std::string& name : platform::folderEntries(folder, kMaxEntriesScanned)) {
        const auto pid = pidOfFileName(name.c_str());
        if (!pid) continue;
        const std::string path = folder + "/" + name;
        std::string text;
        const auto record = platform::readSmallFile(path, text, kMaxRecordBytes)
                                ? parseRecord(text)
                                : std::optional<InstanceRecord>();
        if (record && record->processId == *pid && recordIsLive(*record))
            live.push_back(*record);
        else if (removeStale)
            platform::removeFile(path);
    }
    std::sort(live.begin(), live.end(), [](const InstanceRecord& a, const InstanceRecord& b) {
        return a.processId < b.processId;
    });
    return live;
}

void removeRecord(const std::string& folder, int64_t processId) {
    platform::removeFile(recordPath(folder, processId));
}

}  // namespace vex::raymint
