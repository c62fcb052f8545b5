// raymint-install: installs the stand-in renderer and its live-link library into a folder and
// records the installation in a hive file, as the add-in expects to find it.
#include <cstdio>
#include <filesystem>
#include <string>

#include "renderer/Installer.hpp"

namespace fs = std::filesystem;
using namespace vex::raymint;

namespace {

constexpr char kUsage[] =
    "Usage: raymint-install --prefix DIR --hive FILE [OPTION]...\n"
    "Installs the stand-in RayMint renderer into DIR (bin/raymint, bin/vexraymintlive6_64.so,\n"
    "resources/, etc/raymint.conf, var/) and records it in the hive file FILE, a registry\n"
    "export as the add-in reads it (see docs/registry-files.md). Other keys of FILE stay.\n"
    "\n"
    "  --prefix DIR           installation folder (created when missing)\n"
    "  --hive FILE            hive file to create or merge into\n"
    "  --hklm                 record under HKEY_LOCAL_MACHINE (default HKEY_CURRENT_USER)\n"
    "  --version N            major version, 5 to 99 (default 11)\n"
    "  --ports FIRST-LAST     live-link port range (default 50000-50010)\n"
    "  --idle SECONDS         the renderer stops after this long without connections\n"
    "                         (default 0: never)\n"
    "  --output DIR           folder of model-set files and transfers.log\n"
    "                         (default DIR/var/output)\n"
    "  --client-timeout S     the renderer drops a silent connection after S seconds\n"
    "  --max-stream-bytes N   the renderer refuses larger scene streams\n"
    "  --help                 show this text\n"
    "\n"
    "Diagnostics, written into the renderer's settings:\n"
    "  --die-after BYTES      the renderer exits abruptly after BYTES scene bytes\n"
    "  --stall-after BYTES    the renderer stops reading after BYTES scene bytes\n"
    "  --refuse-describe      the renderer refuses scene description requests\n"
    "  --keep-streams         the renderer keeps each stream it receives (OUTPUT/streams)\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "raymint-install: %s\nTry 'raymint-install --help'.\n", message.c_str());
    return 2;
}

// The built file: where the build put it, else beside this program.
std::string builtFile(const char* builtPath, const char* name) {
    std::error_code ec;
    if (builtPath[0] != '\0' && fs::is_regular_file(builtPath, ec)) return builtPath;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path beside = self.parent_path() / name;
        if (fs::is_regular_file(beside, ec)) return beside.string();
    }
    return builtPath;
}

}  // namespace

int main(int argc, char** argv) {
    InstallOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--hklm") {
            options.localMachine = true;
            continue;
        }
        std::string error;
        if (auto setting = settingOption(argc, argv, i, error)) {
            if (!applySetting(options.config, setting->first, setting->second, error))
                return usageError(arg + ": " + error);
            continue;
        }
        if (!error.empty()) return usageError(error);
        if (arg != "--prefix" && arg != "--hive")
            return usageError("unknown argument \"" + arg + "\"");
        if (i + 1 >= argc) return usageError(arg + " needs a value");
        (arg == "--prefix" ? options.prefix : options.hive) = argv[++i];
    }
    if (options.prefix.empty()) return usageError("--prefix DIR is required");
    if (options.hive.empty()) return usageError("--hive FILE is required");
    options.rendererSource = builtFile(RAYMINT_BUILT_RENDERER, "raymint");
    options.librarySource = builtFile(RAYMINT_BUILT_LIBRARY, "vexraymintlive6_64.so");

    std::string summary;
    std::string error;
    if (!install(options, summary, error)) {
        std::fprintf(stderr, "raymint-install: %s\n", error.c_str());
        return 1;
    }
    std::fputs(summary.c_str(), stdout);
    return 0;
}
