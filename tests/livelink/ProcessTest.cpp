// Starting the renderer: detached, without arguments, with the caller's environment and
// current directory, none of its files, a clean signal state, and no child left behind.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <map>
#include <thread>

#include "LiveLinkTestSupport.hpp"
#include "livelink/InstallationRegistry.hpp"
#include "livelink/ProcessPlatform.hpp"

namespace {

using namespace vex::test;

const fs::path kProbe = buildPath(PROBE_PATH);

void expectNoChildren() {
#ifndef _WIN32
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child (or zombie) was left behind";
    EXPECT_EQ(errno, ECHILD);
#endif
}

TEST(ProcessStart, StartsDetachedWithoutArgumentsOrInheritedFiles) {
    TempDir dir;
    ProbeReport probe(dir);
    ScopedEnv mark("VEX_PROBE_MARK", "inherited environment");
#ifndef _WIN32
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
#endif

    ASSERT_TRUE(vex::platform::startDetachedProcess(kProbe.wstring()));

#ifndef _WIN32
    ::sigaction(SIGPIPE, &previousPipe, nullptr);
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    ::close(hostFile);
#endif
    expectNoChildren();
    auto report = probe.report();
    ASSERT_FALSE(report.empty()) << "the probe did not report";
    EXPECT_EQ(report["argc"], "1");
    EXPECT_EQ(report["argv0"], kProbe.string());
    EXPECT_EQ(report["cwd"], fs::current_path().string());
    EXPECT_EQ(report["mark"], "inherited environment");
#ifdef _WIN32
    // The system makes the command line from the application name (Wine quotes it).
    std::string commandLine = report["cmdline"];
    if (commandLine.size() >= 2 && commandLine.front() == '"' && commandLine.back() == '"')
        commandLine = commandLine.substr(1, commandLine.size() - 2);
    EXPECT_EQ(commandLine, kProbe.string()) << "no arguments";
#else
    EXPECT_NE(report["ppid"], std::to_string(::getpid()));
    EXPECT_NE(report["sid"], std::to_string(::getsid(0))) << "runs in a session of its own";
    EXPECT_EQ(report["fd0"], "/dev/null");
    EXPECT_EQ(report["fd1"], "/dev/null");
    EXPECT_EQ(report["fd2"], "/dev/null");
    EXPECT_EQ(report["extra_fds"], "") << "no descriptor of the host";
    EXPECT_EQ(report["sigterm_blocked"], "no");
    EXPECT_EQ(report["sigpipe_default"], "yes");
#endif
    expectNoChildren();
}

#ifndef _WIN32
TEST(ProcessStart, WorksWhenTheHostIgnoresChildSignals) {
    TempDir dir;
    ProbeReport probe(dir);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &previous);
    const bool started = vex::platform::startDetachedProcess(kProbe.wstring());
    ::sigaction(SIGCHLD, &previous, nullptr);
    ASSERT_TRUE(started);
    EXPECT_FALSE(probe.report().empty());
    expectNoChildren();
}
#endif

TEST(ProcessStart, WhatCannotBeExecutedIsNotReportedAsStarted) {
    TempDir dir;
    writeFile(dir / "plain", "not a program\n");
    std::vector<std::wstring> paths = {(dir / "missing").wstring(), (dir / "plain").wstring(),
                                       dir.path().wstring(), L"",
                                       std::wstring(1, static_cast<wchar_t>(0xD800))};
    // An embedded NUL would start another program.
    paths.push_back(kProbe.wstring() + L'\0' + L"x");
#ifndef _WIN32
    writeFile(dir / "script-without-interpreter", "#!/nonexistent/interpreter\n");
    fs::permissions(dir / "script-without-interpreter", fs::perms::owner_all);
    paths.push_back((dir / "script-without-interpreter").wstring());
#endif
    for (const std::wstring& p : paths) {
        EXPECT_FALSE(vex::platform::startDetachedProcess(p)) << narrow(p);
    }
    expectNoChildren();
}

TEST(ProcessStart, LaunchRendererStartsBinName) {
    TempDir dir;
    ProbeReport probe(dir);
    TestHives hives;
    fs::create_directories(dir / "resources");
    hives.user(section(kCU, "RayMint 11") + "\"BinName\"=" + regString(kProbe.string()) +
               "\r\n\"ResourceFolder\"=" + regString((dir / "resources").string()) + "\r\n");
    EXPECT_FALSE(InstallationRegistry::instance().launchRenderer(12, 20));
    ASSERT_TRUE(InstallationRegistry::instance().launchRenderer(11, 12));
    auto report = probe.report();
    EXPECT_EQ(report["argc"], "1");
    EXPECT_EQ(report["argv0"], kProbe.string());
    expectNoChildren();
}

}  // namespace
