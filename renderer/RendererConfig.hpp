// The renderer's settings: PREFIX/etc/raymint.conf (written by raymint-install), then the
// command line on top. docs/renderer.md lists the keys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace vex::raymint {

struct RendererConfig {
    int version = 11;
    int firstPort = 50000;
    int lastPort = 50010;
    int64_t idleSeconds = 0;  // 0: never stops for idleness
    std::string output;       // empty: PREFIX/var/output
    int64_t clientTimeoutSeconds = 30;
    uint64_t maxStreamBytes = uint64_t{4} << 30;
    // Diagnostics for tests; 0 / false is off.
    uint64_t dieAfterBytes = 0;
    uint64_t stallAfterBytes = 0;
    bool refuseDescribe = false;
    // Keeps every successful transfer's raw stream as OUTPUT/streams/transfer-N.rmq.
    bool keepStreams = false;
};

// A command-line option that overrides a setting: "--ports A-B" gives {"ports", "A-B"}, a flag
// such as "--refuse-describe" gives {"refuse_describe", "1"}; a relative "--output" folder is
// made absolute. Consumes the option's value. Nullopt when argv[i] is not such an option, or
// with `error` set when its value is missing.
std::optional<std::pair<std::string, std::string>> settingOption(int argc, char** argv, int& i,
                                                                 std::string& error);

// Sets one setting from its text, as the configuration file names it ("ports", "idle", ...).
// False with `error` set for an unknown key or a bad value.
bool applySetting(RendererConfig& config, const std::string& key, const std::string& value,
                  std::string& error);

// Reads "key = value" lines; '#' starts a comment line. `source` names the text in errors.
bool parseConfigText(const std::string& text, const std::string& source, RendererConfig& config,
                     std::string& error);

// "A-B" or "A", 1 <= A <= B <= 65535.
bool parsePortRange(const std::string& text, int& first, int& last);

// A decimal number without sign or blanks, within [minimum, maximum].
bool parseDecimal(const std::string& text, uint64_t minimum, uint64_t maximum, uint64_t& value);

// The configuration file's text for the settings, as the installer writes it.
std::string configText(const RendererConfig& config);

}  // namespace vex::raymint
