// Temporary folders, whole-file reads and writes, and scoped environment variables for the
// tests that run programs and libraries against files of their own.
#pragma once

#include <stdlib.h>
#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vex::test {

namespace fs = std::filesystem;

#ifdef _WIN32
// A name no other process or earlier run uses: the Windows runtime's random_device repeats
// its sequence from run to run.
inline std::string uniqueName(const std::string& prefix) {
    static std::mt19937_64 next(
        static_cast<uint64_t>(::_getpid()) * 0x9e3779b97f4a7c15u ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return prefix + std::to_string(next());
}

// Removes what it can of a tree and gives up on the rest: the library's remove_all can loop
// for ever there on a file that cannot be deleted (one still open, say).
inline void removeTree(const fs::path& root) {
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) fs::remove(*e, ec);
    fs::remove(root, ec);
}
#endif

// A fresh folder under the temporary directory, removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
#ifdef _WIN32
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate = fs::temp_directory_path() / uniqueName("vex-test-");
            if (fs::create_directory(candidate)) path_ = candidate;
        }
        if (path_.empty()) throw std::runtime_error("no temporary folder");
#else
        std::string pattern = (fs::temp_directory_path() / "vex-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
#endif
    }
    ~TempDir() {
#ifdef _WIN32
        removeTree(path_);
#else
        std::error_code ignored;
        fs::remove_all(path_, ignored);
#endif
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const {
        return path_;
    }
    fs::path operator/(const std::string& name) const {
        return path_ / name;
    }

  private:
    fs::path path_;
};

inline void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A path CMake gave at build time, as this platform names it: under Wine the drive Z: maps the
// build machine's root.
inline fs::path buildPath(const std::string& path) {
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') return fs::path("Z:" + path).make_preferred();
#endif
    return fs::path(path);
}

inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Text as a text stream writes it (lines end in CR LF on Windows), and such text with plain
// line feeds again.
#ifdef _WIN32
inline std::string onDisk(const std::string& text) {
    return replaced(text, "\n", "\r\n");
}
inline std::string plainLines(const std::string& text) {
    return replaced(text, "\r\n", "\n");
}
#else
inline std::string onDisk(const std::string& text) {
    return text;
}
inline std::string plainLines(const std::string& text) {
    return text;
}
#endif

inline std::vector<std::string> readLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Text with \n, \\ and \xNN escapes, as the case tables hold it.
inline std::string unescaped(const std::string& s) {
    std::string out;
    for (size_t k = 0; k < s.size(); ++k) {
        if (s[k] != '\\' || k + 1 == s.size()) {
            out += s[k];
        } else if (s[++k] == 'n') {
            out += '\n';
        } else if (s[k] == 'x') {
            out += static_cast<char>(std::stoi(s.substr(k + 1, 2), nullptr, 16));
            k += 2;
        } else {
            out += s[k];
        }
    }
    return out;
}

// The cases of a table file: after a first line that says how to read it, a line a case, its
// input and what that gives, split by a tab and written with escapes.
inline std::vector<std::pair<std::string, std::string>> caseTable(const fs::path& path) {
    std::vector<std::pair<std::string, std::string>> cases;
    const std::vector<std::string> lines = readLines(path);
    for (size_t k = 1; k < lines.size(); ++k) {
        const size_t tab = lines[k].find('\t');
        if (tab == std::string::npos)
            throw std::runtime_error(path.string() + ":" + std::to_string(k + 1) + ": no tab");
        cases.emplace_back(unescaped(lines[k].substr(0, tab)), unescaped(lines[k].substr(tab + 1)));
    }
    return cases;
}

// Sets (or with nullopt unsets) an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = ::getenv(name)) old_ = old;
        set(name, value);
    }
    ~ScopedEnv() { set(name_, old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    static void set(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
        // An empty value removes the variable there.
        ::_putenv_s(name, value ? value->c_str() : "");
#else
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
#endif
    }

    const char* name_;
    std::optional<std::string> old_;
};

// Shell command lines: the system's shell is sh here and cmd on Windows.
#ifdef _WIN32
inline constexpr const char* kNullDevice = "NUL";
#else
inline constexpr const char* kNullDevice = "/dev/null";
#endif

// One word of a sh command line, whatever it holds.
inline std::string shWord(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// One word of a command line of the system's shell (no double quotes on Windows).
inline std::string shellQuote(const std::string& word) {
#ifdef _WIN32
    return "\"" + word + "\"";
#else
    return shWord(word);
#endif
}

struct CommandResult {
    int status = -1;  // the exit status, -1 when the command did not exit normally
    std::string out;  // its standard output, byte for byte
};

// Runs a command line (UTF-8) with its standard output read through a binary pipe.
inline CommandResult runCommand(const std::string& command) {
    CommandResult r;
#ifdef _WIN32
    // cmd strips the outermost quotes of the line it is given; the wide form carries UTF-8
    // texts, which the narrow one would take for the ANSI code page.
    const std::string line = "\"" + command + "\"";
    const std::wstring wide = fs::path(std::u8string(line.begin(), line.end())).wstring();
    FILE* pipe = ::_wpopen(wide.c_str(), L"rb");
#else
    FILE* pipe = ::popen(command.c_str(), "r");
#endif
    if (pipe == nullptr) return r;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        r.out.append(buffer, n);
#ifdef _WIN32
    r.status = ::_pclose(pipe);
#else
    const int raw = ::pclose(pipe);
    r.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    return r;
}

struct CaughtResult {
    int status = -1;
    std::string out, err;  // standard output and error, their lines with plain line feeds
};

// Runs a command line with its standard error caught in `errFile`.
inline CaughtResult runCaught(const std::string& command, const fs::path& errFile) {
    const CommandResult c = runCommand(command + " 2>" + shellQuote(errFile.string()));
    return {c.status, plainLines(c.out), plainLines(readFile(errFile))};
}

}  // namespace vex::test
