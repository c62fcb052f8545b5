// Instance records: one small text file per running renderer in PREFIX/var/instances, written
// by the renderer and read by the live-link library and by "raymint --list" / "--stop".
// docs/live-link-protocol.md gives the format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vex::raymint {

struct InstanceRecord {
    int version = 0;
    int64_t processId = 0;
    int port = 0;
    uint64_t startTime = 0;  // field 22 of /proc/PID/stat: tells a reused pid from the renderer

    bool operator==(const InstanceRecord&) const = default;
};

// The file's content and its reading; nullopt for anything malformed.
std::string recordText(const InstanceRecord& record);
std::optional<InstanceRecord> parseRecord(const std::string& text);

// The start time of a running process, nullopt when it does not exist or is a zombie.
std::optional<uint64_t> processStartTime(int64_t processId);
// True when the record's process is running and is still the one that wrote it.
bool recordIsLive(const InstanceRecord& record);

// PREFIX/var/instances.
std::string instanceFolder(const std::string& prefix);
std::string recordPath(const std::string& folder, int64_t processId);

// The records of live processes in `folder`, by process id. With `removeStale`, the records of
// processes that are gone are deleted on the way.
std::vector<InstanceRecord> liveInstances(const std::string& folder, bool removeStale = false);

// Writes the record through a temporary file and a rename, so a reader never sees half of it.
// The renderer's side, with its file writing (PosixFiles.cpp); the library only reads.
bool publishRecord(const std::string& folder, const InstanceRecord& record, std::string& error);
void removeRecord(const std::string& folder, int64_t processId);

}  // namespace vex::raymint
