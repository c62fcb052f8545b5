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

#include "LiveLinkTestSupport.hpp"
#include "livelink/RepeatLinkFactory.hpp"

namespace {

using vex::RendererInstance;
using vex::RepeatLinkFactory;
using Records = std::vector<RendererInstance>;
using Journal = std::vector<std::string>;
using Texts = std::initializer_list<std::string>;

// Answers from fixed texts and records every call. Each returned text is freed by the
// next call, so reading one too late is caught by the address sanitizer.
class FakeQuery final : public vexQuery_api {
  public:
    std::optional<std::string> list;
    std::map<int64_t, std::pair<bool, std::optional<std::string>>> processes;  // attachable, text
    Journal calls;

    const char* instances() override { return handOut("instances", list); }
    bool attach(int64_t processId) override {
        handOut("attach " + std::to_string(processId), std::nullopt);
        const auto it = processes.find(processId);
        attached_ = it != processes.end() && it->second.first ? processId : -1;
        return attached_ != -1;
    }
    void detach() override {
        handOut("detach", std::nullopt);
        attached_ = -1;
    }
    const char* sceneDescription() override {
        const auto it = processes.find(attached_);
        return handOut("describe", it != processes.end() ? it->second.second : std::nullopt);
    }

  private:
    // Notes the call, frees the text handed out before and hands out a copy of `text`.
    const char* handOut(const std::string& call, const std::optional<std::string>& text) {
        calls.push_back(call);
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
// A list of one instance from its three texts.
std::string one(const std::string& version, const std::string& pid, const std::string& port) {
    return instances({instance(version, pid, port)});
}

// `good` within `levels` elements below an instance.
std::string nested(int levels, const std::string& good = instance(8, 1, 2)) {
    std::string open, close;
    for (int i = 0; i < levels; ++i) open += "<n>", close += "</n>";
    return "<instances><i>" + open + good + close + "</i></instances>";
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
    Records listed(const std::string& text) {
        query_.list = text;
        return factory_.queryInstances(&query_);
    }
    RendererInstance pick(const Records& list) {
        query_.calls.clear();
        return factory_.pickInstance(list, &query_);
    }
    void process(int64_t pid, std::optional<std::string> description, bool attachable = true) {
        query_.processes[pid] = {attachable, std::move(description)};
    }

    RepeatLinkFactory factory_;
    FakeQuery query_;
};

TEST_F(ChoiceTest, InstancesInOrderWithinTheInclusiveVersionRange) {
    factory_.setVersionRange(11, 12);
    const std::string text =
        instances({instance(10, 100, 1), instance(11, 101, 2), instance(13, 102, 3),
                   instance(12, 103, 4), instance(11, 104, 0), instance(12, 105, -1)});
    EXPECT_EQ(listed(text), (Records{{11, 101, 2}, {12, 103, 4}, {11, 104, 0}, {12, 105, -1}}));
    EXPECT_EQ(query_.calls, Journal{"instances"});
    factory_.setVersionRange(12, 11);
    EXPECT_EQ(listed(text), Records{}) << "an inverted range holds nothing";
    query_.list.reset();
    EXPECT_EQ(factory_.queryInstances(&query_), Records{}) << "null list";
    EXPECT_EQ(factory_.queryInstances(nullptr), Records{});
}

// Numbers are read like strtol at any depth below an instance, whatever the tags; an
// instance needs all three, each within 32 bits.
TEST_F(ChoiceTest, InstanceListTexts) {
    factory_.setVersionRange(INT32_MIN, INT32_MAX);
    const std::string good = instance(8, 1, 2);
    const struct {
        std::string text;
        Records listed;
    } cases[] = {
        // The element's own name counts, the first match in document order wins, and the
        // root's children are instances whatever they are called.
        {"<list><renderer><info><process_id>7</process_id><version_major>8</version_major></info>"
         "<version_major>9</version_major><deep><er><livelink_port>50000</livelink_port></er>"
         "</deep></renderer><version_major>11<process_id>12</process_id>"
         "<livelink_port>5</livelink_port></version_major></list>",
         {{8, 7, 50000}, {11, 12, 5}}},
        // Text below the root is no instance; only the first top-level element is the list.
        {"<list>text" + good + "</list>", {{8, 1, 2}}},
        {instances({good}) + instances({instance(9, 1, 2)}), {{8, 1, 2}}},
        {one(" \t\n 8xyz", "+42 ", "-7"), {{8, 42, -7}}},
        {one("8", "abc", "x"), {{8, 0, 0}}},                   // no digits read 0
        {one("&#56;", "&#x31;&#50;", "5&lt;"), {{8, 12, 5}}},  // character references
        {one("8", "<!-- c -->3", "1"), {{8, 3, 1}}},
        // A defined entity is not expanded (no digits: 0), so no entity tricks can grow the text.
        {"<!DOCTYPE i [<!ENTITY v \"8\">]>" + one("&v;", "1", "2"), {{0, 1, 2}}},
        {one("8", "2147483647", "1"), {{8, 2147483647, 1}}},
        {one("8", "-2147483648", "1"), {{8, -2147483648LL, 1}}},
        {one("8", "0000000000000000000000000005", "1"), {{8, 5, 1}}},
        // Only the complete instance.
        {instances({"<i><version_major>8</version_major><process_id>1</process_id></i>",
                    "<i><process_id>1</process_id><livelink_port>2</livelink_port></i>",
                    "<i><version_major/><process_id>1</process_id><livelink_port>2</livelink_port>"
                    "</i>",
                    "<i/>", good}),
         {{8, 1, 2}}},
        {"<instances>" + good + "<i>&bogus;</i></instances>", {{8, 1, 2}}},  // stays text
        {nested(90), {{8, 1, 2}}},  // within the parser's nesting limit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(listed(c.text), c.listed);
    }
    // No instance: none listed, a port element without text, an element before the text,
    // numbers outside 32 bits, broken XML, nesting beyond the parser's limit, every cut.
    for (const std::string& text :
         Texts{"", "   ", "<instances/>", "<instances></instances>", "<?xml version=\"1.0\"?>",
               "<!-- nothing -->", "plain text", one("8", "abc", ""), one("8", "<x/>3", "1"),
               one("8", "2147483648", "1"), one("8", "-2147483649", "1"),
               one("8", "99999999999999999999999999", "1"), one("8", "1", "4294967297"),
               one("4294967304", "1", "1"), "<instances>" + good + "<i a='1' a='2'/></instances>",
               "<instances>" + good + "</instance>", nested(100000)}) {
        EXPECT_EQ(listed(text), Records{}) << text;
    }
    const std::string whole = instances({good, good});
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        EXPECT_EQ(listed(whole.substr(0, cut)), Records{}) << "cut at " << cut;
    }
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
    EXPECT_EQ(RepeatLinkFactory::findElementByTag(nullptr, "n"), nullptr);
    EXPECT_EQ(RepeatLinkFactory::findElementByTag(top, nullptr), nullptr);
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

TEST(ElementSearch, ModelSets) {
    // The id of the model set found, "none" when none is.
    auto found = [](const std::string& text, const std::string& name, int depth) {
        tinyxml2::XMLDocument document;
        EXPECT_EQ(document.Parse(text.c_str()), tinyxml2::XML_SUCCESS) << text;
        const auto* e = RepeatLinkFactory::findModelSet(document.FirstChildElement(), name, depth);
        return std::string(e == nullptr ? "none" : e->Attribute("id"));
    };
    // Names match byte for byte: letter case and length count, a prefix is no match.
    const std::string two = "<r><s><m name='Doc' id='1'/><m name='Doc\xc3\xa9' id='2'/></s></r>";
    EXPECT_EQ(found(two, "Doc", 4), "1");
    EXPECT_EQ(found(two, "Doc\xc3\xa9", 4), "2");
    for (const std::string& name : Texts{"doc", "DOC", "Do", "Doc ", std::string("Doc\0x", 5)}) {
        EXPECT_EQ(found(two, name, 4), "none") << name;
    }
    EXPECT_EQ(
        found("<r><m name='a &amp; &lt;b&gt; &quot;c&quot;' id='3'/></r>", "a & <b> \"c\"", 2),
        "3");
    EXPECT_EQ(found("<r><m name='x' id='1'/><m name='x' id='2'/></r>", "x", 2), "1")
        << "the first match wins";
    EXPECT_EQ(found("<r name='x' id='0'><m name='x' id='1'/></r>", "x", 1), "0")
        << "the element itself comes first";
    // Only active or unmarked elements are searched, and the search goes on after a
    // hidden branch.
    EXPECT_EQ(found("<r><g modelset='active'><m name='Doc' id='1'/></g></r>", "Doc", 4), "1");
    EXPECT_EQ(found("<r><g modelset='off'><m name='Doc' id='1'/></g><m name='Doc' id='2'/></r>",
                    "Doc", 4),
              "2");
    for (const char* hidden : {"<r><g modelset='other'><m name='Doc' id='1'/></g></r>",
                               "<r><g modelset=''><m name='Doc' id='1'/></g></r>",
                               "<r><g modelset='Active'><m name='Doc' id='1'/></g></r>",
                               "<r><m name='Doc' modelset='inactive' id='1'/></r>",
                               "<r modelset='no'><m name='Doc' id='1'/></r>"}) {
        EXPECT_EQ(found(hidden, "Doc", 4), "none") << hidden;
    }
    // The depth counts the starting element: a model set three levels below the root is
    // found with depth 4, not with 3.
    const std::string shown =
        "<raymint><scene><modelsets><modelset name='Old' modelset='inactive'/>"
        "<modelset name='Doc' modelset='active' id='4'/></modelsets></scene>"
        "</raymint>";
    EXPECT_EQ(found(shown, "Doc", 4), "4");
    EXPECT_EQ(found(shown, "Doc", 3), "none");
    EXPECT_EQ(found("<r><s><m name='Doc' id='1'/></s></r>", "Doc", 3), "1");
    EXPECT_EQ(found("<r><s><m name='Doc' id='1'/></s></r>", "Doc", 2), "none");
    EXPECT_EQ(found("<r name='Doc' id='0'/>", "Doc", 1), "0");
    EXPECT_EQ(found("<r name='Doc' id='0'/>", "Doc", 0), "none");
    EXPECT_EQ(found("<r name='Doc' id='0'/>", "Doc", -5), "none");
    EXPECT_EQ(RepeatLinkFactory::findModelSet(nullptr, "Doc", 4), nullptr);
}

// The renderer showing the model set wins, then (when accepted) any renderer, then one
// with an empty scene; the higher version wins and the first of equal ones stays.
TEST_F(ChoiceTest, Ranking) {
    process(1, kEmptyScene);
    process(2, showing("Doc"));
    process(3, showing("Doc"));
    process(4, kEmptyScene);
    process(5, showing("Other"));  // busy with another document
    process(6, showing("Doc"), false);
    process(7, std::nullopt);
    process(8, "<r><scene><m name='Doc'/></scene></r>");
    process(9, "<r><scene><a/>");
    process(10, showing("Doc"));
    const struct {
        const char* why;
        bool any;
        Records candidates;
        RendererInstance chosen;
        bool found;
    } cases[] = {
        {"nothing to choose from", false, {}, {}, false},
        {"shown over a higher empty one",
         false,
         {{12, 1, 50001}, {11, 2, 50002}},
         {11, 2, 50002},
         true},
        {"the flag is set anew", false, {{12, 1, 50001}}, {12, 1, 50001}, false},
        {"the first of equal versions", false, {{11, 2, 5}, {11, 3, 6}}, {11, 2, 5}, true},
        {"a higher one replaces it",
         false,
         {{11, 2, 5}, {11, 3, 6}, {12, 10, 7}},
         {12, 10, 7},
         true},
        {"the first of equal empty ones", false, {{11, 1, 5}, {11, 4, 6}}, {11, 1, 5}, false},
        {"unreachable ones", true, {{12, 2, -1}, {12, 6, 5}, {12, 7, 6}}, {}, false},
        {"port 0 is asked", true, {{12, 2, 0}}, {12, 2, 0}, true},
        {"an empty one over a busy one", false, {{12, 5, 5}, {11, 1, 6}}, {11, 1, 6}, false},
        {"a busy one is not taken", false, {{12, 5, 5}}, {}, false},
        {"any one when accepted", true, {{11, 1, 6}, {12, 5, 5}}, {12, 5, 5}, false},
        {"an empty one is one of any", true, {{12, 5, 5}, {13, 1, 6}}, {13, 1, 6}, false},
        {"the model set over any", true, {{13, 1, 6}, {9, 2, 7}}, {9, 2, 7}, true},
        {"a description that is no XML is one of any", true, {{11, 9, 5}}, {11, 9, 5}, false},
        {"three levels before version 7", false, {{6, 2, 5}}, {}, false},
        {"four from version 7", false, {{7, 2, 5}}, {7, 2, 5}, true},
        {"two levels before version 7", false, {{6, 8, 5}}, {6, 8, 5}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        factory_.setAcceptAnyInstance(c.any);
        EXPECT_EQ(pick(c.candidates), c.chosen);
        EXPECT_EQ(factory_.foundModelSet(), c.found);
    }
    // Each renderer is attached, described and detached in turn; a negative port is not
    // even asked, a refused attach is not detached, one without a description is detached.
    pick({{12, 1, 50001}, {11, 2, 50002}});
    EXPECT_EQ(query_.calls,
              (Journal{"attach 1", "describe", "detach", "attach 2", "describe", "detach"}));
    EXPECT_EQ(factory_.pickInstance({{11, 1, 2}}, nullptr), RendererInstance{});
    EXPECT_FALSE(factory_.foundModelSet()) << "no query: the flag is cleared all the same";
    pick({{12, 2, -1}, {12, 6, 5}, {12, 7, 6}});
    EXPECT_EQ(query_.calls, (Journal{"attach 6", "attach 7", "describe", "detach"}));
    pick({});
    EXPECT_EQ(query_.calls, Journal{});
    factory_.setModelSetName("");
    process(11, "<r><scene><g><m name=''/></g></scene></r>");
    EXPECT_EQ(pick({{11, 11, 5}}), RendererInstance{}) << "an empty name is never shown";
    EXPECT_FALSE(factory_.foundModelSet());
}

// The scene (the root's first element) is empty when none of its elements has elements of
// its own; a description that is no XML, or holds no scene, is not empty.
TEST_F(ChoiceTest, WhatCountsAsAnEmptyScene) {
    for (const char* empty : {"<r><scene/></r>", "<r><scene><a/><b>text</b><!-- c --></scene></r>",
                              "<r><scene/><other><x><y/></x></other></r>"}) {
        process(1, empty);
        EXPECT_EQ(pick({{11, 1, 5}}), (RendererInstance{11, 1, 5})) << empty;
    }
    for (const char* busy : {"<r><scene><a><b/></a></scene></r>", "<r>text only</r>", "<r/>",
                             "<r><scene><a/>", "not xml", ""}) {
        process(1, busy);
        EXPECT_EQ(pick({{11, 1, 5}}), RendererInstance{}) << busy;
    }
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
    const std::string_view pieces = "<>/&;=\"' \t\n!?-[]#x0123456789abcdefghijklmnopqrstuvwxyz";
    for (int round = 0; round < 6000; ++round) {
        factory_.setAcceptAnyInstance(round % 2 == 0);
        const Records got = listed(vex::test::mutated(list, random, pieces));
        for (const RendererInstance& r : got) {
            ASSERT_GE(r.versionMajor, 7);
            ASSERT_LE(r.versionMajor, 20);
        }
        for (int64_t pid : {1, 2, 3, 2147483647}) {
            process(pid, vex::test::mutated(descriptions[random() % 3], random, pieces),
                    random() % 5 != 0);
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
