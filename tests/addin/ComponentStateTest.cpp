// The change test, the version-suffix rule and the unit table.
#include <gtest/gtest.h>

#include <cmath>

#include "addin/ComponentState.hpp"

namespace {

ComponentState sample() {
    ComponentState s;
    s.visible = true;
    s.measureA = 12.5;
    s.measureB = 3.25;
    s.bodySignature = "3xA 1xB ";
    s.bodyVisibility = {{"Body1", true}, {"Body2", false}};
    s.bodyFirstVertex = {{"Body1", {1, 2, 3}}};
    s.childComponents = {"Bolt", "Nut"};
    return s;
}

TEST(ComponentState, EqualStatesDoNotDiffer) {
    EXPECT_FALSE(statesDiffer(sample(), sample()));
}

TEST(ComponentState, EveryFieldCounts) {
    const ComponentState base = sample();
    std::vector<ComponentState> changed(9, base);
    changed[0].measureA = 12.6;
    changed[1].measureB = 0;
    changed[2].bodySignature = "3xA 1xC ";
    changed[3].visible = false;
    changed[4].bodyVisibility["Body2"] = true;
    changed[5].bodyVisibility.erase("Body2");
    changed[6].bodyFirstVertex["Body1"][2] = 3.0001f;
    changed[7].bodyFirstVertex.clear();
    changed[8].childComponents.insert("Washer");
    for (size_t i = 0; i < changed.size(); ++i) {
        EXPECT_TRUE(statesDiffer(changed[i], base)) << i;
        EXPECT_TRUE(statesDiffer(base, changed[i])) << i;
    }
    ComponentState renamed = base;
    renamed.bodyFirstVertex = {{"Body9", {1, 2, 3}}};
    EXPECT_TRUE(statesDiffer(renamed, base));
}

TEST(ComponentState, NotANumberAlwaysDiffers) {
    ComponentState a = sample();
    a.measureA = std::nan("");
    EXPECT_TRUE(statesDiffer(a, a));
    ComponentState b = sample();
    b.measureB = std::nan("");
    EXPECT_TRUE(statesDiffer(b, b));
    ComponentState c = sample();
    c.bodyFirstVertex["Body1"][0] = std::nanf("");
    EXPECT_TRUE(statesDiffer(c, c));
}

TEST(ComponentState, VersionSuffix) {
    EXPECT_EQ(stripVersionSuffix("Gearbox v12"), "Gearbox");
    EXPECT_EQ(stripVersionSuffix("Gear box v3"), "Gear box");
    EXPECT_EQ(stripVersionSuffix("Gearbox v"), "Gearbox v");
    EXPECT_EQ(stripVersionSuffix("Gearbox "), "Gearbox ");
    EXPECT_EQ(stripVersionSuffix("Gearbox"), "Gearbox");
    EXPECT_EQ(stripVersionSuffix("Gearbox vx2"), "Gearbox vx2");  // mixed: kept
    EXPECT_EQ(stripVersionSuffix("Gearbox vbeta"), "Gearbox vbeta");
    EXPECT_EQ(stripVersionSuffix(""), "");
    EXPECT_EQ(stripVersionSuffix(" v1"), "");
}

}  // namespace
