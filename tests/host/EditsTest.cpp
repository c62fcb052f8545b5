// Edits between clicks: each changes exactly what it names, and a target that is not in the
// design is refused with the reason, leaving the design as it was.
#include <gtest/gtest.h>

#include "DesignLoader.hpp"
#include "Edits.hpp"

namespace {

using host::Edit;

host::DocumentRef sample() {
    return host::loadJsonDesign(VEX_SOURCE_DIR "/examples/sample-assembly.json");
}

host::ComponentModel& component(host::DocumentModel& d, const std::string& name) {
    std::function<host::ComponentModel*(host::ComponentModel&)> find =
        [&](host::ComponentModel& c) -> host::ComponentModel* {
        if (c.name == name) return &c;
        for (auto& o : c.occurrences)
            if (auto* f = find(*o.component)) return f;
        return nullptr;
    };
    host::ComponentModel* found = find(*d.products[0].root);
    if (!found) throw std::runtime_error("no component " + name);
    return *found;
}

std::string apply(host::DocumentModel& d, Edit::Kind kind, const std::string& argument) {
    return host::applyEdit(d, host::parseEdit(kind, argument));
}

TEST(Edits, EachEditChangesWhatItNames) {
    auto d = sample();
    EXPECT_EQ(apply(*d, Edit::Kind::HideBody, "Sample Cart/Chassis"),
              "hid body \"Sample Cart/Chassis\"");
    EXPECT_FALSE(component(*d, "Sample Cart").bodies[0].visible);
    apply(*d, Edit::Kind::ShowBody, "Sample Cart/Cover");
    EXPECT_TRUE(component(*d, "Sample Cart").bodies[1].visible);

    EXPECT_EQ(apply(*d, Edit::Kind::Appearance, "Wheel/Tyre=Paint - Enamel Glossy (Red)"),
              "gave body \"Wheel/Tyre\" the appearance \"paint-red\"");
    EXPECT_EQ(component(*d, "Wheel").bodies[0].appearance->id, "paint-red");

    // The second occurrence of Axle is the second one under the cart (200 mm = 20 cm).
    auto& cart = component(*d, "Sample Cart");
    const host::Cells first = cart.occurrences[0].cells;
    const host::Cells before = cart.occurrences[1].cells;
    EXPECT_EQ(apply(*d, Edit::Kind::Move, "Axle:2=1.5,-2,0"), "moved occurrence 2 of \"Axle\"");
    EXPECT_DOUBLE_EQ(cart.occurrences[1].cells[3], before[3] + 1.5);
    EXPECT_DOUBLE_EQ(cart.occurrences[1].cells[7], before[7] - 2);
    EXPECT_DOUBLE_EQ(cart.occurrences[1].cells[11], before[11]);
    EXPECT_EQ(cart.occurrences[0].cells, first);
    // Wheels sit twice in Axle, which is placed twice: still two occurrences.
    apply(*d, Edit::Kind::Move, "Wheel:2=0,0,1");
    EXPECT_THROW(apply(*d, Edit::Kind::Move, "Wheel:3=0,0,1"), host::EditError);

    EXPECT_EQ(apply(*d, Edit::Kind::Rename, "Sample Cart v4"),
              "renamed the document \"Sample Cart v3\" to \"Sample Cart v4\"");
    EXPECT_EQ(d->name, "Sample Cart v4");
}

TEST(Edits, MalformedArgumentsAndMissingTargetsAreRefused) {
    for (const auto& [kind, argument] : std::vector<std::pair<Edit::Kind, std::string>>{
             {Edit::Kind::HideBody, "Chassis"},
             {Edit::Kind::HideBody, "/Chassis"},
             {Edit::Kind::HideBody, "Cart/"},
             {Edit::Kind::Appearance, "Wheel/Tyre"},
             {Edit::Kind::Appearance, "Wheel/Tyre="},
             {Edit::Kind::Move, "Axle=1,2"},
             {Edit::Kind::Move, "Axle=1,2,3,4"},
             {Edit::Kind::Move, "Axle=1,x,3"},
             {Edit::Kind::Move, "Axle=1,inf,3"},
             {Edit::Kind::Move, "=1,2,3"},
             {Edit::Kind::Rename, ""},
         })
        EXPECT_THROW(host::parseEdit(kind, argument), host::EditError) << argument;

    auto d = sample();
    const std::string name = d->name;
    for (const auto& [kind, argument] : std::vector<std::pair<Edit::Kind, std::string>>{
             {Edit::Kind::HideBody, "Nothing/Chassis"},
             {Edit::Kind::HideBody, "Sample Cart/Nothing"},
             {Edit::Kind::Appearance, "Wheel/Tyre=velvet"},
             {Edit::Kind::Move, "Axle:0=1,2,3"},
             {Edit::Kind::Move, "Axle:3=1,2,3"},
             {Edit::Kind::Move, "Axle:x=1,2,3"},
             {Edit::Kind::Move, "Sample Cart=1,2,3"},  // the root has no occurrence
             {Edit::Kind::Move, "Axle=0,3.5e37,0"},    // beyond the lengths a design may hold
         }) {
        try {
            apply(*d, kind, argument);
            ADD_FAILURE() << argument;
        } catch (const host::EditError& e) {
            EXPECT_NE(std::string(e.what()), "") << argument;
        }
    }
    EXPECT_TRUE(component(*d, "Sample Cart").bodies[0].visible);
    EXPECT_EQ(component(*d, "Wheel").bodies[0].appearance->id, "rubber-checker");
    EXPECT_EQ(component(*d, "Sample Cart").occurrences[0].cells,
              sample()->products[0].root->occurrences[0].cells);
    EXPECT_EQ(d->name, name);
}

}  // namespace
