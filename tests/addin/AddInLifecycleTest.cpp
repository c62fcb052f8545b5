// The add-in's entry points in process: the buttons run places (and where, when the render
// workspace or panel is missing), a second run that adds nothing, clicks through the handlers,
// and what the add-in still holds after every flow and after stop.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "AddinTestSupport.hpp"
#include "DesignLoader.hpp"
#include "Session.hpp"

extern "C" bool run(const char* context);
extern "C" bool stop(const char* context);

namespace {

const std::string kQatRender = "rayMint11RenderCommandOnQATCPP";
const std::string kPanelRender = "rayMint11RenderCommandOnPanelCPP";
const std::string kPanelExport = "rayMint11ExportCommandOnPanelCPP";

std::vector<std::string> controls(const host::Session& session) {
    std::vector<std::string> out;
    for (const auto& c : session.controls())
        out.push_back(c.place + " " + c.id + (c.visible ? "" : " hidden"));
    return out;
}

// id, name, resource folder and the number of command-created handlers of each definition.
std::vector<std::string> definitions(const host::Session& session) {
    std::vector<std::string> out;
    for (const auto& d : session.definitions())
        out.push_back(d.id + " | " + d.name + " | " + d.resourceFolder + " | " +
                      std::to_string(d.createdHandlers));
    return out;
}

using Held = std::map<std::string, long>;

Held references() {
    return host::Audit::now().references;
}

host::DocumentRef sample() {
    return host::loadJsonDesign(std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json");
}

const std::vector<std::string> kStandardDefinitions = {
    kQatRender + " | Render in RayMint 11 | ./resources/render_command | 1",
    kPanelRender + " | Render in RayMint 11 | ./resources/render_command | 1",
    kPanelExport + " | Export to RayMint .rmq | ./resources/export_command | 1",
};

const Held kAfterRun = {{"adsk::core::Application", 1}, {"adsk::core::UserInterface", 1}};
// The exporter made by the first click keeps its own application and user interface.
const Held kWithExporter = {{"adsk::core::Application", 2}, {"adsk::core::UserInterface", 2}};
// After stop the add-in keeps only its application reference.
const Held kAfterStop = {{"adsk::core::Application", 1}};

TEST(AddInLifecycle, SecondRunAddsNothingAndStopReleasesTheUserInterface) {
    addintest::ScratchDir dir;
    host::Session session;
    session.install();
    session.openDocument(sample());
    const std::vector<std::string> placed = {
        "toolbar QAT " + kQatRender,
        "workspace FusionRenderEnvironment panel RenderPanel " + kPanelRender,
        "workspace FusionRenderEnvironment panel RenderPanel " + kPanelExport,
    };
    ASSERT_TRUE(run(""));
    EXPECT_EQ(controls(session), placed);
    EXPECT_EQ(definitions(session), kStandardDefinitions);
    EXPECT_TRUE(run(""));
    EXPECT_EQ(controls(session), placed);
    EXPECT_EQ(definitions(session), kStandardDefinitions);
    EXPECT_EQ(references(), kAfterRun);

    // Each click reaches one created and one execute handler, whatever the number of runs.
    const std::filesystem::path file = dir / "cart.rmq";
    session.answerSaveDialog(file.string());
    host::ClickReport report = session.click(kPanelExport);
    EXPECT_TRUE(report.found);
    EXPECT_EQ(report.createdHandlers, 1);
    EXPECT_EQ(report.executeHandlers, 1);
    EXPECT_TRUE(report.exceptions.empty()) << report.exceptions.front();
    EXPECT_EQ(addintest::readFile(file).rfind("//---corvan:dal:7---\n", 0), 0u);
    EXPECT_EQ(references(), kWithExporter);
    EXPECT_TRUE(host::Audit::now().arrays.empty());

    // Cancelled and failing flows leave nothing more held either.
    session.answerSaveDialog(std::nullopt);
    report = session.click(kPanelExport);
    EXPECT_TRUE(report.exceptions.empty());
    EXPECT_EQ(references(), kWithExporter);
    session.answerSaveDialog((dir / "missing" / "x.rmq").string());
    report = session.click(kPanelExport);
    ASSERT_EQ(report.exceptions.size(), 1u);
    EXPECT_NE(report.exceptions[0].find("could not open file"), std::string::npos)
        << report.exceptions[0];
    EXPECT_EQ(references(), kWithExporter);
    EXPECT_TRUE(host::Audit::now().arrays.empty());
    EXPECT_EQ(session.unansweredDialogs(), 0);

    EXPECT_TRUE(stop(""));
    EXPECT_EQ(references(), kAfterStop);
    EXPECT_TRUE(host::Audit::now().arrays.empty());

    // The host keeps the buttons; a new run finds them and adds no handler, and the next click
    // gets a fresh exporter.
    ASSERT_TRUE(run(""));
    EXPECT_EQ(controls(session), placed);
    EXPECT_EQ(definitions(session), kStandardDefinitions);
    const std::filesystem::path again = dir / "again.rmq";
    session.answerSaveDialog(again.string());
    report = session.click(kPanelExport);
    EXPECT_EQ(report.executeHandlers, 1);
    EXPECT_TRUE(report.exceptions.empty());
    EXPECT_EQ(addintest::readFile(again), addintest::readFile(file));
    EXPECT_EQ(references(), kWithExporter);

    // Every save dialog proposes the document's full name, version included, and an unnamed
    // document "Untitled.rmq".
    host::DocumentRef unnamed = sample();
    unnamed->name.clear();
    session.openDocument(unnamed);
    session.answerSaveDialog(std::nullopt);
    EXPECT_EQ(session.click(kPanelExport).executeHandlers, 1);
    std::vector<std::string> dialogs;
    for (const auto& d : session.saveDialogs())
        dialogs.push_back(d.filter + " | " + std::to_string(d.filterIndex) + " | " +
                          d.initialDirectory + " | " + d.initialFilename);
    const std::string setUp = "RayMint scene (*.rmq) | 0 | %CSIDL_MYDOCUMENTS% | ";
    std::vector<std::string> expected(4, setUp + "Sample Cart v3");
    expected.push_back(setUp + "Untitled.rmq");
    EXPECT_EQ(dialogs, expected);
    EXPECT_TRUE(stop(""));
    EXPECT_EQ(references(), kAfterStop);
}

struct LayoutCase {
    const char* what;
    host::Layout layout;
    bool runs;
    // Where the two panel buttons go; empty: only the quick-access button (or none).
    std::string panel;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.what;
}

class Layouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(Layouts, PanelButtonsFallBackToTheLastWorkspaceAndPanel) {
    const LayoutCase& c = GetParam();
    addintest::ScratchDir dir;
    host::Session session(c.layout);
    session.install();
    session.openDocument(sample());
    EXPECT_EQ(run(""), c.runs);
    std::vector<std::string> expected;
    if (c.runs) expected.push_back("toolbar QAT " + kQatRender);
    if (!c.panel.empty()) {
        expected.push_back(c.panel + " " + kPanelRender);
        expected.push_back(c.panel + " " + kPanelExport);
    }
    EXPECT_EQ(controls(session), expected);
    EXPECT_EQ(session.definitions().size(), c.runs ? (c.panel.empty() ? 1u : 3u) : 0u);
    if (!c.panel.empty()) {
        const std::filesystem::path file = dir / "out.rmq";
        session.answerSaveDialog(file.string());
        const host::ClickReport report = session.click(kPanelExport);
        EXPECT_EQ(report.executeHandlers, 1);
        EXPECT_TRUE(report.exceptions.empty());
        EXPECT_TRUE(std::filesystem::exists(file));
    }
    // Even a run that gave up keeps the references it took; stop releases the interface.
    EXPECT_EQ(references(), c.panel.empty() ? kAfterRun : kWithExporter);
    EXPECT_TRUE(stop(""));
    EXPECT_EQ(references(), kAfterStop);
    EXPECT_TRUE(host::Audit::now().arrays.empty());
}

host::Layout layout(std::vector<std::string> toolbars,
                    std::vector<host::Layout::Workspace> workspaces) {
    host::Layout l;
    l.toolbars = std::move(toolbars);
    l.workspaces = std::move(workspaces);
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Fallbacks, Layouts,
    testing::Values(
        LayoutCase{"noRenderWorkspace",
                   layout({"QAT"}, {{"Design", {"P1", "P2"}}, {"Docs", {"D1", "D2"}}}), true,
                   "workspace Docs panel D2"},
        LayoutCase{"noRenderPanel",
                   layout({"QAT"},
                          {{"FusionRenderEnvironment", {"SetupPanel", "Other"}}, {"Docs", {"D1"}}}),
                   true, "workspace FusionRenderEnvironment panel Other"},
        LayoutCase{"noWorkspaces", layout({"QAT"}, {}), true, ""},
        LayoutCase{"lastWorkspaceWithoutPanels", layout({"QAT"}, {{"Design", {"P1"}}, {"E", {}}}),
                   true, ""},
        LayoutCase{"renderWorkspaceWithoutPanels",
                   layout({"QAT"}, {{"FusionRenderEnvironment", {}}, {"Docs", {"D1"}}}), true, ""},
        LayoutCase{"noQuickAccessToolbar",
                   layout({"NavToolbar"}, host::Layout::standard().workspaces), false, ""}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.what); });

}  // namespace

namespace {

// ---- a deep design on a small stack ---------------------------------------------------------

// The host runs commands on its main thread, which has 1 MiB of stack on Windows. The walk,
// the writing and the release of the scene graph each go down once per level; a design as deep
// as the host accepts must fit. The walk, the deepest of the three, takes 171 bytes per level in
// a release build and 620 under GCC's AddressSanitizer at -O0, so the sanitizer build gets the
// same 1 MiB and catches a walk that grows.
constexpr size_t kHostStack = size_t{1} << 20;
constexpr unsigned char kUnused = 0xa5;
#ifdef _WIN32
struct StackRun {
    std::function<void()> job;
    size_t used = 0;
};

DWORD WINAPI runMeasured(LPVOID arg) {
    auto* run = static_cast<StackRun*>(arg);
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    // Marks the stack below this frame as unused, downwards so that the guard page moves as it
    // does for a growing stack; the lowest 64 KiB stay clear of the guard pages.
    auto* const bottom = reinterpret_cast<volatile unsigned char*>(low + (64 << 10));
    auto* const frame = static_cast<volatile unsigned char*>(__builtin_frame_address(0)) - 1024;
    for (volatile unsigned char* p = frame; p-- > bottom;) *p = kUnused;
    run->job();
    volatile unsigned char* p = bottom;
    while (p < frame && *p == kUnused) ++p;
    run->used = high - reinterpret_cast<ULONG_PTR>(p);
    return 0;
}

// Runs `job` on a thread with `size` bytes of stack reserved, as the host's main thread has;
// the most it used.
size_t onStackOf(size_t size, std::function<void()> job) {
    StackRun run{std::move(job)};
    HANDLE thread =
        CreateThread(nullptr, size, runMeasured, &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) throw std::runtime_error("CreateThread failed");
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return run.used;
}
#else

// Marks the stack below this frame as unused (a margin keeps clear of the frame itself).
__attribute__((no_sanitize_address, noinline)) void paintStack(unsigned char* low) {
    auto* high = static_cast<unsigned char*>(__builtin_frame_address(0)) - 1024;
    for (volatile unsigned char* p = low; p < high; ++p) *p = kUnused;
}

__attribute__((no_sanitize_address, noinline)) size_t unusedStack(const unsigned char* low,
                                                                  size_t size) {
    size_t n = 0;
    while (n < size && static_cast<const volatile unsigned char*>(low)[n] == kUnused) ++n;
    return n;
}

struct StackRun {
    std::function<void()> job;
    unsigned char* low;
    size_t size;
    size_t used = 0;
};

void* runPainted(void* arg) {
    auto* run = static_cast<StackRun*>(arg);
    paintStack(run->low);
    run->job();
    run->used = run->size - unusedStack(run->low, run->size);
    return nullptr;
}

// Runs `job` on a thread with `size` bytes of stack above a guard page; the most it used.
size_t onStackOf(size_t size, std::function<void()> job) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* block = mmap(nullptr, size + page, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (block == MAP_FAILED) throw std::runtime_error("mmap failed");
    mprotect(block, page, PROT_NONE);
    StackRun run{std::move(job), static_cast<unsigned char*>(block) + page, size};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, run.low, size);
    pthread_t thread;
    const int created = pthread_create(&thread, &attr, runPainted, &run);
    if (created == 0) pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    munmap(block, size + page);
    if (created != 0) throw std::runtime_error("pthread_create failed");
    return run.used;
}

#endif

// Components c0 to cN-1, each placing the next 1 cm up and holding one box body.
std::string chain(int levels) {
    std::string json = R"({"document": "deep", "products": [{"type": "design", "root": "c0",
      "components": [)";
    for (int i = 0; i < levels; ++i) {
        const std::string n = std::to_string(i);
        json += std::string(i ? "," : "") + "\n{\"name\": \"c" + n +
                "\", \"bodies\": [{\"name\": \"b" + n +
                R"(", "faces": [{"meshes": [{"box": {"min": [0, 0, 0], "max": [1, 1, 1]}}]}]}])";
        if (i + 1 < levels)
            json += R"(, "occurrences": [{"component": "c)" + std::to_string(i + 1) +
                    R"(", "transform": {"translation": [0, 0, 1]}}])";
        json += "}";
    }
    return json + "]}]}";
}

// The tree rmq-inspect prints for chain(levels): component groups nested down, each with its
// body after the placed component.
std::string chainTree(int levels) {
    std::string tree = "tree:\n  group \"deep\"\n";
    auto indent = [](int depth) { return std::string(2 * depth, ' '); };
    for (int i = 0; i < levels; ++i)
        tree += indent(i + 2) + "group \"c" + std::to_string(i) + "\"  flags 32769\n";
    for (int i = levels - 1; i >= 0; --i) {
        const std::string b = "\"b" + std::to_string(i) + "\"";
        tree += indent(i + 3) + "group " + b + "  flags 1024\n" + indent(i + 4) + "group " + b +
                "  flags 65536\n" + indent(i + 5) + "object " + b + "  flags 0\n";
    }
    return tree;
}

TEST(AddInOnASmallStack, ThousandLevelDesignExportsWhole) {
    addintest::ScratchDir dir;
    host::Session session;
    session.install();
    ASSERT_TRUE(run(""));
    const int levels[] = {1, 1000};
    size_t used[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        const std::filesystem::path design = dir / "deep.json", file = dir / "deep.rmq";
        addintest::writeFile(design, chain(levels[k]));
        session.openDocument(host::loadJsonDesign(design.string()));
        session.answerSaveDialog(file.string());
        host::ClickReport report;
        used[k] = onStackOf(kHostStack, [&] { report = session.click(kPanelExport); });
        EXPECT_EQ(report.executeHandlers, 1);
        EXPECT_TRUE(report.exceptions.empty()) << report.exceptions.front();

        const addintest::Result inspect =
            addintest::run(std::string(RMQ_INSPECT) + " --tree " + file.string());
        ASSERT_EQ(inspect.status, 0) << inspect.out.substr(0, 2000);
        const size_t tree = inspect.out.find("tree:\n");
        ASSERT_NE(tree, std::string::npos);
        EXPECT_EQ(inspect.out.substr(tree), chainTree(levels[k]));
        EXPECT_NE(inspect.out.find("triangles: " + std::to_string(12 * levels[k]) + "\n"),
                  std::string::npos);
        // Every placement arrives, 1 cm up in a design in centimetres.
        const std::string scene = addintest::readFile(file);
        const std::string up = "transform 1 0 0 0 0 1 0 0 0 0 1 0 0 0 1 1\n";
        size_t placements = 0;
        for (size_t at = 0; (at = scene.find(up, at)) != std::string::npos; at += up.size())
            ++placements;
        EXPECT_EQ(placements, static_cast<size_t>(levels[k] - 1));
    }
    EXPECT_TRUE(stop(""));
    std::printf("stack: %zu bytes at %d level, %zu at %d levels (of %zu): %zu per level\n", used[0],
                levels[0], used[1], levels[1], kHostStack,
                (used[1] - used[0]) / static_cast<size_t>(levels[1] - levels[0]));
}

}  // namespace
