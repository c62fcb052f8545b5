// Host add-in API, namespace adsk::core: this project's stand-in for the interface of the
// Fusion 360 host (its XInterface library). The add-in is written against these headers only;
// the stand-in host in host/ implements the abstract classes.
//
// Conventions of this interface:
// - Every host object derives from adsk::core::Base and is reference counted. Ptr<T> holds one
//   reference: copying adds one, destruction releases one. A host call that yields no object
//   returns an empty Ptr.
// - Casts go by class type: ptr->cast<adsk::fusion::Design>() (or the null-safe
//   ptr.cast<adsk::fusion::Design>()) yields the object as that class, or an empty Ptr.
//   objectType() is the text of the object's most derived class, e.g. "adsk::core::Color".
//   A cast compares class identities (classIdentity(): one object per class type text in the
//   process), not texts: the walk over a design casts for every object it meets.
// - Texts and arrays that the host returns are host-allocated. The virtual *_raw operations hand
//   them out as pointer (and count); the caller copies them and hands them back with
//   adsk::core::DeallocateArrayInternal. The inline wrappers without the suffix (name(),
//   nodeCoordinatesAsFloat(), ...) do exactly that and return std::string / std::vector.
// - Lengths are centimetres.
// - Application::get() returns the application of the running host (registered by the host with
//   adsk::core::detail::setApplicationProvider), or an empty Ptr when no host is running.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(_WIN32)
// The DLL exports every symbol it defines (mingw's default without explicit exports), and the
// statics of inline functions are each module's own there.
#define ADSK_HOSTAPI_EXPORT
#define ADSK_HOSTAPI_MODULE_LOCAL
#elif defined(__GNUC__)
#define ADSK_HOSTAPI_EXPORT __attribute__((visibility("default")))
// For the inline functions that cache a class identity: the cache of a hidden function is each
// module's own, whereas a visible one would be a unique symbol, which keeps an add-in from being
// unloaded.
#define ADSK_HOSTAPI_MODULE_LOCAL __attribute__((visibility("hidden")))
#else
#define ADSK_HOSTAPI_EXPORT
#define ADSK_HOSTAPI_MODULE_LOCAL
#endif

namespace adsk::core {

// ---------------------------------------------------------------------------------------------
// Host arrays and texts.

// Hands a host-allocated array or text back to the host. A null pointer is ignored. A pointer the
// host never handed out (or handed back twice) is reported on standard error and counted as a
// fault (see detail::arrayFaults) instead of corrupting memory.
ADSK_HOSTAPI_EXPORT void DeallocateArrayInternal(char* array);
ADSK_HOSTAPI_EXPORT void DeallocateArrayInternal(int* array);
ADSK_HOSTAPI_EXPORT void DeallocateArrayInternal(float* array);
ADSK_HOSTAPI_EXPORT void DeallocateArrayInternal(double* array);

namespace detail {

// Hands a host array back when it goes out of scope, so that a copy that throws (an allocation
// failure) does not keep it from the host.
template <class T>
class HandBack {
  public:
    explicit HandBack(T* array) : array_(array) {}
    ~HandBack() { DeallocateArrayInternal(array_); }
    HandBack(const HandBack&) = delete;
    HandBack& operator=(const HandBack&) = delete;

  private:
    T* array_;
};

// Copies a host text and hands it back; a null text becomes "".
inline std::string takeText(char* text) {
    if (text == nullptr) return std::string();
    const HandBack<char> handBack(text);
    return std::string(text);
}

// Copies a host array of count elements and hands it back; a null array becomes empty.
template <class T>
std::vector<T> takeArray(T* array, std::size_t count) {
    if (array == nullptr) return {};
    const HandBack<T> handBack(array);
    return std::vector<T>(array, array + count);
}

// The identity of a host class: classTag gives one object per class type text in the whole
// process (add-in and host alike), so comparing identities is comparing addresses.
struct ClassTag {
    const char* text;
};
ADSK_HOSTAPI_EXPORT const ClassTag& classTag(const char* typeText);

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Reference counting and casts.

template <class T>
class Ptr;

class ADSK_HOSTAPI_EXPORT Base {
  public:
    static const char* classType() { return "adsk::core::Base"; }
    ADSK_HOSTAPI_MODULE_LOCAL static const detail::ClassTag& classIdentity() {
        static const detail::ClassTag& tag = detail::classTag(classType());
        return tag;
    }
    // Text of the most derived class of this object.
    virtual const char* objectType() const = 0;
    // True when this object is of the class with the given class type text or derives from it.
    virtual bool isKindOf(const char* type) const { return std::strcmp(type, classType()) == 0; }
    // The same test by class identity (what cast uses).
    virtual bool isKindOfClass(const detail::ClassTag& tag) const {
        return &tag == &classIdentity();
    }

    // This object as class T (by class type), or an empty Ptr.
    template <class T>
    Ptr<T> cast() const;

    // Reference counting; Ptr<T> calls these, add-in code normally does not.
    void addReference() const noexcept;
    void release() const noexcept;
    long referenceCount() const noexcept { return references_; }

    Base(const Base&) = delete;
    Base& operator=(const Base&) = delete;

  protected:
    Base() = default;
    // Objects are destroyed by their last release only.
    virtual ~Base();

  private:
    mutable long references_ = 0;
};

// Smart pointer holding one reference to a host object.
template <class T>
class Ptr {
  public:
    Ptr() noexcept = default;
    Ptr(std::nullptr_t) noexcept {}
    // Takes a new reference to p (host objects start with no reference).
    explicit Ptr(T* p) noexcept : p_(p) {
        if (p_) p_->addReference();
    }
    Ptr(const Ptr& other) noexcept : Ptr(other.p_) {}
    Ptr(Ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    // Upcast from a derived class.
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ptr(const Ptr<U>& other) noexcept : Ptr(static_cast<T*>(other.get())) {}
    ~Ptr() { reset(); }

    Ptr& operator=(const Ptr& other) noexcept {
        Ptr(other).swap(*this);
        return *this;
    }
    Ptr& operator=(Ptr&& other) noexcept {
        Ptr(std::move(other)).swap(*this);
        return *this;
    }
    Ptr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    // Releases the reference held, if any.
    void reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->release();
    }
    void swap(Ptr& other) noexcept { std::swap(p_, other.p_); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Null-safe cast by class type: empty when this is empty or not of class U.
    template <class U>
    Ptr<U> cast() const {
        return p_ ? p_->template cast<U>() : Ptr<U>();
    }

    template <class U>
    bool operator==(const Ptr<U>& other) const noexcept {
        return static_cast<const void*>(p_) == static_cast<const void*>(other.get());
    }
    bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }

  private:
    T* p_ = nullptr;
};

template <class T>
Ptr<T> Base::cast() const {
    if (!isKindOfClass(T::classIdentity())) return Ptr<T>();
    return Ptr<T>(static_cast<T*>(const_cast<Base*>(this)));
}

// Declares the class type text and identity of a host class and extends the kind tests by it.
#define ADSK_HOST_CLASS(Class, Parent, TypeText)                                             \
  public:                                                                                    \
    static const char* classType() {                                                         \
        return TypeText;                                                                     \
    }                                                                                        \
    ADSK_HOSTAPI_MODULE_LOCAL static const ::adsk::core::detail::ClassTag& classIdentity() { \
        static const ::adsk::core::detail::ClassTag& tag =                                   \
            ::adsk::core::detail::classTag(classType());                                     \
        return tag;                                                                          \
    }                                                                                        \
    bool isKindOf(const char* type) const override {                                         \
        return std::strcmp(type, classType()) == 0 || Parent::isKindOf(type);                \
    }                                                                                        \
    bool isKindOfClass(const ::adsk::core::detail::ClassTag& tag) const override {           \
        return &tag == &classIdentity() || Parent::isKindOfClass(tag);                       \
    }

// ---------------------------------------------------------------------------------------------
// Enumerations.

enum DialogResults {
    DialogError = -1,
    DialogOK = 0,
    DialogCancel = 1,
    DialogNo = 2,
    DialogYes = 3
};

enum MessageBoxButtonTypes {
    OKButtonType = 0,
    OKCancelButtonType = 1,
    RetryCancelButtonType = 2,
    YesNoButtonType = 3,
    YesNoCancelButtonType = 4
};

enum MessageBoxIconTypes {
    NoIconIconType = 0,
    QuestionIconType = 1,
    InformationIconType = 2,
    WarningIconType = 3,
    CriticalIconType = 4
};

enum CameraTypes {
    OrthographicCameraType = 0,
    PerspectiveCameraType = 1,
    PerspectiveWithOrthoFacesCameraType = 2
};

// The preferred up axis of new designs.
enum DefaultModelingOrientations { YUpModelingOrientation = 0, ZUpModelingOrientation = 1 };

// ---------------------------------------------------------------------------------------------
// Geometry values.

class Vector3D : public Base {
    ADSK_HOST_CLASS(Vector3D, Base, "adsk::core::Vector3D")
    virtual double x() const = 0;
    virtual double y() const = 0;
    virtual double z() const = 0;
    // Scales to length 1; false (vector unchanged) when it has no length.
    virtual bool normalize() = 0;
};

class Point3D : public Base {
    ADSK_HOST_CLASS(Point3D, Base, "adsk::core::Point3D")
    virtual double x() const = 0;
    virtual double y() const = 0;
    virtual double z() const = 0;
    // The vector from this point to other; empty when other is empty.
    virtual Ptr<Vector3D> vectorTo(const Ptr<Point3D>& other) const = 0;
};

// A 4x4 placement matrix; translation in column 3, centimetres.
class Matrix3D : public Base {
    ADSK_HOST_CLASS(Matrix3D, Base, "adsk::core::Matrix3D")
    // Cell at row and column (0 to 3 each); 0 outside.
    virtual double getCell(int row, int column) const = 0;
};

// ---------------------------------------------------------------------------------------------
// Events and handlers.

class Command;
class CommandDefinition;

// Base of the add-in's handler objects. Handlers are owned by the add-in, never by the host;
// the host only keeps their address while they are registered.
class EventHandler {
  public:
    virtual ~EventHandler() = default;
};

class Event : public Base {
    ADSK_HOST_CLASS(Event, Base, "adsk::core::Event")
    std::string name() const { return detail::takeText(name_raw()); }
    virtual char* name_raw() const = 0;
    // The object that raised the event (for command events: the Command).
    virtual Ptr<Base> sender() const = 0;
};

class EventArgs : public Base {
    ADSK_HOST_CLASS(EventArgs, Base, "adsk::core::EventArgs")
    virtual Ptr<Event> firingEvent() const = 0;
};

class CommandCreatedEventArgs : public EventArgs {
    ADSK_HOST_CLASS(CommandCreatedEventArgs, EventArgs, "adsk::core::CommandCreatedEventArgs")
    // The command just created for a click.
    virtual Ptr<Command> command() const = 0;
};

class CommandEventArgs : public EventArgs {
    ADSK_HOST_CLASS(CommandEventArgs, EventArgs, "adsk::core::CommandEventArgs")
};

class CommandCreatedEventHandler : public EventHandler {
  public:
    virtual void notify(const Ptr<CommandCreatedEventArgs>& eventArgs) = 0;
};

class CommandEventHandler : public EventHandler {
  public:
    virtual void notify(const Ptr<CommandEventArgs>& eventArgs) = 0;
};

class CommandCreatedEvent : public Event {
    ADSK_HOST_CLASS(CommandCreatedEvent, Event, "adsk::core::CommandCreatedEvent")
    // Registers handler (not owned); false when null or already registered.
    virtual bool add(CommandCreatedEventHandler* handler) = 0;
    virtual bool remove(CommandCreatedEventHandler* handler) = 0;
};

class CommandEvent : public Event {
    ADSK_HOST_CLASS(CommandEvent, Event, "adsk::core::CommandEvent")
    virtual bool add(CommandEventHandler* handler) = 0;
    virtual bool remove(CommandEventHandler* handler) = 0;
};

// ---------------------------------------------------------------------------------------------
// Commands and user interface.

class CommandDefinition : public Base {
    ADSK_HOST_CLASS(CommandDefinition, Base, "adsk::core::CommandDefinition")
    std::string id() const { return detail::takeText(id_raw()); }
    std::string name() const { return detail::takeText(name_raw()); }
    std::string tooltip() const { return detail::takeText(tooltip_raw()); }
    std::string resourceFolder() const { return detail::takeText(resourceFolder_raw()); }
    virtual char* id_raw() const = 0;
    virtual char* name_raw() const = 0;
    virtual char* tooltip_raw() const = 0;
    virtual char* resourceFolder_raw() const = 0;
    // Raised on every click of a control of this definition.
    virtual Ptr<CommandCreatedEvent> commandCreated() const = 0;
};

class ButtonDefinition : public CommandDefinition {
    ADSK_HOST_CLASS(ButtonDefinition, CommandDefinition, "adsk::core::ButtonDefinition")
};

class CommandDefinitions : public Base {
    ADSK_HOST_CLASS(CommandDefinitions, Base, "adsk::core::CommandDefinitions")
    virtual std::size_t count() const = 0;
    virtual Ptr<CommandDefinition> item(std::size_t index) const = 0;
    virtual Ptr<CommandDefinition> itemById(const std::string& id) const = 0;
    // Empty when id is empty or already defined.
    virtual Ptr<ButtonDefinition> addButtonDefinition(const std::string& id,
                                                      const std::string& name,
                                                      const std::string& tooltip,
                                                      const std::string& resourceFolder) = 0;
};

// The command of one click, passed to the created handlers and sender of its execute event.
class Command : public Base {
    ADSK_HOST_CLASS(Command, Base, "adsk::core::Command")
    virtual Ptr<CommandEvent> execute() const = 0;
    // The definition whose control was clicked; always present for a live command.
    virtual Ptr<CommandDefinition> parentCommandDefinition() const = 0;
};

class ToolbarControl : public Base {
    ADSK_HOST_CLASS(ToolbarControl, Base, "adsk::core::ToolbarControl")
    std::string id() const { return detail::takeText(id_raw()); }
    virtual char* id_raw() const = 0;
    virtual bool isVisible() const = 0;
    virtual bool setVisible(bool visible) = 0;
};

// A control that clicks a command definition; its id is the definition's id.
class CommandControl : public ToolbarControl {
    ADSK_HOST_CLASS(CommandControl, ToolbarControl, "adsk::core::CommandControl")
    virtual Ptr<CommandDefinition> commandDefinition() const = 0;
};

class ToolbarControls : public Base {
    ADSK_HOST_CLASS(ToolbarControls, Base, "adsk::core::ToolbarControls")
    virtual std::size_t count() const = 0;
    virtual Ptr<ToolbarControl> item(std::size_t index) const = 0;
    virtual Ptr<ToolbarControl> itemById(const std::string& id) const = 0;
    // Adds a control for definition next to the control positionId (at the end when empty or
    // unknown), before it when isBefore. Empty when definition is empty or its id is present.
    virtual Ptr<CommandControl> addCommand(const Ptr<CommandDefinition>& definition,
                                           const std::string& positionId, bool isBefore) = 0;
};

class Toolbar : public Base {
    ADSK_HOST_CLASS(Toolbar, Base, "adsk::core::Toolbar")
    std::string id() const { return detail::takeText(id_raw()); }
    virtual char* id_raw() const = 0;
    virtual Ptr<ToolbarControls> controls() const = 0;
};

class Toolbars : public Base {
    ADSK_HOST_CLASS(Toolbars, Base, "adsk::core::Toolbars")
    virtual std::size_t count() const = 0;
    virtual Ptr<Toolbar> item(std::size_t index) const = 0;
    virtual Ptr<Toolbar> itemById(const std::string& id) const = 0;
};

class ToolbarPanel : public Base {
    ADSK_HOST_CLASS(ToolbarPanel, Base, "adsk::core::ToolbarPanel")
    std::string id() const { return detail::takeText(id_raw()); }
    virtual char* id_raw() const = 0;
    virtual Ptr<ToolbarControls> controls() const = 0;
};

class ToolbarPanels : public Base {
    ADSK_HOST_CLASS(ToolbarPanels, Base, "adsk::core::ToolbarPanels")
    virtual std::size_t count() const = 0;
    virtual Ptr<ToolbarPanel> item(std::size_t index) const = 0;
    virtual Ptr<ToolbarPanel> itemById(const std::string& id) const = 0;
};

class Workspace : public Base {
    ADSK_HOST_CLASS(Workspace, Base, "adsk::core::Workspace")
    std::string id() const { return detail::takeText(id_raw()); }
    virtual char* id_raw() const = 0;
    virtual Ptr<ToolbarPanels> toolbarPanels() const = 0;
};

class Workspaces : public Base {
    ADSK_HOST_CLASS(Workspaces, Base, "adsk::core::Workspaces")
    virtual std::size_t count() const = 0;
    virtual Ptr<Workspace> item(std::size_t index) const = 0;
    virtual Ptr<Workspace> itemById(const std::string& id) const = 0;
};

class FileDialog : public Base {
    ADSK_HOST_CLASS(FileDialog, Base, "adsk::core::FileDialog")
    // Filter text such as "RayMint scene (*.rmq)"; filters are separated by ";;".
    virtual bool setFilter(const std::string& filter) = 0;
    virtual bool setFilterIndex(int index) = 0;
    // May hold "%CSIDL_MYDOCUMENTS%", which the host expands.
    virtual bool setInitialDirectory(const std::string& directory) = 0;
    virtual bool setInitialFilename(const std::string& filename) = 0;
    // Shows the dialog as a save dialog (modal); DialogOK when a name was chosen.
    virtual DialogResults showSave() = 0;
    // The chosen file name; empty before showSave or after a cancel.
    std::string filename() const { return detail::takeText(filename_raw()); }
    virtual char* filename_raw() const = 0;
};

class UserInterface : public Base {
    ADSK_HOST_CLASS(UserInterface, Base, "adsk::core::UserInterface")
    virtual Ptr<CommandDefinitions> commandDefinitions() const = 0;
    virtual Ptr<Toolbars> toolbars() const = 0;
    virtual Ptr<Workspaces> workspaces() const = 0;
    virtual Ptr<FileDialog> createFileDialog() = 0;
    // Shows a modal message box; returns the button pressed (DialogOK for OKButtonType).
    virtual DialogResults messageBox(const std::string& text, const std::string& title,
                                     MessageBoxButtonTypes buttons, MessageBoxIconTypes icon) = 0;
};

// ---------------------------------------------------------------------------------------------
// Documents, products, appearances, viewport, preferences.

class Product : public Base {
    ADSK_HOST_CLASS(Product, Base, "adsk::core::Product")
};

class Products : public Base {
    ADSK_HOST_CLASS(Products, Base, "adsk::core::Products")
    virtual std::size_t count() const = 0;
    virtual Ptr<Product> item(std::size_t index) const = 0;
};

class Document : public Base {
    ADSK_HOST_CLASS(Document, Base, "adsk::core::Document")
    // The document's name, e.g. "Gearbox v3"; may be empty.
    std::string name() const { return detail::takeText(name_raw()); }
    virtual char* name_raw() const = 0;
    virtual Ptr<Products> products() const = 0;
};

class UnitsManager : public Base {
    ADSK_HOST_CLASS(UnitsManager, Base, "adsk::core::UnitsManager")
    // The design's default length unit: "mm", "cm", "m", "in" or "ft".
    std::string defaultLengthUnits() const { return detail::takeText(defaultLengthUnits_raw()); }
    virtual char* defaultLengthUnits_raw() const = 0;
};

class Color : public Base {
    ADSK_HOST_CLASS(Color, Base, "adsk::core::Color")
    // Components 0 to 255; false (arguments untouched) when the host has none.
    virtual bool getColor(short& red, short& green, short& blue, short& opacity) const = 0;
};

class Properties;

class Property : public Base {
    ADSK_HOST_CLASS(Property, Base, "adsk::core::Property")
    // Identifier such as "generic_diffuse".
    std::string id() const { return detail::takeText(id_raw()); }
    std::string name() const { return detail::takeText(name_raw()); }
    virtual char* id_raw() const = 0;
    virtual char* name_raw() const = 0;
};

// The image or procedural texture connected to a colour property.
class AppearanceTexture : public Base {
    ADSK_HOST_CLASS(AppearanceTexture, Base, "adsk::core::AppearanceTexture")
    virtual Ptr<Properties> properties() const = 0;
};

class ColorProperty : public Property {
    ADSK_HOST_CLASS(ColorProperty, Property, "adsk::core::ColorProperty")
    // The colour value; empty when the property has none.
    virtual Ptr<Color> value() const = 0;
    virtual bool hasConnectedTexture() const = 0;
    // Empty when no texture is connected.
    virtual Ptr<AppearanceTexture> connectedTexture() const = 0;
};

class FilenameProperty : public Property {
    ADSK_HOST_CLASS(FilenameProperty, Property, "adsk::core::FilenameProperty")
    // The file name, as stored in the appearance (not checked).
    std::string value() const { return detail::takeText(value_raw()); }
    virtual char* value_raw() const = 0;
};

// Properties of other value kinds (numbers, booleans, ...), readable by identifier only.
class FloatProperty : public Property {
    ADSK_HOST_CLASS(FloatProperty, Property, "adsk::core::FloatProperty")
    virtual double value() const = 0;
};

class Properties : public Base {
    ADSK_HOST_CLASS(Properties, Base, "adsk::core::Properties")
    virtual std::size_t count() const = 0;
    virtual Ptr<Property> item(std::size_t index) const = 0;
    virtual Ptr<Property> itemById(const std::string& id) const = 0;
};

class Appearance : public Base {
    ADSK_HOST_CLASS(Appearance, Base, "adsk::core::Appearance")
    std::string name() const { return detail::takeText(name_raw()); }
    // Unique among the appearances of a document.
    std::string id() const { return detail::takeText(id_raw()); }
    virtual char* name_raw() const = 0;
    virtual char* id_raw() const = 0;
    virtual Ptr<Properties> appearanceProperties() const = 0;
};

class Camera : public Base {
    ADSK_HOST_CLASS(Camera, Base, "adsk::core::Camera")
    virtual CameraTypes cameraType() const = 0;
    // Centimetres.
    virtual Ptr<Point3D> eye() const = 0;
    virtual Ptr<Point3D> target() const = 0;
    virtual Ptr<Vector3D> upVector() const = 0;
    // Vertical view angle of a perspective camera, radians.
    virtual double perspectiveAngle() const = 0;
};

class Viewport : public Base {
    ADSK_HOST_CLASS(Viewport, Base, "adsk::core::Viewport")
    virtual Ptr<Camera> camera() const = 0;
};

class GeneralPreferences : public Base {
    ADSK_HOST_CLASS(GeneralPreferences, Base, "adsk::core::GeneralPreferences")
    virtual DefaultModelingOrientations defaultModelingOrientation() const = 0;
};

class Preferences : public Base {
    ADSK_HOST_CLASS(Preferences, Base, "adsk::core::Preferences")
    virtual Ptr<GeneralPreferences> generalPreferences() const = 0;
};

class ADSK_HOSTAPI_EXPORT Application : public Base {
    ADSK_HOST_CLASS(Application, Base, "adsk::core::Application")
    // The running host's application; empty when no host has registered one.
    static Ptr<Application> get();

    virtual Ptr<UserInterface> userInterface() const = 0;
    // Empty when no document is open.
    virtual Ptr<Document> activeDocument() const = 0;
    virtual Ptr<Viewport> activeViewport() const = 0;
    virtual Ptr<Preferences> preferences() const = 0;
};

// ---------------------------------------------------------------------------------------------
// Host side only: not for add-in code.
namespace detail {

// The host registers how Application::get() finds its application (nullptr unregisters).
using ApplicationProvider = Ptr<Application> (*)();
ADSK_HOSTAPI_EXPORT void setApplicationProvider(ApplicationProvider provider);

// Host-allocated copies, each recorded until handed back with DeallocateArrayInternal.
ADSK_HOSTAPI_EXPORT char* allocateText(const std::string& text);
ADSK_HOSTAPI_EXPORT int* allocateArray(const std::vector<int>& values, std::size_t& count);
ADSK_HOSTAPI_EXPORT float* allocateArray(const std::vector<float>& values, std::size_t& count);
ADSK_HOSTAPI_EXPORT double* allocateArray(const std::vector<double>& values, std::size_t& count);

// Audit: references currently held, by object type text (only non-zero entries).
ADSK_HOSTAPI_EXPORT std::map<std::string, long> heldReferences();
// Audit: arrays handed out and not handed back, by element type ("char", "int", "float",
// "double"); a text counts as a char array.
ADSK_HOSTAPI_EXPORT std::map<std::string, long> heldArrays();
// Number of DeallocateArrayInternal calls with a pointer that was not outstanding.
ADSK_HOSTAPI_EXPORT long arrayFaults();

}  // namespace detail

}  // namespace adsk::core
