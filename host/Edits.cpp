#include "Edits.hpp"

#include "DesignLoader.hpp"

#include <charconv>
#include <cmath>
#include <functional>
#include <set>

namespace host {
namespace {

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Splits "A/B" at the last slash: component names may hold slashes, body names rarely do.
std::pair<std::string, std::string> componentAndBody(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == path.size())
        throw EditError("expected COMPONENT/BODY, got " + quoted(path));
    return {path.substr(0, slash), path.substr(slash + 1)};
}

double number(const std::string& text, const std::string& whole) {
    double value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value))
        throw EditError("bad number " + quoted(text) + " in " + quoted(whole));
    return value;
}

// Every component reachable from the design roots, once each, in walk order.
void eachComponent(DocumentModel& document, const std::function<void(ComponentModel&)>& visit) {
    std::set<const ComponentModel*> seen;
    std::function<void(ComponentModel&)> walk = [&](ComponentModel& c) {
        if (!seen.insert(&c).second) return;
        visit(c);
        for (auto& o : c.occurrences)
            if (o.component) walk(*o.component);
    };
    for (auto& p : document.products)
        if (p.isDesign && p.root) walk(*p.root);
}

std::vector<BodyModel*> bodies(DocumentModel& document, const std::string& path) {
    const auto [component, body] = componentAndBody(path);
    std::vector<BodyModel*> found;
    bool componentFound = false;
    eachComponent(document, [&](ComponentModel& c) {
        if (c.name != component) return;
        componentFound = true;
        for (auto& b : c.bodies)
            if (b.name == body) found.push_back(&b);
    });
    if (!componentFound) throw EditError("no component " + quoted(component) + " in the design");
    if (found.empty())
        throw EditError("component " + quoted(component) + " has no body " + quoted(body));
    return found;
}

}  // namespace

Edit parseEdit(Edit::Kind kind, const std::string& argument) {
    Edit edit{kind, {}, {}};
    if (argument.empty()) throw EditError("empty edit argument");
    switch (kind) {
        case Edit::Kind::HideBody:
        case Edit::Kind::ShowBody:
            componentAndBody(argument);
            edit.target = argument;
            return edit;
        case Edit::Kind::Rename:
            edit.value = argument;
            return edit;
        case Edit::Kind::Appearance: {
            const auto eq = argument.rfind('=');
            if (eq == std::string::npos || eq + 1 == argument.size())
                throw EditError("expected COMPONENT/BODY=APPEARANCE, got " + quoted(argument));
            edit.target = argument.substr(0, eq);
            edit.value = argument.substr(eq + 1);
            componentAndBody(edit.target);
            return edit;
        }
        case Edit::Kind::Move: {
            const auto eq = argument.rfind('=');
            if (eq == std::string::npos || eq == 0)
                throw EditError("expected COMPONENT[:N]=DX,DY,DZ, got " + quoted(argument));
            edit.target = argument.substr(0, eq);
            std::string rest = argument.substr(eq + 1);
            for (int i = 0; i < 3; ++i) {
                const auto comma = rest.find(',');
                if ((i < 2) != (comma != std::string::npos))
                    throw EditError("expected three offsets DX,DY,DZ in " + quoted(argument));
                edit.offset[i] = number(rest.substr(0, comma), argument);
                rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
            }
            return edit;
        }
    }
    throw EditError("unknown edit");
}

std::string applyEdit(DocumentModel& document, const Edit& edit) {
    switch (edit.kind) {
        case Edit::Kind::HideBody:
        case Edit::Kind::ShowBody: {
            const bool visible = edit.kind == Edit::Kind::ShowBody;
            for (BodyModel* b : bodies(document, edit.target)) b->visible = visible;
            return (visible ? "showed body " : "hid body ") + quoted(edit.target);
        }
        case Edit::Kind::Appearance: {
            AppearanceRef appearance;
            for (const auto& a : document.appearances)
                if (a && (a->id == edit.value || a->name == edit.value)) {
                    appearance = a;
                    break;
                }
            if (!appearance)
                throw EditError("no appearance " + quoted(edit.value) + " in the design");
            for (BodyModel* b : bodies(document, edit.target)) b->appearance = appearance;
            return "gave body " + quoted(edit.target) + " the appearance " + quoted(appearance->id);
        }
        case Edit::Kind::Rename: {
            std::string line = "renamed the document " + quoted(document.name) + " to ";
            document.name = edit.value;
            return line + quoted(edit.value);
        }
        case Edit::Kind::Move: {
            std::string component = edit.target;
            long wanted = 1;
            if (const auto colon = component.rfind(':'); colon != std::string::npos) {
                const std::string index = component.substr(colon + 1);
                auto [ptr, ec] = std::from_chars(index.data(), index.data() + index.size(), wanted);
                if (ec != std::errc() || ptr != index.data() + index.size() || wanted < 1)
                    throw EditError("bad occurrence number in " + quoted(edit.target));
                component.resize(colon);
            }
            // Occurrences are counted once each, parents in walk order: an occurrence inside a
            // component placed twice is one occurrence that shows twice.
            long seen = 0;
            OccurrenceModel* found = nullptr;
            eachComponent(document, [&](ComponentModel& parent) {
                for (auto& o : parent.occurrences)
                    if (!found && o.component && o.component->name == component && ++seen == wanted)
                        found = &o;
            });
            if (!found)
                throw EditError("no occurrence " + std::to_string(wanted) + " of component " +
                                quoted(component) + " in the design");
            // The same bound as a design file's lengths.
            for (int i = 0; i < 3; ++i)
                if (!(std::fabs(found->cells[4 * i + 3] + edit.offset[i]) <= kMaxLength))
                    throw EditError("moving occurrence " + std::to_string(wanted) + " of " +
                                    quoted(component) +
                                    " puts it out of range (at most 3.4e37 cm)");
            for (int i = 0; i < 3; ++i) found->cells[4 * i + 3] += edit.offset[i];
            return "moved occurrence " + std::to_string(wanted) + " of " + quoted(component);
        }
    }
    throw EditError("unknown edit");
}

}  // namespace host
