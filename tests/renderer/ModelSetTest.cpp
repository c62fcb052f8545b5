// Model sets without processes: how a stream becomes a model set, how an update fills the
// unchanged components, the files and log lines that record it, and the scene description.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include "RendererTestSupport.hpp"
#include "renderer/ModelSets.hpp"
#include "support/WriterHarness.hpp"

namespace vex::test {
namespace {

using raymint::ModelSetStore;
using raymint::PreparedTransfer;
using raymint::TransferCounts;
using Markers = std::map<std::string, std::vector<float>>;

Document streamOf(const std::shared_ptr<VexGroup>& root) {
    MemoryStream memory;
    {
        vexScene_api_file writer(memory.stream(), true);
        writeTransfer(&writer, *root);
    }
    return parseString(memory.text(), "<stream>");
}

std::string modelSetText(const raymint::ModelSet& set) {
    std::string text;
    SceneTextWriter writer(text);
    raymint::writeModelSet(set, writer);
    return text;
}

Markers contentOf(const ModelSetStore& store, const std::string& name) {
    const raymint::ModelSet* set = store.find(name);
    if (set == nullptr) return {};
    return componentContent(parseString(modelSetText(*set), "<model set>"));
}

TransferCounts applyStream(ModelSetStore& store, const std::shared_ptr<VexGroup>& root) {
    PreparedTransfer transfer = store.prepare(streamOf(root));
    const TransferCounts counts = transfer.counts;
    store.commit(std::move(transfer));
    return counts;
}

// Doc -> Cart (root component) -> Axle -> Wheel, and Frame beside Axle.
std::shared_ptr<VexGroup> cart(bool changed, float wheelMarker = 1, double axleX = -200) {
    auto wheel = component(
        "Wheel", changed, {},
        changed ? std::vector{body("Tyre", wheelMarker)} : std::vector<std::shared_ptr<VexGroup>>{},
        0);
    auto axle = component(
        "Axle", changed, {wheel},
        changed ? std::vector{body("Rod", 2)} : std::vector<std::shared_ptr<VexGroup>>{}, axleX);
    auto frame = component("Frame", changed, {},
                           changed ? std::vector{body("Beam", 3), body("Plate", 4)}
                                   : std::vector<std::shared_ptr<VexGroup>>{},
                           0);
    auto root = component(
        "Cart", changed, {axle, frame},
        changed ? std::vector{body("Base", 5)} : std::vector<std::shared_ptr<VexGroup>>{});
    return design("Doc", root);
}

TEST(ModelSets, FirstTransferIsTakenWhole) {
    ModelSetStore store;
    const TransferCounts counts = applyStream(store, cart(true));
    EXPECT_EQ(counts.changed, 4u);
    EXPECT_EQ(counts.kept, 0u);
    EXPECT_EQ(counts.missing, 0u);
    EXPECT_EQ(store.active(), "Doc");
    const Markers expected = {{"/Doc/Cart", {5}},
                              {"/Doc/Cart/Axle", {2}},
                              {"/Doc/Cart/Axle/Wheel", {1}},
                              {"/Doc/Cart/Frame", {3, 4}}};
    EXPECT_EQ(contentOf(store, "Doc"), expected);
}

TEST(ModelSets, UpdateKeepsUnchangedContentAndTakesNewPlacements) {
    ModelSetStore store;
    applyStream(store, cart(true));
    // Only the wheel changed; the axle moved.
    auto wheel = component("Wheel", true, {}, {body("Tyre", 11)}, 0);
    auto axle = component("Axle", false, {wheel}, {}, 75);
    auto frame = component("Frame", false, {}, {}, 0);
    auto update = design("Doc", component("Cart", false, {axle, frame}));
    const TransferCounts counts = applyStream(store, update);
    EXPECT_EQ(counts.changed, 1u);
    EXPECT_EQ(counts.kept, 3u);
    EXPECT_EQ(counts.missing, 0u);
    const Markers expected = {{"/Doc/Cart", {5}},
                              {"/Doc/Cart/Axle", {2}},
                              {"/Doc/Cart/Axle/Wheel", {11}},
                              {"/Doc/Cart/Frame", {3, 4}}};
    EXPECT_EQ(contentOf(store, "Doc"), expected);

    // The placement is the new one: the axle's transform holds 75.
    const Document file = parseString(modelSetText(*store.find("Doc")));
    const Block* doc = childGroup(file.root, "Doc");
    ASSERT_NE(doc, nullptr);
    const Block* cartGroup = childGroup(*doc, "Cart");
    ASSERT_NE(cartGroup, nullptr);
    const Block* axleGroup = childGroup(*cartGroup, "Axle");
    ASSERT_NE(axleGroup, nullptr);
    const Statement& transform = axleGroup->children.at(1).statement();
    ASSERT_EQ(transform.name, "transform");
    EXPECT_EQ(transform.values.at(12).number(), 75);
}

TEST(ModelSets, MovedAndReturningComponentsAreFilledByName) {
    ModelSetStore store;
    applyStream(store, cart(true));
    // The wheel moves from the axle to the frame; the axle (same place) keeps its rod.
    auto wheel = component("Wheel", false, {}, {}, 0);
    auto axle = component("Axle", false, {}, {}, 0);
    auto frame = component("Frame", false, {wheel}, {}, 0);
    TransferCounts counts = applyStream(
        store, design("Doc", component("Cart", true, {axle, frame}, {body("Base", 50)})));
    EXPECT_EQ(counts.changed, 1u);
    EXPECT_EQ(counts.kept, 3u);
    Markers expected = {{"/Doc/Cart", {50}},
                        {"/Doc/Cart/Axle", {2}},
                        {"/Doc/Cart/Frame", {3, 4}},
                        {"/Doc/Cart/Frame/Wheel", {1}}};
    EXPECT_EQ(contentOf(store, "Doc"), expected);

    // The wheel is dropped, then comes back unchanged: its last content is still known.
    applyStream(store, design("Doc", component("Cart", false, {component("Axle", false)})));
    counts = applyStream(
        store, design("Doc", component("Cart", false,
                                       {component("Axle", false), component("Wheel", false)})));
    EXPECT_EQ(counts.kept, 3u);
    EXPECT_EQ(counts.missing, 0u);
    expected = {{"/Doc/Cart", {50}}, {"/Doc/Cart/Axle", {2}}, {"/Doc/Cart/Wheel", {1}}};
    EXPECT_EQ(contentOf(store, "Doc"), expected);

    // Another component now at the axle's place does not get the axle's content.
    counts =
        applyStream(store, design("Doc", component("Cart", false, {component("Spare", false)})));
    EXPECT_EQ(counts.kept, 1u);
    EXPECT_EQ(counts.missing, 1u);
    expected = {{"/Doc/Cart", {50}}, {"/Doc/Cart/Spare", {}}};
    EXPECT_EQ(contentOf(store, "Doc"), expected);
}

TEST(ModelSets, ChangedComponentWithoutBodiesBecomesEmpty) {
    ModelSetStore store;
    applyStream(store, cart(true));
    const TransferCounts counts =
        applyStream(store, design("Doc", component("Cart", false, {component("Axle", true)})));
    EXPECT_EQ(counts.changed, 1u);
    EXPECT_EQ(counts.kept, 1u);
    const Markers expected = {{"/Doc/Cart", {5}}, {"/Doc/Cart/Axle", {}}};
    EXPECT_EQ(contentOf(store, "Doc"), expected);
}

TEST(ModelSets, UnknownNameIsTakenWholeAndSetsStayApart) {
    ModelSetStore store;
    applyStream(store, cart(true));
    const TransferCounts counts = applyStream(store, design("Other", component("Cart", false)));
    EXPECT_EQ(counts.kept, 0u);
    EXPECT_EQ(counts.missing, 1u);
    EXPECT_EQ(store.active(), "Other");
    EXPECT_EQ(store.size(), 2u);
    EXPECT_EQ(contentOf(store, "Other"), (Markers{{"/Other/Cart", {}}}));
    EXPECT_EQ(contentOf(store, "Doc").at("/Doc/Cart/Frame"), (std::vector<float>{3, 4}));
}

TEST(ModelSets, StreamsWithoutExactlyOneRootGroupAreRefused) {
    ModelSetStore store;
    EXPECT_THROW(store.prepare(parseString("version 9\n")), std::runtime_error);
    EXPECT_THROW(store.prepare(parseString("group \"a\" {\n}\ngroup \"b\" {\n}\n")),
                 std::runtime_error);
    EXPECT_EQ(store.size(), 0u);
}

TEST(ModelSets, ModelSetFileHasTheVersionSettingsAndTheRootGroup) {
    ModelSetStore store;
    applyStream(store, design("Doc", component("Cart", true, {}, {body("Base", 5)})));
    const std::string text = modelSetText(*store.find("Doc"));
    EXPECT_EQ(text.rfind("// RayMint model set\nversion 9\nload \"vexrtopt.so\" {\n", 0), 0u)
        << text;
    EXPECT_NE(text.find("\ngroup \"Doc\" {\n group \"Cart\" {\n  flags 32769\n  group \"Base\" "
                        "{\n   flags 1024\n"),
              std::string::npos)
        << text;
    // The import options and the camera the transfer sent, as it sent them.
    const Document doc = parseString(text);
    std::string top;
    for (const Node& n : doc.root.children)
        top +=
            (n.isBlock() ? n.block().keyword + " " + n.block().name() : n.statement().name) + ";";
    EXPECT_EQ(top, "version;load vexrtopt.so;camera Active Camera;group Doc;");
    const Block& camera = doc.root.children[2].block();
    EXPECT_EQ(camera.children.size(), 6u);
    EXPECT_EQ(camera.children[3].statement().name, "position");
    EXPECT_EQ(camera.children[3].statement().values.at(2).number(), 30);
}

TEST(ModelSets, DescriptionListsSetsWithTheActiveOne) {
    ModelSetStore store;
    EXPECT_EQ(store.describe(), "<raymint><scene><modelsets/></scene></raymint>");
    applyStream(store, design("B", component("Cart", true)));
    applyStream(store, design("A", component("Cart", true)));
    EXPECT_EQ(store.describe(),
              "<raymint><scene><modelsets><modelset name=\"A\" modelset=\"active\"/>"
              "<modelset name=\"B\" modelset=\"inactive\"/></modelsets></scene></raymint>");
}

TEST(ModelSets, DescriptionNamesSurviveAnXmlReader) {
    const std::string hostile = "R&D <\"Cart\"> 'v2'\tline\nend \xc3\xbc";
    ModelSetStore store;
    applyStream(store, design(hostile, component("Cart", true)));
    tinyxml2::XMLDocument xml;
    ASSERT_EQ(xml.Parse(store.describe().c_str()), tinyxml2::XML_SUCCESS);
    const auto* set = xml.FirstChildElement("raymint")
                          ->FirstChildElement("scene")
                          ->FirstChildElement("modelsets")
                          ->FirstChildElement("modelset");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(std::string(set->Attribute("name")), hostile);
    EXPECT_STREQ(set->Attribute("modelset"), "active");
    EXPECT_EQ(raymint::xmlAttributeText("a&b<c>\"'\x01"), "a&amp;b&lt;c&gt;&quot;&apos;&#1;");
}

TEST(ModelSets, FileNamesAndLogLines) {
    EXPECT_EQ(raymint::modelSetFileName("Sample Cart (v2)"), "Sample Cart (v2).rmq");
    // Different names never share a file.
    const std::string slash = raymint::modelSetFileName("a/b");
    const std::string underscore = raymint::modelSetFileName("a_b");
    EXPECT_EQ(underscore, "a_b.rmq");
    EXPECT_EQ(slash.substr(0, 4), "a_b-");
    EXPECT_EQ(slash.size(), std::string("a_b-12345678.rmq").size());
    EXPECT_NE(raymint::modelSetFileName(".."), "...rmq");
    EXPECT_EQ(raymint::modelSetFileName("..").find('/'), std::string::npos);
    EXPECT_NE(raymint::modelSetFileName("..")[0], '.');
    EXPECT_EQ(raymint::modelSetFileName("").size(), std::string("-12345678.rmq").size());
    EXPECT_LE(raymint::modelSetFileName(std::string(5000, 'x')).size(), 140u);

    TransferCounts counts;
    counts.changed = 3;
    counts.kept = 5;
    EXPECT_EQ(raymint::modelSetFileName("a/b", ".png"), slash.substr(0, 12) + ".png");
    EXPECT_EQ(raymint::transferLine("Doc", 123456, counts, "Doc.png"),
              "modelset \"Doc\" bytes 123456 changed 3 kept 5 status ok picture \"Doc.png\"");
    EXPECT_EQ(raymint::transferLine("a\"b\\c\nd", 1, {}, std::nullopt),
              "modelset \"a\\\"b\\\\c\\x0ad\" bytes 1 changed 0 kept 0 status ok picture -");
    EXPECT_EQ(raymint::failedTransferLine(std::nullopt, 10, "no root"),
              "modelset - bytes 10 changed 0 kept 0 status failed reason \"no root\"");
    EXPECT_EQ(raymint::failedTransferLine(std::string("Doc"), 0, "x"),
              "modelset \"Doc\" bytes 0 changed 0 kept 0 status failed reason \"x\"");
}

}  // namespace
}  // namespace vex::test
