// The live-link target's choice of a renderer, against an in-process query interface:
// reading the instance list, finding the model set, ranking the renderers, and hostile
// or broken XML from the library.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "livelink/RepeatLinkFactory.hpp"

namespace {

using vex::RendererInstance;
using vex::RepeatLinkFactory;

// Answers from fixed texts and records every call. Each returned text is freed by the
// next call, so reading one too late is caught by the address sanitizer.
class FakeQuery final : public vexQuery_api {
  public:
    struct Process {
        bool attachable = true;
        std::optional<std::string> description;
    };

    std::optional<std::string> list;
    std::map<int64_t, Process> processes;
    std::vector<std::string> calls;

    const char* instances() override {
        calls.push_back("instances");
        return handOut(list);
    }
    bool attach(int64_t processId) override {
        calls.push_back("attach " + std::to_string(processId));
        held_.reset();
        const auto it = processes.find(processId);
        attached_ = it != processes.end() && it->second.attachable ? processId : -1;
        return attached_ != -1;
    }
    void detach() override {
        calls.push_back("detach");
        held_.reset();
        attached_ = -1;
    }
    const char* sceneDescription() override {
        calls.push_back("describe");
        const auto it = processes.find(attached_);
        return handOut(it != processes.end() ? it->second.description : std::nullopt);
    }

  private:
    const char* handOut(const std::optional<std::string>& text) {
        held_.reset();
        if (!text) return nullptr;
        held_ = std::make_unique<char[]>(text->size() + 1);
        std::memcpy(held_.get(), text->c_str(), text->size() + 1);
        return held_.get();
    }

    std::unique_ptr<char[]> held_;
    int64_t attached_ = -1;
};

std::string instance(const std::string& version, const std::string& pid, const std::string& port) {
    return "<instance><version_major>" + version + "</version_major><process_id>" + pid +
           "</process_id><livelink_port>" + port + "</livelink_port></instance>";
}
std::string instance(int version, int64_t pid, int port) {
    return instance(std::to_string(version), std::to_string(pid), std::to_string(port));
}
std::string instances(const std::vector<std::string>& entries) {
    std::string text = "<instances>";
    for (const std::string& e : entries) text += e;
    return text + "</instances>";
}

// A scene description showing `shown` (active) and `other` (inactive) model sets.
std::string showing(const std::string& shown, const std::string& other = "Old") {
    return "<raymint><scene><modelsets><modelset name=\"" + other +
           "\" modelset=\"inactive\"/><modelset name=\"" + shown +
           "\" modelset=\"active\"/></modelsets></scene></raymint>";
}
const std::string kEmptyScene = "<raymint><scene><modelsets/><lights/></scene></raymint>";

class ChoiceTest : public ::testing::Test {
  protected:
    ChoiceTest() {
        factory_.setModelSetName("Doc");
        factory_.setVersionRange(7, 20);
    }
    std::vector<RendererInstance> listed(const std::string& text) {
        query_.list = text;
        return factory_.queryInstances(&query_);
    }
    RendererInstance pick(const std::vector<RendererInstance>& list) {
        query_.calls.clear();
        return factory_.pickInstance(list, &query_);
    }
    void process(int64_t pid, std::optional<std::string> description, bool attachable = true) {
        query_.processes[pid] = {attachable, std::move(description)};
    }

    RepeatLinkFactory factory_;
    FakeQuery query_;
};

using Records = std::vector<RendererInstance>;

TEST_F(ChoiceTest, InstanceListsWithoutInstances) {
    query_.list.reset();
    EXPECT_EQ(factory_.queryInstances(&query_), Records{}) << "null list";
    EXPECT_EQ(factory_.queryInstances(nullptr), Records{});
    for (const char* text : {"", "   ", "<instances/>", "<instances></instances>",
                             "<?xml version=\"1.0\"?>", "<!-- nothing -->", "plain text"}) {
        EXPECT_EQ(listed(text), Records{}) << text;
    }
}

TEST_F(ChoiceTest, InstancesInOrderWithinTheInclusiveVersionRange) {
    factory_.setVersionRange(11, 12);
    const std::string text =
        instances({instance(10, 100, 1), instance(11, 101, 2), instance(13, 102, 3),
                   instance(12, 103, 4), instance(11, 104, 0), instance(12, 105, -1)});
    EXPECT_EQ(listed(text), (Records{{11, 101, 2}, {12, 103, 4}, {11, 104, 0}, {12, 105, -1}}));
    EXPECT_EQ(query_.calls, std::vector<std::string>{"instances"});
    factory_.setVersionRange(12, 11);
    EXPECT_EQ(listed(text), Records{}) << "an inverted range holds nothing";
}

TEST_F(ChoiceTest, NumbersAtAnyDepthWhateverTheTags) {
    // The element's own name counts, the first match in document order wins, and the
    // root's children are instances whatever they are called.
    const std::string text =
        "<list>"
        "<renderer><info><process_id>7</process_id><version_major>8</version_major></info>"
        "<version_major>9</version_major><deep><er><livelink_port>50000</livelink_port></er>"
        "</deep></renderer>"
        "<version_major>11<process_id>12</process_id><livelink_port>5</livelink_port>"
        "</version_major>"
        "</list>";
    EXPECT_EQ(listed(text), (Records{{8, 7, 50000}, {11, 12, 5}}));
    // Text below the root is no instance; only the first top-level element is the list.
    EXPECT_EQ(listed("<list>text" + instance(8, 1, 2) + "</list>"), (Records{{8, 1, 2}}));
    EXPECT_EQ(listed(instances({instance(8, 1, 2)}) + instances({instance(9, 1, 2)})),
              (Records{{8, 1, 2}}));
}

TEST_F(ChoiceTest, NumbersAreReadLikeStrtol) {
    EXPECT_EQ(listed(instances({instance(" \t\n 8xyz", "+42 ", "-7")})), (Records{{8, 42, -7}}));
    EXPECT_EQ(listed(instances({instance("8", "abc", "")})), Records{})
        << "a port element without text is no port";
    EXPECT_EQ(listed(instances({instance("8", "abc", "x")})), (Records{{8, 0, 0}}))
        << "no digits read 0";
    EXPECT_EQ(listed(instances({instance("&#56;", "&#x31;&#50;", "5&lt;")})), (Records{{8, 12, 5}}))
        << "character references";
    EXPECT_EQ(listed(instances({instance("8", "<!-- c -->3", "1")})), (Records{{8, 3, 1}}));
    EXPECT_EQ(listed(instances({instance("8", "<x/>3", "1")})), Records{})
        << "an element before the text: no text";
    // A defined entity is not expanded: no entity tricks can grow the text.
    EXPECT_EQ(listed("<!DOCTYPE i [<!ENTITY v \"8\">]>" + instances({instance("&v;", "1", "2")})),
              Records{});
}

TEST_F(ChoiceTest, NumbersOutsideThirtyTwoBitsLeaveTheInstanceOut) {
    factory_.setVersionRange(INT32_MIN, INT32_MAX);
    EXPECT_EQ(listed(instances({
                  instance("8", "2147483647", "1"),
                  instance("8", "-2147483648", "1"),
                  instance("8", "2147483648", "1"),
                  instance("8", "-2147483649", "1"),
                  instance("8", "99999999999999999999999999", "1"),
                  instance("8", "1", "4294967297"),
                  instance("4294967304", "1", "1"),
                  instance("8", "0000000000000000000000000005", "1"),
              })),
              (Records{{8, 2147483647, 1}, {8, -2147483648LL, 1}, {8, 5, 1}}));
}

TEST_F(ChoiceTest, IncompleteOrBrokenInstanceLists) {
    const std::string good = instance(8, 1, 2);
    EXPECT_EQ(listed(instances({"<i><version_major>8</version_major><process_id>1</process_id></i>",
                                "<i><process_id>1</process_id><livelink_port>2</livelink_port></i>",
                                "<i><version_major/><process_id>1</process_id>"
                                "<livelink_port>2</livelink_port></i>",
                                "<i/>", good})),
              (Records{{8, 1, 2}}))
        << "only the complete instance";
    const std::string whole = instances({good, good});
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        EXPECT_EQ(listed(whole.substr(0, cut)), Records{}) << "truncated at " << cut;
    }
    EXPECT_EQ(listed("<instances>" + good + "<i>&bogus;</i></instances>"), (Records{{8, 1, 2}}))
        << "an unknown entity stays text";
    EXPECT_EQ(listed("<instances>" + good + "<i a='1' a='2'/></instances>"), Records{});
    EXPECT_EQ(listed("<instances>" + good + "</instance>"), Records{});

    // Nesting beyond the parser's limit is refused as a whole, within it it is read.
    auto nested = [&](int levels) {
        std::string text = "<instances><i>";
        for (int i = 0; i < levels; ++i) text += "<n>";
        text += good;
        for (int i = 0; i < levels; ++i) text += "</n>";
        return text + "</i></instances>";
    };
    EXPECT_EQ(listed(nested(90)), (Records{{8, 1, 2}}));
    EXPECT_EQ(listed(nested(100000)), Records{});
}

// A tree far deeper than a call stack could walk recursively, built without the parser.
TEST(ElementSearch, DeepTreesAreWalkedWithoutRecursion) {
    tinyxml2::XMLDocument document;
    tinyxml2::XMLElement* top = document.NewElement("top");
    document.InsertEndChild(top);
    tinyxml2::XMLElement* bottom = top;
    constexpr int kLevels = 200000;
    for (int i = 0; i < kLevels; ++i) {
        bottom = bottom->InsertNewChildElement(i == kLevels - 1 ? "process_id" : "n");
        bottom->SetAttribute("name", i == kLevels - 1 ? "Doc" : "x");
    }
    EXPECT_EQ(RepeatLinkFactory::findElementByTag(top, "process_id"), bottom);
    EXPECT_EQ(RepeatLinkFactory::findElementByTag(top, "missing"), nullptr);
    EXPECT_EQ(RepeatLinkFactory::findModelSet(top, "Doc", INT32_MAX), bottom);
    EXPECT_EQ(RepeatLinkFactory::findModelSet(top, "Doc", kLevels), nullptr);
    EXPECT_EQ(RepeatLinkFactory::findModelSet(top, "Doc", kLevels + 1), bottom);
    // tinyxml2 deletes a tree recursively: take it apart from the bottom up.
    while (bottom != top) {
        tinyxml2::XMLElement* parent = bottom->Parent()->ToElement();
        parent->DeleteChild(bottom);
        bottom = parent;
    }
}

TEST(ElementSearch, DepthFirstInDocumentOrderFromTheElementItself) {
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse("<a><b><c id='1'/></b><c id='2'/><d><c id='3'/></d></a>"),
              tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* a = document.FirstChildElement();
    EXPECT_STREQ(RepeatLinkFactory::findElementByTag(a, "c")->Attribute("id"), "1");
    EXPECT_EQ(RepeatLinkFactory::findElementByTag(a, "a"), a);
    const tinyxml2::XMLElement* d = a->FirstChildElement("d");
    EXPECT_STREQ(RepeatLinkFactory::findElementByTag(d, "c")->Attribute("id"), "3");
    EXPECT_EQ(RepeatLinkFactory::findElementByTag(a->FirstChildElement("b"), "d"), nullptr)
        << "the search stays below its element";
    EXPECT_EQ(RepeatLinkFactory::findElementByTag(nullptr, "c"), nullptr);
    EXPECT_EQ(RepeatLinkFactory::findElementByTag(a, nullptr), nullptr);
}

class ModelSetSearch : public ::testing::Test {
  protected:
    const tinyxml2::XMLElement* root(const std::string& text) {
        document_.Clear();
        EXPECT_EQ(document_.Parse(text.c_str()), tinyxml2::XML_SUCCESS) << text;
        return document_.FirstChildElement();
    }
    const char* found(const std::string& text, const std::string& name, int depth) {
        const tinyxml2::XMLElement* e = RepeatLinkFactory::findModelSet(root(text), name, depth);
        return e != nullptr ? e->Attribute("id") : nullptr;
    }
    tinyxml2::XMLDocument document_;
};

TEST_F(ModelSetSearch, NamesMatchByteForByte) {
    const std::string text = "<r><s><m name='Doc' id='1'/><m name='Doc\xc3\xa9' id='2'/></s></r>";
    EXPECT_STREQ(found(text, "Doc", 4), "1");
    EXPECT_STREQ(found(text, "Doc\xc3\xa9", 4), "2");
    EXPECT_EQ(found(text, "doc", 4), nullptr) << "letter case counts";
    EXPECT_EQ(found(text, "DOC", 4), nullptr);
    EXPECT_EQ(found(text, "Do", 4), nullptr) << "a prefix is no match";
    EXPECT_EQ(found(text, "Doc ", 4), nullptr);
    EXPECT_EQ(found(text, std::string("Doc\0x", 5), 4), nullptr) << "length counts";
    EXPECT_STREQ(
        found("<r><m name='a &amp; &lt;b&gt; &quot;c&quot;' id='3'/></r>", "a & <b> \"c\"", 2),
        "3");
    EXPECT_STREQ(found("<r><m name='x' id='1'/><m name='x' id='2'/></r>", "x", 2), "1")
        << "the first match wins";
    EXPECT_STREQ(found("<r name='x' id='0'><m name='x' id='1'/></r>", "x", 1), "0")
        << "the element itself comes first";
}

TEST_F(ModelSetSearch, OnlyActiveOrUnmarkedElementsAreSearched) {
    EXPECT_EQ(found("<r><g modelset='other'><m name='Doc' id='1'/></g></r>", "Doc", 4), nullptr);
    EXPECT_STREQ(found("<r><g modelset='active'><m name='Doc' id='1'/></g></r>", "Doc", 4), "1");
    EXPECT_EQ(found("<r><g modelset=''><m name='Doc' id='1'/></g></r>", "Doc", 4), nullptr);
    EXPECT_EQ(found("<r><g modelset='Active'><m name='Doc' id='1'/></g></r>", "Doc", 4), nullptr);
    EXPECT_EQ(found("<r><m name='Doc' modelset='inactive' id='1'/></r>", "Doc", 4), nullptr)
        << "a matching but inactive element";
    EXPECT_EQ(found("<r modelset='no'><m name='Doc' id='1'/></r>", "Doc", 4), nullptr);
    EXPECT_STREQ(found("<r><g modelset='off'><m name='Doc' id='1'/></g><m name='Doc' id='2'/></r>",
                       "Doc", 4),
                 "2")
        << "the search goes on after a hidden branch";
}

TEST_F(ModelSetSearch, DepthCountsTheStartingElement) {
    // The model set three levels below the root: found with depth 4, not with 3.
    const std::string text = showing("Doc");
    EXPECT_NE(RepeatLinkFactory::findModelSet(root(text), "Doc", 4), nullptr);
    EXPECT_EQ(RepeatLinkFactory::findModelSet(root(text), "Doc", 3), nullptr);
    const std::string two = "<r><s><m name='Doc' id='1'/></s></r>";
    EXPECT_STREQ(found(two, "Doc", 3), "1");
    EXPECT_EQ(found(two, "Doc", 2), nullptr);
    EXPECT_STREQ(found("<r name='Doc' id='0'/>", "Doc", 1), "0");
    EXPECT_EQ(found("<r name='Doc' id='0'/>", "Doc", 0), nullptr);
    EXPECT_EQ(found("<r name='Doc' id='0'/>", "Doc", -5), nullptr);
    EXPECT_EQ(RepeatLinkFactory::findModelSet(nullptr, "Doc", 4), nullptr);
}

TEST_F(ChoiceTest, NothingToChooseFrom) {
    EXPECT_EQ(pick({}), RendererInstance{});
    EXPECT_FALSE(factory_.foundModelSet());
    EXPECT_TRUE(query_.calls.empty());
    EXPECT_EQ(factory_.pickInstance({{11, 1, 2}}, nullptr), RendererInstance{});
}

TEST_F(ChoiceTest, TheRendererShowingTheModelSetWinsOverAHigherEmptyOne) {
    process(1, kEmptyScene);
    process(2, showing("Doc"));
    EXPECT_EQ(pick({{12, 1, 50001}, {11, 2, 50002}}), (RendererInstance{11, 2, 50002}));
    EXPECT_TRUE(factory_.foundModelSet());
    EXPECT_EQ(query_.calls, (std::vector<std::string>{"attach 1", "describe", "detach", "attach 2",
                                                      "describe", "detach"}));
    // The next choice sets the flag again.
    EXPECT_EQ(pick({{12, 1, 50001}}), (RendererInstance{12, 1, 50001}));
    EXPECT_FALSE(factory_.foundModelSet());
}

TEST_F(ChoiceTest, AmongEqualVersionsTheFirstStaysAndAHigherOneReplacesIt) {
    process(1, showing("Doc"));
    process(2, showing("Doc"));
    process(3, showing("Doc"));
    EXPECT_EQ(pick({{11, 1, 5}, {11, 2, 6}}), (RendererInstance{11, 1, 5}));
    EXPECT_EQ(pick({{11, 1, 5}, {11, 2, 6}, {12, 3, 7}}), (RendererInstance{12, 3, 7}));
    process(4, kEmptyScene);
    process(5, kEmptyScene);
    EXPECT_EQ(pick({{11, 4, 5}, {11, 5, 6}}), (RendererInstance{11, 4, 5}));
    EXPECT_FALSE(factory_.foundModelSet());
}

TEST_F(ChoiceTest, UnreachableRenderersAreSkipped) {
    process(1, showing("Doc"), false);
    process(2, showing("Doc"));
    process(3, std::nullopt);
    factory_.setAcceptAnyInstance(true);
    // A negative port is not even asked, a refused attach is not detached, a renderer
    // without a description is detached but not chosen.
    EXPECT_EQ(pick({{12, 2, -1}, {12, 1, 5}, {12, 3, 6}}), RendererInstance{});
    EXPECT_FALSE(factory_.foundModelSet());
    EXPECT_EQ(query_.calls,
              (std::vector<std::string>{"attach 1", "attach 3", "describe", "detach"}));
    EXPECT_EQ(pick({{12, 2, 0}}), (RendererInstance{12, 2, 0})) << "port 0 is asked";
}

TEST_F(ChoiceTest, AnyRendererOnlyWhenAccepted) {
    const std::string busy = showing("Other");
    process(1, busy);
    process(2, kEmptyScene);
    EXPECT_EQ(pick({{12, 1, 5}, {11, 2, 6}}), (RendererInstance{11, 2, 6}));
    EXPECT_EQ(pick({{12, 1, 5}}), RendererInstance{}) << "a busy renderer is not taken";
    factory_.setAcceptAnyInstance(true);
    EXPECT_EQ(pick({{11, 2, 6}, {12, 1, 5}}), (RendererInstance{12, 1, 5}));
    EXPECT_EQ(pick({{12, 1, 5}, {13, 2, 6}}), (RendererInstance{13, 2, 6}))
        << "an empty renderer is one of any";
    EXPECT_FALSE(factory_.foundModelSet());
    process(3, showing("Doc"));
    EXPECT_EQ(pick({{13, 2, 6}, {9, 3, 7}}), (RendererInstance{9, 3, 7}));
    EXPECT_TRUE(factory_.foundModelSet());
}

TEST_F(ChoiceTest, WhatCountsAsAnEmptyScene) {
    struct Case {
        const char* description;
        bool empty;
    } cases[] = {
        {"<r><scene/></r>", true},
        {"<r><scene><a/><b>text</b><!-- c --></scene></r>", true},
        {"<r><scene><a><b/></a></scene></r>", false},
        {"<r><scene/><other><x><y/></x></other></r>", true},
        {"<r>text only</r>", false},
        {"<r/>", false},
        {"<r><scene><a/>", false},
        {"not xml", false},
        {"", false},
    };
    for (const Case& c : cases) {
        process(1, c.description);
        EXPECT_EQ(pick({{11, 1, 5}}), (c.empty ? RendererInstance{11, 1, 5} : RendererInstance{}))
            << c.description;
    }
    // A description that is no XML still answered, so it is one of any.
    factory_.setAcceptAnyInstance(true);
    process(1, "<r><scene><a/>");
    EXPECT_EQ(pick({{11, 1, 5}}), (RendererInstance{11, 1, 5}));
}

TEST_F(ChoiceTest, ModelSetDepthDependsOnTheVersion) {
    factory_.setVersionRange(5, 20);
    process(6, showing("Doc"));
    process(7, showing("Doc"));
    EXPECT_EQ(pick({{6, 6, 5}}), RendererInstance{}) << "three levels before version 7";
    EXPECT_EQ(pick({{7, 7, 5}}), (RendererInstance{7, 7, 5}));
    EXPECT_TRUE(factory_.foundModelSet());
    process(8, "<r><scene><m name='Doc'/></scene></r>");
    EXPECT_EQ(pick({{6, 8, 5}}), (RendererInstance{6, 8, 5}));
    EXPECT_TRUE(factory_.foundModelSet());
}

TEST_F(ChoiceTest, AnEmptyModelSetNameIsNeverShown) {
    factory_.setModelSetName("");
    process(1, "<r><scene><g><m name=''/></g></scene></r>");
    EXPECT_EQ(pick({{11, 1, 5}}), RendererInstance{});
    EXPECT_FALSE(factory_.foundModelSet());
}

// Thousands of random mutations of valid lists and descriptions: nothing may crash or
// read out of bounds, listed instances stay in the range, and a choice is always one of
// the listed instances or none.
TEST_F(ChoiceTest, MutatedInputsNeverBreakTheChoice) {
    std::mt19937 random(20240611);
    const std::string list = instances({instance(11, 1, 50001), instance(12, 2, 0),
                                        "<x a='1'><y>" + instance(7, 3, -4) + "</y></x>",
                                        instance(20, 2147483647, 65535)});
    const std::string descriptions[] = {showing("Doc"), kEmptyScene,
                                        "<r><scene><g modelset='active'><m name='Doc'/></g>"
                                        "<m name='Doc' modelset='x'/></scene></r>"};
    const char pieces[] = "<>/&;=\"' \t\n!?-[]#x0123456789abcdefghijklmnopqrstuvwxyz";
    auto mutate = [&](std::string text) {
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = random() % text.size();
            switch (random() % 6) {
                case 0:
                    text[at] = pieces[random() % (sizeof pieces - 1)];
                    break;
                case 1:
                    text.insert(at, 1, pieces[random() % (sizeof pieces - 1)]);
                    break;
                case 2:
                    text.erase(at, 1 + random() % 8);
                    break;
                case 3:
                    text.resize(at);
                    break;
                case 4:
                    text.insert(at, text.substr(random() % text.size(), random() % 40));
                    break;
                default:
                    text[at] = static_cast<char>(1 + random() % 255);
                    break;
            }
        }
        return text;
    };
    factory_.setVersionRange(7, 20);
    for (int round = 0; round < 6000; ++round) {
        factory_.setAcceptAnyInstance(round % 2 == 0);
        const Records got = listed(mutate(list));
        for (const RendererInstance& r : got) {
            ASSERT_GE(r.versionMajor, 7);
            ASSERT_LE(r.versionMajor, 20);
        }
        for (int64_t pid : {1, 2, 3, 2147483647}) {
            process(pid, mutate(descriptions[random() % 3]), random() % 5 != 0);
        }
        const Records candidates = got.empty() ? Records{{11, 1, 5}, {12, 2, 6}} : got;
        const RendererInstance chosen = pick(candidates);
        bool listedOne = chosen == RendererInstance{};
        for (const RendererInstance& r : candidates) listedOne = listedOne || chosen == r;
        ASSERT_TRUE(listedOne) << "round " << round;
        ASSERT_TRUE(!factory_.foundModelSet() || chosen.versionMajor > 0);
    }
}

}  // namespace
