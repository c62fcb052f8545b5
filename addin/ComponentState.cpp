#include "addin/ComponentState.hpp"

#include <cmath>

namespace {

bool numbersDiffer(double a, double b) {
    return std::isnan(a) || std::isnan(b) || a != b;
}

}  // namespace

bool statesDiffer(const ComponentState& a, const ComponentState& b) {
    if (numbersDiffer(a.measureA, b.measureA)) return true;
    if (numbersDiffer(a.measureB, b.measureB)) return true;
    if (a.bodySignature != b.bodySignature) return true;
    if (a.visible != b.visible) return true;
    if (a.bodyVisibility != b.bodyVisibility) return true;
    if (a.bodyFirstVertex.size() != b.bodyFirstVertex.size()) return true;
    for (auto i = a.bodyFirstVertex.begin(), j = b.bodyFirstVertex.begin();
         i != a.bodyFirstVertex.end(); ++i, ++j) {
        if (i->first != j->first) return true;
        for (size_t k = 0; k < 3; ++k)
            if (numbersDiffer(i->second[k], j->second[k])) return true;
    }
    return a.childComponents != b.childComponents;
}

std::string stripVersionSuffix(const std::string& text) {
    const size_t space = text.rfind(' ');
    if (space == std::string::npos || text.size() - space - 1 < 2) return text;
    const std::string part = text.substr(space + 2);
    if (part.empty()) return text;
    for (char c : part)
        if (c < '0' || c > '9') return text;  // mixed or no digits: not a version suffix
    return text.substr(0, space);
}

float unitsPerMetreOf(const std::string& unit) {
    if (unit == "in") return 39.37008f;
    if (unit == "m") return 1.0f;
    if (unit == "cm") return 100.0f;
    if (unit == "mm") return 1000.0f;
    if (unit == "ft") return 3.28084f;
    return 0.0f;
}
