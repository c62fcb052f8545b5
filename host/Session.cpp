// The stand-in host's session: the state behind the host interface objects, the clicks that fire
// the add-in's command events, and the audit of what the add-in holds.
#include "Session.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <sstream>
#include <typeinfo>

#include "SessionImpl.hpp"

namespace host {

// The session that Application::get() presents.
StateRef& installed() {
    static StateRef* state = new StateRef();  // outlives the add-in's static references
    return *state;
}

namespace {

std::string describeException() {
    try {
        throw;
    } catch (const std::exception& e) {
        std::string what = e.what();
        int status = 0;
        char* type = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
        std::string name = status == 0 && type ? type : typeid(e).name();
        std::free(type);
        return "exception " + name + (what.empty() ? "" : ": " + what);
    } catch (...) {
        return "exception of unknown type";
    }
}

}  // namespace

// ---- Layout and Session -----------------------------------------------------------------------

Layout Layout::standard() {
    Layout layout;
    layout.toolbars = {"QAT", "NavToolbar"};
    layout.workspaces = {
        {"FusionSolidEnvironment", {"SolidCreatePanel", "SolidModifyPanel", "InspectPanel"}},
        {"FusionRenderEnvironment", {"SetupPanel", "RenderPanel", "InCanvasRenderPanel"}},
        {"FusionDocumentationEnvironment", {"DrawingViewsPanel"}},
    };
    return layout;
}

Session::Session(Layout layout) : state_(std::make_shared<SessionState>()) {
    for (const auto& id : layout.toolbars) {
        auto t = std::make_shared<ToolbarModel>();
        t->id = id;
        state_->toolbars.push_back(t);
    }
    for (const auto& w : layout.workspaces) {
        auto model = std::make_shared<WorkspaceModel>();
        model->id = w.id;
        for (const auto& p : w.panels) {
            auto panel = std::make_shared<PanelModel>();
            panel->id = p;
            model->panels.push_back(panel);
        }
        state_->workspaces.push_back(model);
    }
}

Session::~Session() {
    uninstall();
}

void Session::install() {
    installed() = state_;
    core::detail::setApplicationProvider(&provideApplication);
}

void Session::uninstall() {
    if (installed() != state_) return;
    installed().reset();
    core::detail::setApplicationProvider(nullptr);
}

void Session::openDocument(DocumentRef document) {
    state_->document = std::move(document);
    if (state_->document) state_->say("document \"" + state_->document->name + "\" is active");
}

DocumentRef Session::document() const {
    return state_->document;
}

void Session::answerSaveDialog(std::optional<std::string> filename) {
    state_->answers.push_back(std::move(filename));
}

void Session::clearDialogAnswers() {
    state_->answers.clear();
}

int Session::unansweredDialogs() const {
    return state_->unanswered;
}

ClickReport Session::click(const std::string& controlId) {
    ClickReport report;
    std::shared_ptr<ControlModel> control;
    for (const auto& t : state_->toolbars)
        for (const auto& c : t->controls->items)
            if (!control && c->id == controlId) control = c;
    for (const auto& w : state_->workspaces)
        for (const auto& p : w->panels)
            for (const auto& c : p->controls->items)
                if (!control && c->id == controlId) control = c;
    if (!control || !control->visible || !control->definition) return report;
    report.found = true;

    auto command = std::make_shared<CommandModel>();
    command->definition = control->definition;
    state_->say("click on " + controlId + ": command-created event");
    // Copies: a handler may add or remove handlers while being notified.
    auto created = control->definition->createdHandlers;
    {
        Ptr<core::CommandCreatedEventArgs> args = commandCreatedArgs(state_, command);
        for (auto* handler : created) {
            ++report.createdHandlers;
            try {
                handler->notify(args);
            } catch (...) {
                report.exceptions.push_back(describeException() + " (command-created of " +
                                            controlId + ")");
            }
        }
    }
    auto execute = command->executeHandlers;
    state_->say("click on " + controlId + ": execute event, " + std::to_string(execute.size()) +
                " handler(s)");
    {
        Ptr<core::CommandEventArgs> args = commandArgs(state_, command);
        for (auto* handler : execute) {
            ++report.executeHandlers;
            try {
                handler->notify(args);
            } catch (...) {
                report.exceptions.push_back(describeException() + " (execute of " + controlId +
                                            ")");
            }
        }
    }
    return report;
}

const std::vector<std::string>& Session::messageBoxes() const {
    return state_->messages;
}

const std::vector<std::string>& Session::errors() const {
    return state_->errors;
}

const std::vector<Session::DialogRecord>& Session::saveDialogs() const {
    return state_->dialogs;
}

std::vector<Session::ControlInfo> Session::controls() const {
    std::vector<ControlInfo> out;
    for (const auto& t : state_->toolbars)
        for (const auto& c : t->controls->items)
            out.push_back({"toolbar " + t->id, c->id, c->visible});
    for (const auto& w : state_->workspaces)
        for (const auto& p : w->panels)
            for (const auto& c : p->controls->items)
                out.push_back({"workspace " + w->id + " panel " + p->id, c->id, c->visible});
    return out;
}

std::vector<Session::DefinitionInfo> Session::definitions() const {
    std::vector<DefinitionInfo> out;
    for (const auto& d : state_->definitions)
        out.push_back({d->id, d->name, d->tooltip, d->resourceFolder,
                       static_cast<int>(d->createdHandlers.size())});
    return out;
}

long Session::failMeshArray(long n) {
    return std::exchange(state_->meshArraysBeforeFault, n);
}

void Session::setNarrator(std::function<void(const std::string&)> narrator) {
    state_->narrator = std::move(narrator);
}

Audit Audit::now() {
    return {core::detail::heldReferences(), core::detail::heldArrays(),
            core::detail::arrayFaults()};
}

std::string Audit::text() const {
    std::ostringstream out;
    out << "references:";
    if (references.empty()) out << " none";
    const char* sep = " ";
    for (const auto& [type, n] : references) {
        out << sep << type << " " << n;
        sep = ", ";
    }
    out << "; arrays:";
    if (arrays.empty()) out << " none";
    sep = " ";
    for (const auto& [type, n] : arrays) {
        out << sep << type << " " << n;
        sep = ", ";
    }
    if (arrayFaults) out << "; bad deallocations: " << arrayFaults;
    return out.str();
}

}  // namespace host
