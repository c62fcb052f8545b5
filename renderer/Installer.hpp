// raymint-install's work: the installation folder and the installation records in a hive
// file (docs/registry-files.md syntax), merged so that other keys of the file stay.
#pragma once

#include <string>

#include "renderer/RendererConfig.hpp"

namespace vex::raymint {

struct HiveRecord {
    bool localMachine = false;  // HKEY_LOCAL_MACHINE instead of HKEY_CURRENT_USER
    int version = 11;
    std::string binName;
    std::string binFolder;
    std::string resourceFolder;
    int firstPort = 50000;
    int lastPort = 50010;
};

// The hive file's new text: `existing` (empty for a new file) without its sections of this
// version's key and without earlier "RayMintVersion" values of the base key, then the base
// key's "RayMintVersion" and this version's key. False with `error` when `existing` is not a
// registry file or a value cannot be written.
bool mergeHive(const std::string& existing, const HiveRecord& record, std::string& merged,
               std::string& error);

// A text value in quotes with the two escapes of registry files.
std::string regQuoted(const std::string& text);

struct InstallOptions {
    std::string prefix;
    std::string hive;
    bool localMachine = false;
    RendererConfig config;
    std::string rendererSource;  // the built files to copy
    std::string librarySource;
};

// Creates PREFIX/{bin,resources,etc,var}, copies the renderer and the library, writes the
// settings file and merges the hive file. `summary` says what was done.
bool install(const InstallOptions& options, std::string& summary, std::string& error);

}  // namespace vex::raymint
