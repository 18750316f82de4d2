// Dialog templates and where the layer finds them. A template lists the dialog's caption, styles
// and size in dialog units, and its controls in creation (and tab) order. Templates come from a
// ResourceProvider: a literal one in tests, the XML files of data/ui in the program.
#pragma once

#include <map>
#include <memory>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/gui/gui.h"

namespace gui {

struct ControlTemplate {
    int id = 0;
    std::string className;
    std::string caption;
    DWORD style = 0;  // without WS_CHILD and WS_VISIBLE: the dialog adds them
    DWORD exStyle = 0;
    int x = 0, y = 0, w = 0, h = 0;  // dialog units
    bool hidden = false;
};

struct DialogTemplate {
    int id = 0;
    std::string name;
    std::string caption;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, w = 0, h = 0;  // dialog units
    int menuId = 0;
    std::vector<ControlTemplate> controls;
};

// A menu: items in order; a popup item holds items of its own.
struct MenuItemTemplate {
    int id = 0;
    std::string text;  // a shortcut is joined with a tab: "menu_start\tF5"
    bool separator = false;
    bool popup = false;
    bool checked = false;
    bool grayed = false;
    std::vector<MenuItemTemplate> items;
};

struct MenuTemplate {
    int id = 0;
    std::string name;
    std::vector<MenuItemTemplate> items;
};

struct AcceleratorTable {
    int id = 0;
    std::vector<ACCEL> entries;
};

// A picture the program ships: PNG or BMP bytes as they are in the file.
struct ImageResource {
    int id = 0;
    std::string type;  // "png" or "bmp"
    std::string bytes;
};

// Ids that several controls may share (labels nobody addresses).
inline constexpr int kAnonymousControlId = -1;

// Checks what every template must satisfy: a known class for each control, no control id used
// twice, positions and sizes within 16 bits. Returns "" or the first problem, naming the template and the control.
std::string CheckDialogTemplate(const DialogTemplate& t);
// Whether the class is one the layer builds (the built-in controls) or one registered for the
// instance.
bool IsKnownControlClass(HINSTANCE instance, const std::string& className);

class ResourceProvider {
public:
    virtual ~ResourceProvider() = default;
    // The template, or null when the provider has none with that id.
    virtual std::shared_ptr<const DialogTemplate> FindDialog(HINSTANCE instance, int id) const = 0;
    virtual std::shared_ptr<const MenuTemplate> FindMenu(HINSTANCE, int) const { return nullptr; }
    virtual std::shared_ptr<const AcceleratorTable> FindAccelerators(HINSTANCE, int) const { return nullptr; }
    virtual std::shared_ptr<const ImageResource> FindImage(HINSTANCE, int) const { return nullptr; }
};

// The bytes of picture id: from a module registered for instance, else from the provider.
// None when neither has it.
std::optional<std::string> LoadResourceBytes(HINSTANCE instance, int id);
// A loaded library that hands out its own pictures (its GetResourceData entry); null fn removes it.
using ResourceDataFn = std::function<std::optional<std::string>(int id)>;
void RegisterResourceModule(HINSTANCE module, ResourceDataFn fn);

// Installs the provider dialogs are created from (null: none).
void SetResourceProvider(std::shared_ptr<ResourceProvider> provider);
std::shared_ptr<ResourceProvider> GetResourceProvider();

// Templates given in code.
class LiteralResources : public ResourceProvider {
public:
    void Add(DialogTemplate t);
    void Add(MenuTemplate t);
    void Add(AcceleratorTable t);
    void Add(ImageResource t);
    std::shared_ptr<const DialogTemplate> FindDialog(HINSTANCE instance, int id) const override;
    std::shared_ptr<const MenuTemplate> FindMenu(HINSTANCE instance, int id) const override;
    std::shared_ptr<const AcceleratorTable> FindAccelerators(HINSTANCE instance, int id) const override;
    std::shared_ptr<const ImageResource> FindImage(HINSTANCE instance, int id) const override;

private:
    mutable std::mutex m_;
    std::map<int, std::shared_ptr<const DialogTemplate>> dialogs_;
    std::map<int, std::shared_ptr<const MenuTemplate>> menus_;
    std::map<int, std::shared_ptr<const AcceleratorTable>> accelerators_;
    std::map<int, std::shared_ptr<const ImageResource>> images_;
};

// The XML form:
//   <dialog id="293" name="prompt" w="222" h="90" caption="_prompt" style="WS_POPUP WS_CAPTION">
//     <control id="1244" class="Static" x="8" y="8" w="206" h="38" style="SS_NOTIFY" hidden="1"/>
//   </dialog>
// style and exStyle take names or a number. Parses one dialog; false with a message on any
// problem (malformed text, a missing id, an unknown class or style name, a sorted list, a
// repeated control id).
bool ParseDialogXml(const std::string& text, DialogTemplate& out, std::string& error);
// <menu id="295"><popup text="tray"><item id="40308" text="menu_show_ui" checked="1" grayed="1"/>
//   <item id="40006" text="menu_start" shortcut="F5"/><separator/></popup></menu>
bool ParseMenuXml(const std::string& text, MenuTemplate& out, std::string& error);
// <accelerators id="112"><accel key="VK_INSERT" cmd="40011"/><accel key="R" mods="ctrl alt" cmd="40082"/>
// </accelerators>. key: a VK_ name, or one letter or digit.
bool ParseAcceleratorsXml(const std::string& text, AcceleratorTable& out, std::string& error);
// Resolves a list of style names (or one number) for a class ("" = the dialog itself).
bool ParseStyleNames(const std::string& text, const std::string& className, bool extended, DWORD& out,
                     std::string& error);

// The resources of a folder: <folder>/dialogs/<id>-<name>.xml and <folder>/menus/<id>-<name>.xml,
// one each, <folder>/accelerators.xml, and <folder>/images.xml listing the pictures:
//   <images><image id="299" type="png" file="images/splash.png"/></images>
class XmlResourceFolder : public ResourceProvider {
public:
    // Reads every file. False with the problems found (a bad file, a file name whose id prefix
    // differs from the resource's id, an id used by two files); what was read stays available.
    bool Load(const std::string& folder, std::string& error);
    std::shared_ptr<const DialogTemplate> FindDialog(HINSTANCE instance, int id) const override;
    std::shared_ptr<const MenuTemplate> FindMenu(HINSTANCE instance, int id) const override;
    std::shared_ptr<const AcceleratorTable> FindAccelerators(HINSTANCE instance, int id) const override;
    std::shared_ptr<const ImageResource> FindImage(HINSTANCE instance, int id) const override;
    std::vector<int> DialogIds() const;
    std::vector<int> MenuIds() const;

private:
    mutable std::mutex m_;
    std::map<int, std::shared_ptr<const DialogTemplate>> dialogs_;
    std::map<int, std::shared_ptr<const MenuTemplate>> menus_;
    std::map<int, std::shared_ptr<const AcceleratorTable>> accelerators_;
    std::map<int, std::shared_ptr<const ImageResource>> images_;
};

}  // namespace gui
