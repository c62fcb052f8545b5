// Finds the installed renderer through its installation records under
// "SOFTWARE\Corvan\" in the current-user and then the local-machine hive, picking the best
// installation within the caller's inclusive range of major versions on every request.
// Nothing is cached, so an installation added between two requests is seen by the second.
#pragma once

#include <string>

#include "livelink/RegistryPlatform.hpp"

class InstallationRegistry {
  public:
    static constexpr const wchar_t* kBaseKey = L"SOFTWARE\\Corvan\\";
    static constexpr long kNotFound = 1168;

    // Status of liveLinkPorts.
    static constexpr int kPortsRead = 0;
    static constexpr int kLastPortMissing = -1;
    static constexpr int kFirstPortMissing = -2;
    static constexpr int kNoInstallation = -3;

    // The add-in's one instance. Its first use also tells the log where the resource
    // folder is.
    static const InstallationRegistry& instance();

    // 0 with an open key (the caller closes it) and the installation's major version, or
    // kNotFound with `key` null and `version` untouched.
    long findInstallationKey(int minVersion, int maxVersion, vex::platform::RegKey& key,
                             int& version) const;

    // "BinFolder"; empty when there is no installation or value. `version` receives the
    // installation's major version when one was found.
    std::wstring binFolder(int minVersion, int maxVersion, int* version = nullptr) const;
    std::wstring binName(int minVersion, int maxVersion) const;
    std::wstring resourceFolder(int minVersion, int maxVersion) const;

    // kPortsRead with both ports set, kLastPortMissing with only `firstPort` set,
    // kFirstPortMissing or kNoInstallation with both untouched. A port is a number from
    // 1 to 65535, as a 32-bit value or as decimal text; anything else counts as missing.
    int liveLinkPorts(int minVersion, int maxVersion, int& firstPort, int& lastPort) const;

    // Starts "BinName" without arguments, detached; true when it was started.
    bool launchRenderer(int minVersion, int maxVersion) const;

    // The major version in an active-installation path, -1 when there is none.
    static int versionFromActivePath(const std::wstring& path);
    // The major version in a "RayMintVersion" value: the number after its first blank.
    static int versionFromVersionValue(const std::wstring& value);

  private:
    struct Found {
        vex::platform::RegKey key = nullptr;
        int version = -1;
    };
    Found keyFromActivePath(vex::platform::RegKey hive) const;
    Found keyFromVersionValue(vex::platform::RegKey hive) const;
    Found keyFromVersionScan(vex::platform::RegKey hive, int minVersion, int maxVersion) const;
    vex::platform::RegKey checkInstallationKey(vex::platform::RegKey hive,
                                               const std::wstring& subKey) const;
    std::wstring installationValue(int minVersion, int maxVersion, const wchar_t* name,
                                   int* version) const;
};
