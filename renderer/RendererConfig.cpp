#include "renderer/RendererConfig.hpp"

#include <charconv>
#include <filesystem>
#include <sstream>

namespace vex::raymint {

namespace {

std::string trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

constexpr uint64_t kMaxSeconds = 10ull * 365 * 24 * 3600;

}  // namespace

bool parseDecimal(const std::string& text, uint64_t minimum, uint64_t maximum, uint64_t& value) {
    if (text.empty() || text.size() > 20 || text[0] < '0' || text[0] > '9') return false;
    uint64_t v = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), v);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    if (v < minimum || v > maximum) return false;
    value = v;
    return true;
}

bool parsePortRange(const std::string& text, int& first, int& last) {
    const size_t dash = text.find('-');
    uint64_t a = 0;
    uint64_t b = 0;
    if (dash == std::string::npos) {
        if (!parseDecimal(text, 1, 65535, a)) return false;
        b = a;
    } else if (!parseDecimal(text.substr(0, dash), 1, 65535, a) ||
               !parseDecimal(text.substr(dash + 1), 1, 65535, b) || b < a) {
        return false;
    }
    first = static_cast<int>(a);
    last = static_cast<int>(b);
    return true;
}

bool applySetting(RendererConfig& c, const std::string& key, const std::string& value,
                  std::string& error) {
    uint64_t n = 0;
    auto bad = [&](const char* expected) {
        error = "bad value \"" + value + "\" for " + key + " (expected " + expected + ")";
        return false;
    };
    if (key == "version") {
        if (!parseDecimal(value, 5, 99, n)) return bad("a major version from 5 to 99");
        c.version = static_cast<int>(n);
    } else if (key == "ports") {
        if (!parsePortRange(value, c.firstPort, c.lastPort))
            return bad("FIRST-LAST with 1 <= FIRST <= LAST <= 65535");
    } else if (key == "idle") {
        if (!parseDecimal(value, 0, kMaxSeconds, n)) return bad("seconds, 0 for never");
        c.idleSeconds = static_cast<int64_t>(n);
    } else if (key == "output") {
        if (value.empty() || value[0] != '/') return bad("an absolute folder path");
        c.output = value;
    } else if (key == "client_timeout") {
        if (!parseDecimal(value, 1, kMaxSeconds, n)) return bad("seconds, at least 1");
        c.clientTimeoutSeconds = static_cast<int64_t>(n);
    } else if (key == "max_stream_bytes") {
        if (!parseDecimal(value, 1, UINT64_MAX, n)) return bad("a byte count, at least 1");
        c.maxStreamBytes = n;
    } else if (key == "die_after_bytes") {
        if (!parseDecimal(value, 0, UINT64_MAX, n)) return bad("a byte count, 0 for off");
        c.dieAfterBytes = n;
    } else if (key == "stall_after_bytes") {
        if (!parseDecimal(value, 0, UINT64_MAX, n)) return bad("a byte count, 0 for off");
        c.stallAfterBytes = n;
    } else if (key == "refuse_describe" || key == "keep_streams") {
        if (value != "0" && value != "1") return bad("0 or 1");
        (key == "keep_streams" ? c.keepStreams : c.refuseDescribe) = value == "1";
    } else {
        error = "unknown setting \"" + key + "\"";
        return false;
    }
    return true;
}

bool parseConfigText(const std::string& text, const std::string& source, RendererConfig& config,
                     std::string& error) {
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string t = trimmed(line);
        if (t.empty() || t[0] == '#') continue;
        const size_t eq = t.find('=');
        std::string why;
        if (eq == std::string::npos) {
            why = "expected \"key = value\"";
        } else if (applySetting(config, trimmed(t.substr(0, eq)), trimmed(t.substr(eq + 1)), why)) {
            continue;
        }
        error = source + ":" + std::to_string(number) + ": " + why;
        return false;
    }
    return true;
}

std::string configText(const RendererConfig& c) {
    std::ostringstream out;
    out << "# RayMint stand-in renderer settings, written by raymint-install.\n"
        << "version = " << c.version << "\n"
        << "ports = " << c.firstPort << "-" << c.lastPort << "\n"
        << "idle = " << c.idleSeconds << "\n";
    if (!c.output.empty()) out << "output = " << c.output << "\n";
    out << "client_timeout = " << c.clientTimeoutSeconds << "\n"
        << "max_stream_bytes = " << c.maxStreamBytes << "\n";
    if (c.keepStreams) out << "keep_streams = 1\n";
    if (c.dieAfterBytes != 0 || c.stallAfterBytes != 0 || c.refuseDescribe) {
        out << "# Diagnostics: a renderer that fails on purpose.\n";
        if (c.dieAfterBytes != 0) out << "die_after_bytes = " << c.dieAfterBytes << "\n";
        if (c.stallAfterBytes != 0) out << "stall_after_bytes = " << c.stallAfterBytes << "\n";
        if (c.refuseDescribe) out << "refuse_describe = 1\n";
    }
    return out.str();
}

std::optional<std::pair<std::string, std::string>> settingOption(int argc, char** argv, int& i,
                                                                 std::string& error) {
    static const std::pair<const char*, const char*> kValued[] = {
        {"--version", "version"},
        {"--ports", "ports"},
        {"--idle", "idle"},
        {"--output", "output"},
        {"--client-timeout", "client_timeout"},
        {"--max-stream-bytes", "max_stream_bytes"},
        {"--die-after", "die_after_bytes"},
        {"--stall-after", "stall_after_bytes"},
    };
    static const std::pair<const char*, const char*> kFlags[] = {
        {"--refuse-describe", "refuse_describe"},
        {"--keep-streams", "keep_streams"},
    };
    const std::string arg = argv[i];
    for (const auto& [option, key] : kFlags)
        if (arg == option) return std::pair<std::string, std::string>(key, "1");
    for (const auto& [option, key] : kValued) {
        if (arg != option) continue;
        if (i + 1 >= argc) {
            error = arg + " needs a value";
            return std::nullopt;
        }
        std::string value = argv[++i];
        if (arg == "--output" && !value.empty() && value[0] != '/')
            value = (std::filesystem::current_path() / value).lexically_normal().string();
        return std::pair<std::string, std::string>(key, value);
    }
    return std::nullopt;
}

}  // namespace vex::raymint
