// The stand-in host's session: the running application with its user interface, the open
// document, the answers its dialogs give, and the clicks that fire the add-in's command events.
// One session is installed at a time; it is what adsk::core::Application::get() returns.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Model.hpp"

namespace host {

// Toolbars and workspaces the user interface offers, in order.
struct Layout {
    struct Workspace {
        std::string id;
        std::vector<std::string> panels;
    };
    std::vector<std::string> toolbars;
    std::vector<Workspace> workspaces;

    // "QAT" and "NavToolbar"; the design, render and drawing workspaces, the render one with
    // its "RenderPanel".
    static Layout standard();
};

// What happened during one click.
struct ClickReport {
    bool found = false;                   // a control for the id exists
    int createdHandlers = 0;              // created handlers notified
    int executeHandlers = 0;              // execute handlers notified
    std::vector<std::string> exceptions;  // texts of exceptions that left a handler
};

struct SessionState;

class Session {
  public:
    explicit Session(Layout layout = Layout::standard());
    // Unregisters the application; objects the add-in still holds stay valid.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Makes this session the one Application::get() returns.
    void install();
    void uninstall();

    // The active document (null closes it).
    void openDocument(DocumentRef document);
    DocumentRef document() const;

    // Answers of the next save dialogs: a file name, or nullopt for Cancel. A dialog without an
    // answer is cancelled and counted in unansweredDialogs().
    void answerSaveDialog(std::optional<std::string> filename);
    void clearDialogAnswers();
    int unansweredDialogs() const;

    // Clicks the control with the given id wherever it is placed (toolbars, then workspace
    // panels): fires the definition's command-created event, then the command's execute event.
    // Exceptions leaving handlers are caught and reported, as the host survives them.
    ClickReport click(const std::string& controlId);

    // Texts of the message boxes shown so far ("title: text").
    const std::vector<std::string>& messageBoxes() const;

    // Errors the host gave the add-in so far (a button definition whose resource folder is
    // missing).
    const std::vector<std::string>& errors() const;

    // The save dialogs shown so far, as the add-in set them up.
    struct DialogRecord {
        std::string filter;
        int filterIndex = -1;
        std::string initialDirectory;
        std::string initialFilename;
        std::optional<std::string> answer;
    };
    const std::vector<DialogRecord>& saveDialogs() const;

    // Read-only views of the user interface for checks.
    struct ControlInfo {
        std::string place;  // "toolbar QAT" or "workspace W panel P"
        std::string id;
        bool visible = false;
    };
    std::vector<ControlInfo> controls() const;
    struct DefinitionInfo {
        std::string id, name, tooltip, resourceFolder;
        int createdHandlers = 0;
    };
    std::vector<DefinitionInfo> definitions() const;

    // A host fault for tests: the n-th mesh array asked for from now on (1: the next one) is
    // refused, its host call throwing std::runtime_error; 0 plans none. Returns how many arrays
    // the previous plan still had to go: 0 when it was carried out or there was none.
    long failMeshArray(long n);

    // Receives the host's narration (-v); empty to stay silent.
    void setNarrator(std::function<void(const std::string&)> narrator);

  private:
    std::shared_ptr<SessionState> state_;
};

// Audit of what the add-in holds: references by class and arrays by element type.
struct Audit {
    std::map<std::string, long> references;
    std::map<std::string, long> arrays;
    long arrayFaults = 0;
    static Audit now();
    // "references: adsk::core::Application 1, ...; arrays: none"
    std::string text() const;
};

}  // namespace host
