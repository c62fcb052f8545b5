// fusion-host: a stand-in for the Fusion 360 host. It loads an add-in library, calls its run
// entry point, opens a design, performs the command-line actions in order by clicking the
// add-in's buttons, calls stop and unloads the add-in. Like a host that survives a failing
// add-in, it reports message boxes and exceptions out of handlers and fails at the end.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "DesignLoader.hpp"
#include "Edits.hpp"
#include "HostPlatform.hpp"
#include "Session.hpp"

namespace {

namespace fs = std::filesystem;

constexpr const char* kExportControl = "rayMint11ExportCommandOnPanelCPP";
constexpr const char* kRenderControl = "rayMint11RenderCommandOnQATCPP";
constexpr const char* kContext = "{\"IsApplicationStartup\":false,\"Debug\":false}";

constexpr int kAddinFailed = 1;
constexpr int kUsage = 2;

const char* kUsageText =
    "usage: fusion-host [--design FILE] [--unit mm|cm|m|in|ft] [--addin PATH] [--audit] [-v]\n"
    "                   [ACTION...]\n"
    "\n"
    "Loads the add-in library, calls its run entry point, opens the design, performs the\n"
    "actions in the order given, calls stop and unloads the add-in.\n"
    "\n"
    "options:\n"
#ifdef VEX_HOST_NO_ASSIMP
    "  --design FILE   design to open: a .json design file (docs/design-format.md); this\n"
    "                  build has no model import (the Linux build imports model files)\n"
#else
    "  --design FILE   design to open: a .json design file (docs/design-format.md) or any\n"
    "                  model file assimp imports (OBJ, STL, PLY, glTF, FBX, 3DS, ...)\n"
#endif
    "  --unit U        length unit of imported models (default cm) and default length unit\n"
    "                  of every design of a .json file\n"
    "  --addin PATH    add-in library (default: " FUSION_HOST_DEFAULT_ADDIN
    " beside this program)\n"
    "  --audit         print the host references and arrays still held after each action,\n"
    "                  after stop and after unloading (unloaded with any held: failure)\n"
    "  -v              narrate what the host does (standard error)\n"
    "  --help          this text\n"
    "actions:\n"
    "  --export FILE   click \"Export to RayMint .rmq\" and answer its save dialog with FILE\n"
    "                  (\"-\" for standard output)\n"
    "  --cancel        answer the next save dialog with Cancel\n"
    "  --render        click \"Render in RayMint 11\" on the quick-access toolbar (repeatable:\n"
    "                  a later click sends only what changed)\n"
    "edits of the open design, between clicks:\n"
    "  --hide-body COMPONENT/BODY        hide every body of that name in that component\n"
    "  --show-body COMPONENT/BODY        show them again\n"
    "  --appearance COMPONENT/BODY=APP   give them the appearance with id or name APP\n"
    "  --move COMPONENT[:N]=DX,DY,DZ     move the N-th occurrence (default 1) of COMPONENT by\n"
    "                                    the offset in centimetres (occurrences counted once\n"
    "                                    each, parents in walk order)\n"
    "  --rename NAME                     rename the document\n"
    "\n"
    "Exit status: 0 when everything went through; 1 when the add-in failed (run returned false,\n"
    "a message box, an exception out of a handler, a missing button, a bad array hand-back,\n"
    "an edit whose target is not in the design, a host error such as a missing icon\n"
    "folder);\n"
    "2 for bad arguments, a bad design or an add-in library that cannot be loaded.\n";

// One step of the command line.
struct Action {
    enum class Kind { Export, Cancel, Render, Edit };
    Kind kind;
    std::string argument;
    host::Edit edit{host::Edit::Kind::Rename, {}, {}};
};

struct Options {
    std::optional<std::string> design;
    std::optional<std::string> unit;
    std::optional<std::string> addin;
    bool audit = false;
    bool verbose = false;
    std::vector<Action> actions;
};

struct UsageError {
    std::string message;
};

std::optional<host::Edit::Kind> editKind(const std::string& option) {
    using K = host::Edit::Kind;
    if (option == "--hide-body") return K::HideBody;
    if (option == "--show-body") return K::ShowBody;
    if (option == "--appearance") return K::Appearance;
    if (option == "--move") return K::Move;
    if (option == "--rename") return K::Rename;
    return std::nullopt;
}

Options parse(const std::vector<std::string>& argv) {
    const int argc = static_cast<int>(argv.size());
    Options o;
    auto value = [&](int& i) -> std::string {
        std::string name = argv[i];
        if (i + 1 >= argc) throw UsageError{name + " needs a value"};
        std::string v = argv[++i];
        if (v.empty()) throw UsageError{name + " needs a non-empty value"};
        return v;
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--design") {
            if (o.design) throw UsageError{"--design given twice"};
            o.design = value(i);
        } else if (a == "--unit") {
            std::string u = value(i);
            if (u != "mm" && u != "cm" && u != "m" && u != "in" && u != "ft")
                throw UsageError{"unknown unit \"" + u + "\" (mm, cm, m, in or ft)"};
            o.unit = u;
        } else if (a == "--addin") {
            o.addin = value(i);
        } else if (a == "--audit") {
            o.audit = true;
        } else if (a == "-v") {
            o.verbose = true;
        } else if (a == "--export") {
            o.actions.push_back({Action::Kind::Export, value(i)});
        } else if (a == "--cancel") {
            o.actions.push_back({Action::Kind::Cancel, ""});
        } else if (a == "--render") {
            o.actions.push_back({Action::Kind::Render, ""});
        } else if (auto kind = editKind(a)) {
            std::string argument = value(i);
            try {
                o.actions.push_back(
                    {Action::Kind::Edit, argument, host::parseEdit(*kind, argument)});
            } catch (const host::EditError& e) {
                throw UsageError{a + ": " + e.what()};
            }
        } else {
            throw UsageError{"unknown argument \"" + a + "\""};
        }
    }
    return o;
}

fs::path programFolder(const std::string& argv0) {
    fs::path self = host::platform::programFile();
    std::error_code ec;
    if (self.empty()) self = fs::absolute(host::platform::pathFromUtf8(argv0), ec);
    return self.parent_path();
}

using EntryPoint = bool (*)(const char*);

class Host {
  public:
    explicit Host(const Options& o) : o_(o) {}

    int run(host::DocumentRef document, const std::string& addinPath) {
        session_.setNarrator([this](const std::string& text) { say(text); });
        session_.install();
        session_.openDocument(std::move(document));

        host::platform::Library library(addinPath);
        if (!library.loaded()) {
            std::cerr << "fusion-host: cannot load the add-in " << addinPath << ": "
                      << library.error() << "\n";
            return kUsage;
        }
        auto run = reinterpret_cast<EntryPoint>(library.symbol("run"));
        auto stop = reinterpret_cast<EntryPoint>(library.symbol("stop"));
        if (!run || !stop) {
            std::cerr << "fusion-host: " << addinPath << " exports no " << (!run ? "run" : "stop")
                      << " entry point\n";
            return kUsage;
        }
        say("loaded add-in " + addinPath);

        bool started = call(run, "run");
        reportHostErrors();
        if (started) {
            for (const auto& c : session_.controls())
                say("control " + c.id + " in " + c.place + (c.visible ? "" : " (hidden)"));
            for (const Action& a : o_.actions) perform(a);
        } else {
            fail("the add-in's run returned false; no action performed");
        }
        call(stop, "stop");
        audit("after stop");

        // The loader may keep a library mapped (for example one with unique symbols); its
        // static state, such as the application reference, is then released only at exit.
        const bool unloaded = library.unload();
        say(unloaded ? "unloaded the add-in" : "closed the add-in (the loader keeps it mapped)");
        host::Audit left = host::Audit::now();
        if (o_.audit) {
            std::cerr << "fusion-host: audit after unloading: " << left.text() << "\n";
            if (unloaded && (!left.references.empty() || !left.arrays.empty()))
                fail("host references or arrays still held after the add-in was unloaded");
        }
        if (left.arrayFaults) fail("the add-in handed back arrays the host never handed out");
        session_.uninstall();
        return failed_ ? kAddinFailed : 0;
    }

  private:
    bool call(EntryPoint entry, const char* name) {
        say(std::string("calling ") + name);
        try {
            bool ok = entry(kContext);
            say(std::string(name) + " returned " + (ok ? "true" : "false"));
            if (!ok && std::strcmp(name, "stop") == 0) fail("the add-in's stop returned false");
            return ok;
        } catch (const std::exception& e) {
            fail(std::string("exception out of ") + name + ": " + e.what());
        } catch (...) {
            fail(std::string("exception out of ") + name);
        }
        return false;
    }

    void perform(const Action& a) {
        switch (a.kind) {
            case Action::Kind::Cancel:
                session_.answerSaveDialog(std::nullopt);
                say("the next save dialog will be cancelled");
                return;
            case Action::Kind::Export:
                session_.answerSaveDialog(a.argument);
                click(kExportControl, "export");
                return;
            case Action::Kind::Render:
                click(kRenderControl, "render");
                return;
            case Action::Kind::Edit:
                edit(a.edit);
                return;
        }
    }

    void edit(const host::Edit& e) {
        host::DocumentRef document = session_.document();
        if (!document) {
            fail("no design open to edit");
            return;
        }
        try {
            say(host::applyEdit(*document, e));
        } catch (const host::EditError& error) {
            fail(std::string("edit: ") + error.what());
        }
    }

    void click(const std::string& controlId, const std::string& flow) {
        std::size_t messages = session_.messageBoxes().size();
        host::ClickReport report = session_.click(controlId);
        // Answers are for the dialogs of this click only.
        session_.clearDialogAnswers();
        if (!report.found) {
            fail("the add-in placed no visible button " + controlId + " (" + flow + ")");
            return;
        }
        for (const auto& e : report.exceptions) fail(e);
        reportHostErrors();
        const auto& boxes = session_.messageBoxes();
        for (std::size_t i = messages; i < boxes.size(); ++i) fail("message box: " + boxes[i]);
        audit("after " + flow);
    }

    // Errors the host handed the add-in (a missing icon folder) fail the run like its own.
    void reportHostErrors() {
        const auto& errors = session_.errors();
        for (; reportedErrors_ < errors.size(); ++reportedErrors_)
            fail("host error: " + errors[reportedErrors_]);
    }

    void audit(const std::string& when) {
        if (o_.audit)
            std::cerr << "fusion-host: audit " << when << ": " << host::Audit::now().text() << "\n";
    }

    void say(const std::string& text) const {
        if (o_.verbose) std::cerr << "fusion-host: " << text << "\n";
    }

    void fail(const std::string& text) {
        failed_ = true;
        std::cerr << "fusion-host: " << text;
        if (text.empty() || text.back() != '\n') std::cerr << "\n";
    }

    const Options& o_;
    host::Session session_;
    bool failed_ = false;
    std::size_t reportedErrors_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = host::platform::utf8Arguments(argc, argv);
    for (std::size_t i = 1; i < args.size(); ++i)
        if (args[i] == "--help") {
            std::cout << kUsageText;
            return 0;
        }
    Options options;
    try {
        options = parse(args);
    } catch (const UsageError& e) {
        std::cerr << "fusion-host: " << e.message << "\n"
                  << "try fusion-host --help\n";
        return kUsage;
    }

    host::DocumentRef document;
    if (options.design) {
        try {
            host::LoadOptions load;
            load.unit = options.unit;
            document = host::loadDesign(*options.design, load);
        } catch (const host::DesignError& e) {
            std::cerr << "fusion-host: " << e.what() << "\nfusion-host: nothing exported\n";
            return kUsage;
        } catch (const std::exception& e) {
            // Whatever else a file can provoke (such as running out of memory) is a bad design too.
            std::cerr << "fusion-host: " << *options.design << ": cannot load: " << e.what()
                      << "\nfusion-host: nothing exported\n";
            return kUsage;
        }
    }

    std::string addin = options.addin.value_or(
        host::platform::utf8FromPath((programFolder(args.empty() ? std::string() : args[0]) /
                                      host::platform::pathFromUtf8(FUSION_HOST_DEFAULT_ADDIN))
                                         .lexically_normal()));
    std::error_code ec;
    if (!fs::is_regular_file(host::platform::pathFromUtf8(addin), ec)) {
        std::cerr << "fusion-host: add-in library not found: " << addin
                  << (options.addin ? "" : " (build the add-in, or give --addin PATH)") << "\n";
        return kUsage;
    }
    if (document && options.verbose) {
        host::DesignTotals t = host::totals(*document);
        std::cerr << "fusion-host: design \"" << document->name << "\": " << t.components
                  << " components, " << t.occurrences << " occurrences, " << t.bodies << " bodies, "
                  << t.triangles << " triangles\n";
    }
    return Host(options).run(document, addin);
}
