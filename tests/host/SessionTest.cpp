// The stand-in host in process: user interface, command events, dialogs, the design API and the
// reference audit.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <stdexcept>

#include "DesignLoader.hpp"
#include "FusionAll.h"
#include "HostPlatform.hpp"
#include "Session.hpp"

namespace core = adsk::core;
namespace fusion = adsk::fusion;
using core::Ptr;

namespace {

struct Executed : core::CommandEventHandler {
    int calls = 0;
    bool throws = false;
    std::string senderType;
    void notify(const Ptr<core::CommandEventArgs>& args) override {
        ++calls;
        Ptr<core::Base> sender = args->firingEvent()->sender();
        senderType = sender->objectType();
        Ptr<core::Command> command = sender.cast<core::Command>();
        EXPECT_EQ(command->parentCommandDefinition()->id(), "cmd");
        if (throws) throw std::logic_error("broken handler");
    }
};

struct Created : core::CommandCreatedEventHandler {
    Executed executed;
    int calls = 0;
    void notify(const Ptr<core::CommandCreatedEventArgs>& args) override {
        ++calls;
        EXPECT_TRUE(args->command()->execute()->add(&executed));
    }
};

// Beside the test program, as the build copies it.
const std::string kIcons = "./resources/render_command";

class SessionTest : public testing::Test {
  protected:
    void SetUp() override {
        session.install();
        app = core::Application::get();
        ui = app->userInterface();
    }
    void TearDown() override {
        ui = nullptr;
        app = nullptr;
        EXPECT_TRUE(host::Audit::now().references.empty()) << host::Audit::now().text();
        EXPECT_TRUE(host::Audit::now().arrays.empty()) << host::Audit::now().text();
    }
    Ptr<core::ToolbarControls> renderPanel() {
        return ui->workspaces()
            ->itemById("FusionRenderEnvironment")
            ->toolbarPanels()
            ->itemById("RenderPanel")
            ->controls();
    }
    host::Session session;
    Ptr<core::Application> app;
    Ptr<core::UserInterface> ui;
};

TEST_F(SessionTest, DefinitionsAndControlsAreFoundByIdAndNotDuplicated) {
    Ptr<core::CommandDefinitions> defs = ui->commandDefinitions();
    Ptr<core::ButtonDefinition> def = defs->addButtonDefinition("cmd", "Name", "Tip", kIcons);
    ASSERT_TRUE(def);
    EXPECT_FALSE(defs->addButtonDefinition("cmd", "Other", "", kIcons));
    EXPECT_FALSE(defs->addButtonDefinition("", "Other", "", kIcons));
    EXPECT_EQ(defs->itemById("cmd")->name(), "Name");
    EXPECT_EQ(defs->itemById("cmd")->tooltip(), "Tip");
    EXPECT_EQ(defs->itemById("cmd")->resourceFolder(), kIcons);
    EXPECT_TRUE(session.errors().empty());
    // Icon folders are looked up beside the calling program or library (this test's folder,
    // where the build copies resources/), or taken as they are when absolute; one that is not
    // there is refused and reported.
    const std::filesystem::path folder = host::platform::programFile().parent_path();
    const std::string here = folder.string();
    EXPECT_TRUE(defs->addButtonDefinition("abs", "N", "T", here + "/resources/export_command"));
    EXPECT_FALSE(defs->addButtonDefinition("bad", "N", "T", "./resources/nothing"));
    EXPECT_FALSE(defs->addButtonDefinition("bad", "N", "T", here + "/no"));
    EXPECT_EQ(session.errors(),
              (std::vector<std::string>{"button definition bad: resource folder "
                                        "\"./resources/nothing\" not found (" +
                                            (folder / "resources" / "nothing").string() + ")",
                                        "button definition bad: resource folder \"" + here +
                                            "/no\" not found (" + here + "/no)"}));
    EXPECT_FALSE(defs->itemById("bad"));
    EXPECT_TRUE(defs->itemById("cmd")->cast<core::ButtonDefinition>());

    Ptr<core::ToolbarControls> controls = renderPanel();
    Ptr<core::ToolbarControl> control = controls->addCommand(def, "", true);
    ASSERT_TRUE(control);
    EXPECT_EQ(control->id(), "cmd");
    EXPECT_FALSE(controls->addCommand(def, "", true));
    EXPECT_FALSE(controls->addCommand(nullptr, "", true));
    EXPECT_TRUE(control->setVisible(false));
    EXPECT_FALSE(controls->itemById("cmd")->isVisible());
    EXPECT_EQ(controls->count(), 1u);
    ASSERT_EQ(session.controls().size(), 1u);
    EXPECT_EQ(session.controls()[0].place, "workspace FusionRenderEnvironment panel RenderPanel");
    // A hidden control cannot be clicked.
    EXPECT_FALSE(session.click("cmd").found);
    control->setVisible(true);
    EXPECT_TRUE(session.click("cmd").found);
    EXPECT_FALSE(session.click("other").found);
}

TEST_F(SessionTest, ClickFiresCreatedThenExecuteAndSurvivesExceptions) {
    Created created;
    Ptr<core::ButtonDefinition> def =
        ui->commandDefinitions()->addButtonDefinition("cmd", "N", "T", kIcons);
    EXPECT_TRUE(def->commandCreated()->add(&created));
    EXPECT_FALSE(def->commandCreated()->add(nullptr));
    ui->toolbars()->itemById("QAT")->controls()->addCommand(def, "", true);

    host::ClickReport r = session.click("cmd");
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.createdHandlers, 1);
    EXPECT_EQ(r.executeHandlers, 1);
    EXPECT_TRUE(r.exceptions.empty());
    EXPECT_EQ(created.executed.senderType, "adsk::core::Command");

    // A handler added twice is notified twice: the count shows an add-in that adds it again.
    EXPECT_TRUE(def->commandCreated()->add(&created));
    EXPECT_EQ(session.definitions()[0].createdHandlers, 2);
    r = session.click("cmd");
    EXPECT_EQ(r.createdHandlers, 2);
    EXPECT_EQ(r.executeHandlers, 2);
    EXPECT_TRUE(def->commandCreated()->remove(&created));
    def = nullptr;

    // Each click is a new command: the execute handler does not pile up.
    created.executed.throws = true;
    r = session.click("cmd");
    EXPECT_EQ(r.executeHandlers, 1);
    ASSERT_EQ(r.exceptions.size(), 1u);
    EXPECT_NE(r.exceptions[0].find("std::logic_error: broken handler"), std::string::npos)
        << r.exceptions[0];
    EXPECT_EQ(created.calls, 4);
    EXPECT_EQ(created.executed.calls, 4);
    EXPECT_EQ(session.definitions()[0].createdHandlers, 1);
}

TEST_F(SessionTest, SaveDialogTakesQueuedAnswersAndRecordsItsSetUp) {
    session.answerSaveDialog(std::string("/tmp/a.rmq"));
    session.answerSaveDialog(std::nullopt);
    Ptr<core::FileDialog> d = ui->createFileDialog();
    d->setFilter("RayMint scene (*.rmq)");
    d->setFilterIndex(0);
    d->setInitialDirectory("%CSIDL_MYDOCUMENTS%");
    d->setInitialFilename("Untitled.rmq");
    EXPECT_EQ(d->filename(), "");
    EXPECT_EQ(d->showSave(), core::DialogOK);
    EXPECT_EQ(d->filename(), "/tmp/a.rmq");
    EXPECT_EQ(d->showSave(), core::DialogCancel);
    EXPECT_EQ(d->filename(), "");
    EXPECT_EQ(d->showSave(), core::DialogCancel);  // nothing queued
    EXPECT_EQ(session.unansweredDialogs(), 1);
    ASSERT_EQ(session.saveDialogs().size(), 3u);
    EXPECT_EQ(session.saveDialogs()[0].filter, "RayMint scene (*.rmq)");
    EXPECT_EQ(session.saveDialogs()[0].filterIndex, 0);
    EXPECT_EQ(session.saveDialogs()[0].initialDirectory, "%CSIDL_MYDOCUMENTS%");
    EXPECT_EQ(session.saveDialogs()[0].initialFilename, "Untitled.rmq");
}

TEST_F(SessionTest, MessageBoxIsRecorded) {
    EXPECT_EQ(ui->messageBox("text", "title", core::OKButtonType, core::NoIconIconType),
              core::DialogOK);
    ASSERT_EQ(session.messageBoxes().size(), 1u);
    EXPECT_EQ(session.messageBoxes()[0], "title: text");
}

TEST_F(SessionTest, AuditCountsReferencesByClassAndArrays) {
    Ptr<core::Toolbars> a = ui->toolbars();
    Ptr<core::Toolbars> b = a;
    host::Audit audit = host::Audit::now();
    EXPECT_EQ(audit.references["adsk::core::Application"], 1);
    EXPECT_EQ(audit.references["adsk::core::UserInterface"], 1);
    EXPECT_EQ(audit.references["adsk::core::Toolbars"], 2);
    EXPECT_EQ(audit.references.size(), 3u);
    char* raw = ui->toolbars()->itemById("QAT")->id_raw();
    audit = host::Audit::now();
    EXPECT_EQ(audit.arrays["char"], 1);
    EXPECT_NE(audit.text().find("adsk::core::Toolbars 2"), std::string::npos) << audit.text();
    EXPECT_NE(audit.text().find("arrays: char 1"), std::string::npos) << audit.text();
    core::DeallocateArrayInternal(raw);
}

TEST_F(SessionTest, DesignIsReachableThroughTheApi) {
    auto doc = host::loadJsonDesign(std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json");
    session.openDocument(doc);
    Ptr<core::Document> d = app->activeDocument();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->name(), "Sample Cart v3");
    Ptr<core::Products> products = d->products();
    ASSERT_EQ(products->count(), 2u);
    EXPECT_FALSE(products->item(1)->cast<fusion::Design>());
    Ptr<fusion::Design> design = products->item(0)->cast<fusion::Design>();
    ASSERT_TRUE(design);
    EXPECT_EQ(design->unitsManager()->defaultLengthUnits(), "mm");
    Ptr<fusion::Component> root = design->rootComponent();
    EXPECT_EQ(root->name(), "Sample Cart");
    ASSERT_EQ(root->occurrences()->count(), 3u);
    Ptr<fusion::Occurrence> rear = root->occurrences()->item(1);
    EXPECT_EQ(rear->component()->name(), "Axle");
    EXPECT_DOUBLE_EQ(rear->transform()->getCell(0, 3), 20.0);  // 200 mm in cm
    EXPECT_DOUBLE_EQ(rear->transform()->getCell(1, 3), 4.0);
    EXPECT_DOUBLE_EQ(rear->transform()->getCell(3, 3), 1.0);
    EXPECT_FALSE(rear->appearance());
    Ptr<fusion::Occurrence> handle = root->occurrences()->item(2);
    EXPECT_EQ(handle->appearance()->id(), "paint-red");
    EXPECT_NEAR(handle->transform()->getCell(0, 1), -0.5, 1e-12);  // sin 30 deg
    Ptr<fusion::BRepBodies> bodies = root->bRepBodies();
    ASSERT_EQ(bodies->count(), 2u);
    EXPECT_TRUE(bodies->item(0)->isVisible());
    EXPECT_FALSE(bodies->item(1)->isVisible());
    EXPECT_EQ(bodies->item(0)->appearance()->name(), "Paint - Enamel Glossy (Red)");
    EXPECT_FALSE(bodies->item(1)->appearance());

    // Box of 60 x 4 x 30 cm: area and volume.
    Ptr<fusion::PhysicalProperties> props = root->physicalProperties();
    EXPECT_NEAR(props->area(), 2 * (60 * 4 + 60 * 30 + 4 * 30) + 2 * (56 * 2 + 56 * 28 + 2 * 28),
                1e-6);
    EXPECT_NEAR(props->volume(), 60 * 4 * 30 + 56 * 2 * 28, 1e-6);

    Ptr<fusion::TriangleMesh> grip =
        handle->component()->bRepBodies()->item(0)->faces()->item(0)->displayMeshes()->item(0);
    EXPECT_EQ(grip->nodeCoordinatesAsFloat(),
              (std::vector<float>{0, 0, -10, 0, 0, 10, 0, 25, 10, 0, 25, -10}));
    EXPECT_EQ(grip->normalVectorsAsFloat().size(), 12u);
    EXPECT_EQ(grip->textureCoordinatesAsFloat(), (std::vector<float>{0, 0, 1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(grip->nodeIndices(), (std::vector<int>{0, 1, 2, 0, 2, 3}));

    // Appearance properties: colour with texture, and a number property.
    Ptr<fusion::BRepBody> tyre =
        rear->component()->occurrences()->item(0)->component()->bRepBodies()->item(0);
    EXPECT_FALSE(tyre->faces()->item(0)->appearance());
    EXPECT_EQ(tyre->faces()->item(1)->appearance()->id(), "paint-red");
    Ptr<core::Properties> p = tyre->appearance()->appearanceProperties();
    ASSERT_EQ(p->count(), 1u);
    Ptr<core::ColorProperty> color = p->item(0)->cast<core::ColorProperty>();
    ASSERT_TRUE(color);
    EXPECT_EQ(color->id(), "generic_diffuse");
    short r = 255, g = 255, b = 255, o = 0;
    EXPECT_TRUE(color->value()->getColor(r, g, b, o));
    EXPECT_EQ(r, 60);
    EXPECT_EQ(o, 255);
    ASSERT_TRUE(color->hasConnectedTexture());
    Ptr<core::Properties> tp = color->connectedTexture()->properties();
    ASSERT_EQ(tp->count(), 2u);
    EXPECT_STREQ(tp->item(0)->objectType(), "adsk::core::FilenameProperty");
    EXPECT_EQ(tp->item(0)->cast<core::FilenameProperty>()->value(),
              std::filesystem::absolute(std::filesystem::path(VEX_SOURCE_DIR) / "examples" /
                                        "textures" / "checker.png")
                  .lexically_normal()
                  .string());
    EXPECT_STREQ(tp->item(1)->objectType(), "adsk::core::FloatProperty");
    EXPECT_FALSE(tp->item(1)->cast<core::ColorProperty>());
    EXPECT_FALSE(tp->item(2));

    Ptr<core::Camera> camera = app->activeViewport()->camera();
    EXPECT_EQ(camera->cameraType(), core::PerspectiveCameraType);
    EXPECT_DOUBLE_EQ(camera->eye()->x(), 60.0);
    EXPECT_NEAR(camera->perspectiveAngle(), 40 * std::numbers::pi / 180, 1e-12);
    Ptr<core::Vector3D> dir = camera->eye()->vectorTo(camera->target());
    EXPECT_TRUE(dir->normalize());
    EXPECT_NEAR(dir->x() * dir->x() + dir->y() * dir->y() + dir->z() * dir->z(), 1.0, 1e-12);
    EXPECT_EQ(app->preferences()->generalPreferences()->defaultModelingOrientation(),
              core::YUpModelingOrientation);
}

TEST(SessionLayout, MissingWorkspacesAndPanelsCanBeArranged) {
    host::Layout layout;
    layout.toolbars = {"QAT"};
    layout.workspaces = {{"FusionSolidEnvironment", {"SolidCreatePanel"}}, {"Other", {}}};
    host::Session session(layout);
    session.install();
    Ptr<core::UserInterface> ui = core::Application::get()->userInterface();
    EXPECT_FALSE(ui->workspaces()->itemById("FusionRenderEnvironment"));
    EXPECT_EQ(ui->workspaces()->item(1)->toolbarPanels()->count(), 0u);
}

}  // namespace
