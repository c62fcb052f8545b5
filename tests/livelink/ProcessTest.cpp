// Starting the renderer: detached, without arguments, with the caller's environment and
// current directory, none of its files, a clean signal state, and no child left behind.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>

#include "LiveLinkTestSupport.hpp"
#include "livelink/InstallationRegistry.hpp"
#include "livelink/ProcessPlatform.hpp"

namespace {

using namespace vex::test;

// Accepts the probe's report on a Unix socket; the bound only guards against a probe
// that never starts, a passing test waits just as long as the probe takes.
class ProbeListener {
  public:
    explicit ProbeListener(const TempDir& dir)
        : path_((dir / "s").string()), env_("VEX_PROBE_SOCKET", path_) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 4) != 0) {
            ADD_FAILURE() << "cannot listen on " << path_;
        }
    }
    ~ProbeListener() { ::close(fd_); }

    std::map<std::string, std::string> report() {
        std::map<std::string, std::string> fields;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 30000) != 1) return fields;
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return fields;
        std::string text;
        char buffer[4096];
        while (true) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 30000) != 1) break;
            const ssize_t n = ::read(c, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<size_t>(n));
        }
        ::close(c);
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
        }
        if (auto it = fields.find("pid"); it != fields.end()) {
            // It exits by itself right after reporting; make sure even if it did not.
            ::kill(static_cast<pid_t>(std::stol(it->second)), SIGKILL);
        }
        return fields;
    }

  private:
    std::string path_;
    ScopedEnv env_;
    int fd_ = -1;
};

void expectNoChildren() {
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child (or zombie) was left behind";
    EXPECT_EQ(errno, ECHILD);
}

TEST(ProcessStart, StartsDetachedWithoutArgumentsOrInheritedFiles) {
    TempDir dir;
    ProbeListener listener(dir);
    ScopedEnv mark("VEX_PROBE_MARK", "inherited environment");
    // An open, inheritable descriptor of the host, a blocked signal and an ignored one.
    const int hostFile = ::dup(STDERR_FILENO);
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &block, &old);
    struct sigaction ignore {
    }, previousPipe{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previousPipe);

    ASSERT_TRUE(vex::platform::startDetachedProcess(wide(PROBE_PATH)));

    ::sigaction(SIGPIPE, &previousPipe, nullptr);
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    ::close(hostFile);
    expectNoChildren();
    auto report = listener.report();
    ASSERT_FALSE(report.empty()) << "the probe did not report";
    EXPECT_EQ(report["argc"], "1");
    EXPECT_EQ(report["argv0"], PROBE_PATH);
    EXPECT_NE(report["ppid"], std::to_string(::getpid()));
    EXPECT_NE(report["sid"], std::to_string(::getsid(0))) << "runs in a session of its own";
    EXPECT_EQ(report["cwd"], fs::current_path().string());
    EXPECT_EQ(report["mark"], "inherited environment");
    EXPECT_EQ(report["fd0"], "/dev/null");
    EXPECT_EQ(report["fd1"], "/dev/null");
    EXPECT_EQ(report["fd2"], "/dev/null");
    EXPECT_EQ(report["extra_fds"], "") << "no descriptor of the host";
    EXPECT_EQ(report["sigterm_blocked"], "no");
    EXPECT_EQ(report["sigpipe_default"], "yes");
    expectNoChildren();
}

TEST(ProcessStart, WorksWhenTheHostIgnoresChildSignals) {
    TempDir dir;
    ProbeListener listener(dir);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &previous);
    const bool started = vex::platform::startDetachedProcess(wide(PROBE_PATH));
    ::sigaction(SIGCHLD, &previous, nullptr);
    ASSERT_TRUE(started);
    EXPECT_FALSE(listener.report().empty());
    expectNoChildren();
}

TEST(ProcessStart, WhatCannotBeExecutedIsNotReportedAsStarted) {
    TempDir dir;
    writeFile(dir / "plain", "not a program\n");
    writeFile(dir / "script-without-interpreter", "#!/nonexistent/interpreter\n");
    fs::permissions(dir / "script-without-interpreter", fs::perms::owner_all);
    for (const fs::path& p :
         {dir / "missing", dir / "plain", dir.path(), dir / "script-without-interpreter"}) {
        EXPECT_FALSE(vex::platform::startDetachedProcess(wide(p.string()))) << p;
    }
    EXPECT_FALSE(vex::platform::startDetachedProcess(L""));
    EXPECT_FALSE(vex::platform::startDetachedProcess(std::wstring(L"/bin/true\0x", 11)))
        << "an embedded NUL would start another program";
    EXPECT_FALSE(
        vex::platform::startDetachedProcess(std::wstring(1, static_cast<wchar_t>(0xD800))));
    expectNoChildren();
}

TEST(ProcessStart, LaunchRendererStartsBinName) {
    TempDir dir;
    ProbeListener listener(dir);
    const fs::path hive = dir / "HKEY_CURRENT_USER.reg";
    ScopedEnv cu("VEX_REGISTRY_HKCU", hive.string());
    ScopedEnv lm("VEX_REGISTRY_HKLM", "");
    fs::create_directories(dir / "resources");
    writeFile(hive, std::string(kHeader) + section(kCU, "RayMint 11") +
                        "\"BinName\"=" + regString(PROBE_PATH) + "\r\n\"ResourceFolder\"=" +
                        regString((dir / "resources").string()) + "\r\n");
    EXPECT_FALSE(InstallationRegistry::instance().launchRenderer(12, 20));
    ASSERT_TRUE(InstallationRegistry::instance().launchRenderer(11, 12));
    auto report = listener.report();
    EXPECT_EQ(report["argc"], "1");
    EXPECT_EQ(report["argv0"], PROBE_PATH);
    expectNoChildren();
}

}  // namespace
