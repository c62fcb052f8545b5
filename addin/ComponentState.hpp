// What the walk remembers of a component between transfers, and the change test.
#pragma once

#include <array>
#include <map>
#include <set>
#include <string>

struct ComponentState {
    bool visible = true;
    double measureA = 0;
    double measureB = 0;
    std::string bodySignature;
    std::map<std::string, bool> bodyVisibility;
    std::map<std::string, std::array<float, 3>> bodyFirstVertex;
    std::set<std::string> childComponents;
};

// True at the first difference; a measure or vertex value that is not a number always differs,
// so a component without usable measures counts as changed on every walk.
bool statesDiffer(const ComponentState& a, const ComponentState& b);

// "Name v12" -> "Name": cuts after the last space when everything from the second character
// after it on is a decimal digit; anything else is returned unchanged.
std::string stripVersionSuffix(const std::string& text);

// Units of the given default length unit per metre, or 0 for a unit not in the table.
float unitsPerMetreOf(const std::string& unit);
