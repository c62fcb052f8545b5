// The change test of component states and the version-suffix rule of document names.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "addin/ComponentState.hpp"

namespace {

// Every field counts, both ways; a state holding a number that is not a number differs even
// from itself.
TEST(ComponentState, EveryFieldCountsAndNotANumberAlwaysDiffers) {
    ComponentState base;
    base.visible = true;
    base.measureA = 12.5;
    base.measureB = 3.25;
    base.bodySignature = "3xA 1xB ";
    base.bodyVisibility = {{"Body1", true}, {"Body2", false}};
    base.bodyFirstVertex = {{"Body1", {1, 2, 3}}};
    base.childComponents = {"Bolt", "Nut"};
    using Change = std::function<void(ComponentState&)>;
    const std::pair<bool, Change> changes[] = {
        {false, [](ComponentState&) {}},
        {false, [](ComponentState& s) { s.measureA = 12.6; }},
        {false, [](ComponentState& s) { s.measureB = 0; }},
        {false, [](ComponentState& s) { s.bodySignature = "3xA 1xC "; }},
        {false, [](ComponentState& s) { s.visible = false; }},
        {false, [](ComponentState& s) { s.bodyVisibility["Body2"] = true; }},
        {false, [](ComponentState& s) { s.bodyVisibility.erase("Body2"); }},
        {false, [](ComponentState& s) { s.bodyFirstVertex["Body1"][2] = 3.0001f; }},
        {false, [](ComponentState& s) { s.bodyFirstVertex.clear(); }},
        {false,
         [](ComponentState& s) {
             s.bodyFirstVertex = {{"Body9", {1, 2, 3}}};
         }},
        {false, [](ComponentState& s) { s.childComponents.insert("Washer"); }},
        {true, [](ComponentState& s) { s.measureA = std::nan(""); }},
        {true, [](ComponentState& s) { s.measureB = std::nan(""); }},
        {true, [](ComponentState& s) { s.bodyFirstVertex["Body1"][0] = std::nanf(""); }},
    };
    for (size_t i = 0; i < std::size(changes); ++i) {
        ComponentState changed = base;
        changes[i].second(changed);
        EXPECT_EQ(statesDiffer(changed, base), i != 0) << i;
        EXPECT_EQ(statesDiffer(base, changed), i != 0) << i;
        EXPECT_EQ(statesDiffer(changed, changed), changes[i].first) << i;
    }
}

TEST(ComponentState, VersionSuffix) {
    // A space, any character, then digits only; anything else is kept.
    for (const auto& [name, stripped] : {std::pair{"Gearbox v12", "Gearbox"},
                                         {"Gear box v3", "Gear box"},
                                         {"Gear 12", "Gear"},
                                         {" v1", ""},
                                         {"Gear 1", "Gear 1"},
                                         {"Gearbox v", "Gearbox v"},
                                         {"Gearbox ", "Gearbox "},
                                         {"Gearbox", "Gearbox"},
                                         {"Gearbox vx2", "Gearbox vx2"},
                                         {"Gearbox v2b", "Gearbox v2b"},
                                         {"", ""}})
        EXPECT_EQ(stripVersionSuffix(name), stripped) << name;
}

}  // namespace
