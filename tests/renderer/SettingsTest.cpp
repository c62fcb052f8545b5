// Settings files, instance records and the library's timeout variable: exact texts, limits and
// refusals of what other programs or people wrote.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "RendererTestSupport.hpp"
#include "renderer/LiveWire.hpp"
#include "renderer/RendererConfig.hpp"

namespace vex::test {
namespace {

using raymint::RendererConfig;

TEST(RendererSettings, FileSetsEveryKey) {
    RendererConfig c;
    std::string error;
    ASSERT_TRUE(raymint::parseConfigText(
        "# comment\n\n  version = 12  \r\nports=41000-41002\nidle = 5\noutput = /srv/out\n"
        "client_timeout = 4\nmax_stream_bytes = 1000\ndie_after_bytes = 7\n"
        "stall_after_bytes = 8\nrefuse_describe = 1\nkeep_streams = 1\n",
        "f", c, error))
        << error;
    EXPECT_EQ(c.version, 12);
    EXPECT_EQ(c.firstPort, 41000);
    EXPECT_EQ(c.lastPort, 41002);
    EXPECT_EQ(c.idleSeconds, 5);
    EXPECT_EQ(c.output, "/srv/out");
    EXPECT_EQ(c.clientTimeoutSeconds, 4);
    EXPECT_EQ(c.maxStreamBytes, 1000u);
    EXPECT_EQ(c.dieAfterBytes, 7u);
    EXPECT_EQ(c.stallAfterBytes, 8u);
    EXPECT_TRUE(c.refuseDescribe);
    EXPECT_TRUE(c.keepStreams);

    // What the installer writes reads back as the same settings.
    RendererConfig again;
    ASSERT_TRUE(raymint::parseConfigText(raymint::configText(c), "g", again, error)) << error;
    EXPECT_EQ(raymint::configText(again), raymint::configText(c));
}

TEST(RendererSettings, BadLinesNameTheirPlace) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"version = 4\n",
         "f:1: bad value \"4\" for version (expected a major version from 5 to 99)"},
        {"\nports = 2-1\n",
         "f:2: bad value \"2-1\" for ports (expected FIRST-LAST with 1 <= "
         "FIRST <= LAST <= 65535)"},
        {"ports = 1-65536\n",
         "f:1: bad value \"1-65536\" for ports (expected FIRST-LAST with 1 "
         "<= FIRST <= LAST <= 65535)"},
        {"idle = 1.5\n", "f:1: bad value \"1.5\" for idle (expected seconds, 0 for never)"},
        {"idle = +1\n", "f:1: bad value \"+1\" for idle (expected seconds, 0 for never)"},
        {"output = relative\n",
         "f:1: bad value \"relative\" for output (expected an absolute folder path)"},
        {"client_timeout = 0\n",
         "f:1: bad value \"0\" for client_timeout (expected seconds, at least 1)"},
        {"die_after_bytes = 99999999999999999999999\n",
         "f:1: bad value \"99999999999999999999999\" for die_after_bytes (expected a byte "
         "count, 0 for off)"},
        {"refuse_describe = yes\n", "f:1: bad value \"yes\" for refuse_describe (expected 0 or 1)"},
        {"colour = red\n", "f:1: unknown setting \"colour\""},
        {"just words\n", "f:1: expected \"key = value\""},
    };
    for (const auto& [text, message] : cases) {
        RendererConfig c;
        std::string error;
        EXPECT_FALSE(raymint::parseConfigText(text, "f", c, error)) << text;
        EXPECT_EQ(error, message);
    }
    int first = 0;
    int last = 0;
    EXPECT_TRUE(raymint::parsePortRange("7", first, last));
    EXPECT_EQ(first, 7);
    EXPECT_EQ(last, 7);
    EXPECT_FALSE(raymint::parsePortRange("", first, last));
    EXPECT_FALSE(raymint::parsePortRange("1-", first, last));
    EXPECT_FALSE(raymint::parsePortRange("-1", first, last));
}

TEST(InstanceRecords, TextAndItsReading) {
    raymint::InstanceRecord r{11, 1234, 50000, 98765};
    const std::string text = raymint::recordText(r);
    EXPECT_EQ(text, "raymint-instance 1\nversion 11\npid 1234\nport 50000\nstart 98765\n");
    EXPECT_EQ(raymint::parseRecord(text), r);
    EXPECT_EQ(raymint::parseRecord(text + "future 1\n"), r);
    const std::vector<std::string> broken = {
        "",
        "raymint-instance 2\nversion 11\npid 1\nport 1\nstart 1\n",
        "raymint-instance 1\nversion 11\npid 1\nport 1\n",
        "raymint-instance 1\nversion 11\npid 1\nport 70000\nstart 1\n",
        "raymint-instance 1\nversion 11\npid 0\nport 1\nstart 1\n",
        "raymint-instance 1\nversion 11\npid 99999999999\nport 1\nstart 1\n",
        "raymint-instance 1\nversion 11\nversion 12\npid 1\nport 1\nstart 1\n",
        "raymint-instance 1\nversion 11x\npid 1\nport 1\nstart 1\n",
        "raymint-instance 1\nversion 11\npid 1\nport 1\nstart -1\n",
        "raymint-instance 1\nversion\npid 1\nport 1\nstart 1\n",
    };
    for (const std::string& b : broken) EXPECT_EQ(raymint::parseRecord(b), std::nullopt) << b;
}

TEST(InstanceRecords, LiveProcessesOnly) {
    const auto mine = raymint::processStartTime(::getpid());
    ASSERT_TRUE(mine.has_value());
    EXPECT_TRUE(raymint::recordIsLive({11, ::getpid(), 1, *mine}));
    EXPECT_FALSE(raymint::recordIsLive({11, ::getpid(), 1, *mine + 1}));
    EXPECT_EQ(raymint::processStartTime(0), std::nullopt);
    EXPECT_EQ(raymint::processStartTime(-5), std::nullopt);

    // A zombie is no renderer.
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    for (int i = 0; i < 2000 && raymint::processStartTime(child).has_value(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(raymint::processStartTime(child), std::nullopt);
    ::waitpid(child, nullptr, 0);

    // Publishing and listing.
    TempDir dir;
    std::string error;
    const raymint::InstanceRecord me{12, ::getpid(), 4242, *mine};
    ASSERT_TRUE(raymint::publishRecord(dir.path().string(), me, error)) << error;
    const raymint::InstanceRecord gone{12, child, 4243, 1};
    writeFile(raymint::recordPath(dir.path().string(), child), raymint::recordText(gone));
    EXPECT_EQ(raymint::liveInstances(dir.path().string()), std::vector{me});
    EXPECT_TRUE(fs::exists(raymint::recordPath(dir.path().string(), child)));
    EXPECT_EQ(raymint::liveInstances(dir.path().string(), true), std::vector{me});
    EXPECT_FALSE(fs::exists(raymint::recordPath(dir.path().string(), child)));
    EXPECT_FALSE(raymint::publishRecord((dir / "missing").string(), me, error));
    EXPECT_NE(error.find("cannot create"), std::string::npos);
}

TEST(LiveLinkTimeouts, VariableReplacesTheWaits) {
    {
        ScopedEnv unset("RAYMINT_LIVE_TIMEOUT_MS", std::nullopt);
        const raymint::wire::Timeouts t = raymint::wire::timeoutsFromEnvironment();
        EXPECT_EQ(t.connectMs, 2000);
        EXPECT_EQ(t.progressMs, 10000);
        EXPECT_EQ(t.answerMs, 60000);
        EXPECT_EQ(t.describeMs, 5000);
    }
    {
        ScopedEnv set("RAYMINT_LIVE_TIMEOUT_MS", std::string("250"));
        const raymint::wire::Timeouts t = raymint::wire::timeoutsFromEnvironment();
        EXPECT_EQ(t.connectMs, 250);
        EXPECT_EQ(t.progressMs, 250);
        EXPECT_EQ(t.answerMs, 250);
        EXPECT_EQ(t.describeMs, 250);
    }
    {
        ScopedEnv set("RAYMINT_LIVE_TIMEOUT_MS", std::string("30000"));
        EXPECT_EQ(raymint::wire::timeoutsFromEnvironment().connectMs, 2000);
        EXPECT_EQ(raymint::wire::timeoutsFromEnvironment().progressMs, 30000);
    }
    for (const char* bad : {"0", "-5", "abc", "10ms", "99999999999"}) {
        ScopedEnv set("RAYMINT_LIVE_TIMEOUT_MS", std::string(bad));
        EXPECT_EQ(raymint::wire::timeoutsFromEnvironment().progressMs, 10000) << bad;
    }
}

}  // namespace
}  // namespace vex::test
