// The file target: header, paths, standard output, close semantics and the locale.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "TestFiles.hpp"
#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace fs = std::filesystem;

namespace {

using vex::test::kNullDevice;
using vex::test::runCommand;
using vex::test::shellQuote;
using vex::test::TempDir;

const std::string kEmptyScene =
    "//---corvan:dal:7---\n//---import:dal:1---\n//---id:1---\n"
    "// This is a RayMint scene file\n\n"
    "#print \"RayMint SceneApi oo 11.1.0  (built Thu Sep 23 14:16:20 2021)\"\nversion 9\n\n";

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The file name of UTF-8 text, also where narrow names are in another code page.
fs::path utf8Path(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string utf8Text(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Runs `f` with standard error going to a file and returns what was written there.
template <class F>
std::string stderrOf(F&& f) {
    std::fflush(stderr);
    FILE* sink = std::tmpfile();
    const int saved = dup(2);
    dup2(fileno(sink), 2);
    f();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::rewind(sink);
    std::string text;
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, sink)) > 0;) text.append(buf, n);
    std::fclose(sink);
    return text;
}

TEST(FileFactory, EmptySceneIsHeaderBannerAndVersion) {
    TempDir dir;
    const fs::path file = dir.path() / "empty.rmq";
    {
        std::ofstream(file) << "old contents that must disappear, longer than the new file "
                            << std::string(4000, 'x');
    }
    {
        vex::LightFileFactory target(file.string());
        vex::vexSceneapi_oo out(target);
    }
    EXPECT_EQ(readFile(file), kEmptyScene);
}

TEST(FileFactory, CloseThenDestructionClosesOnce) {
    TempDir dir;
    const fs::path file = dir.path() / "twice.rmq";
    const std::string err = stderrOf([&] {
        vex::LightFileFactory target(file.string());
        {
            vex::vexSceneapi_oo out(target);
            out.api()->set_mode(1);
            out.begin_group("g");
            out.end_group();
        }
        target.close();
        EXPECT_EQ(target.scene_api(), nullptr);
        target.close();
    });
    EXPECT_EQ(err, "");
    EXPECT_EQ(readFile(file), kEmptyScene + "\ngroup \"g\" {\n}\n");
}

TEST(FileFactory, NonAsciiPathNamesTheFile) {
    TempDir dir;
    const std::string name = "Szene f\xc3\xbcr \xe6\xb8\xb2\xe6\x9f\x93.rmq";
    {
        vex::LightFileFactory target(utf8Text(dir.path() / utf8Path(name)));
        vex::vexSceneapi_oo out(target);
    }
    EXPECT_EQ(readFile(dir.path() / utf8Path(name)), kEmptyScene);
}

void expectOpenFailure(const std::string& path, const std::string& reason) {
    std::string message;
    const std::string err = stderrOf([&] {
        try {
            vex::LightFileFactory target(path);
            ADD_FAILURE() << "opened " << path;
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
    });
    EXPECT_EQ(err, "opening file: " + reason + "\n");
    EXPECT_EQ(message, "could not open file: \"" + path + "\"");
}

TEST(FileFactory, UnopenablePathsThrowWithThePath) {
    TempDir dir;
    expectOpenFailure(utf8Text(dir.path() / "no such folder" / "x.rmq"), std::strerror(ENOENT));
#ifdef _WIN32
    expectOpenFailure(utf8Text(dir.path()), std::strerror(EACCES));
#else
    expectOpenFailure(dir.path().string(), std::strerror(EISDIR));
#endif
    // Bytes that are not UTF-8 cannot name a file on a wide-character system.
    const std::string bad = utf8Text(dir.path()) + "/bad\xff\xfe.rmq";
    expectOpenFailure(bad, std::strerror(EILSEQ));
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

#ifndef _WIN32
TEST(FileFactory, FullDiskIsReportedByCloseNotSilentlyShort) {
    std::string message;
    const std::string err = stderrOf([&] {
        vex::LightFileFactory target("/dev/full");
        {
            vex::vexSceneapi_oo out(target);
            out.api()->set_mode(1);
            std::vector<int> many(100000, 7);
            out.set_int_array("triangles", many);
        }
        try {
            target.close();
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
    });
    EXPECT_EQ(message, "could not close file");
    EXPECT_EQ(err, "closing file: No space left on device\n");
}

TEST(FileFactory, DestructorReportsAFullDiskWithoutThrowing) {
    const std::string err = stderrOf([] {
        vex::LightFileFactory target("/dev/full");
        vex::vexSceneapi_oo out(target);
    });
    EXPECT_EQ(err, "closing file: No space left on device\n");
}

#endif

// Text printed to standard output after "-" took it over lands on standard error. Text
// printed before is still in stdio's buffer here, because standard output is a pipe, and goes
// there too; the Windows C library writes it through at each call, so it has left already.
TEST(FileFactory, DashSendsOnlyTheSceneToStandardOutput) {
    TempDir dir;
    const fs::path err = dir.path() / "stderr";
    const auto r = runCommand(shellQuote(STDOUT_SCENE_PROGRAM) + " 2>" + shellQuote(err.string()));
    EXPECT_EQ(r.status, 0);
#ifdef _WIN32
    EXPECT_EQ(r.out, "printed before the scene\r\n" + kEmptyScene);
    EXPECT_EQ(readFile(err), "printed during the scene\r\n");
#else
    EXPECT_EQ(r.out, kEmptyScene);
    EXPECT_EQ(readFile(err), "printed before the scene\nprinted during the scene\n");
#endif
}

// Binary array blocks hold every byte value, line ends among them: through a pipe they must
// arrive unchanged.
TEST(FileFactory, SampleToolWritesTheSameSceneToStandardOutputAsToAFile) {
    TempDir dir;
    const std::string file = (dir.path() / "sample.rmq").string();
    const std::string tool = shellQuote(RMQ_SAMPLE);
    const std::string quiet = std::string(" 2>") + kNullDevice;
    for (const std::string flags : {" ", " --binary "}) {
        ASSERT_EQ(runCommand(tool + flags + shellQuote(file)).status, 0);
        const auto r = runCommand(tool + flags + "-" + quiet);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, readFile(file)) << flags;
        EXPECT_EQ(r.out.substr(0, kEmptyScene.size()), kEmptyScene);
    }
    EXPECT_NE(runCommand(tool + quiet).status, 0);
    EXPECT_NE(runCommand(tool + " --bogus x" + quiet).status, 0);
#ifndef _WIN32
    EXPECT_NE(runCommand(tool + " /dev/full" + quiet).status, 0);
#endif
}

TEST(FileFactory, NumericLocaleIsCWhileWritingAndRestoredAfter) {
    const char* comma = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE", "fr_FR", "de-DE"})
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            comma = name;
            break;
        }
    if (comma == nullptr) GTEST_SKIP() << "no locale with a decimal comma on this machine";
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    char probe[32];
    std::snprintf(probe, sizeof probe, "%g", 0.5);
    ASSERT_STREQ(probe, "0,5");

    TempDir dir;
    const fs::path file = dir.path() / "locale.rmq";
    {
        vex::LightFileFactory target(file.string());
        vex::vexSceneapi_oo out(target);
        out.api()->print_formatted("%g %.2f\n", 0.5, 1.25);
        out.set_double("d", 0.5);
        out.set_float("f", 0.5f);
        EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    }
    EXPECT_EQ(before, std::setlocale(LC_NUMERIC, nullptr));
    std::snprintf(probe, sizeof probe, "%g", 0.5);
    EXPECT_STREQ(probe, "0,5");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(readFile(file), kEmptyScene + "0.5 1.25\n\"d\" 0.5000000000000000,\n\"f\" 0.5,\n");
}

}  // namespace
