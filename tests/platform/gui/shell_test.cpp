// File and folder dialogs (the OFN buffer for one and several files), the tray icon, and drops
// of files and text.
#include <cstring>

#include "gui_fixture.h"

namespace {

using namespace gui;

class Shell : public sqtest::GuiTest {};

// The bytes of an OFN buffer up to its double terminator.
std::string Bytes(const char* buffer, size_t size) {
    size_t n = 0;
    while (n + 1 < size && !(buffer[n] == '\0' && buffer[n + 1] == '\0')) ++n;
    return std::string(buffer, n + 1);
}

TEST_F(Shell, OpenFileNameBuffers) {
    HWND main = MakeWindow();
    std::vector<std::string> answer;
    FileDialogRequest seen;
    bool ownerDisabled = false;
    drv.OnFileDialog([&](const FileDialogRequest& r) -> std::optional<std::vector<std::string>> {
        seen = r;
        ownerDisabled = !IsWindowEnabled(main);
        if (answer.empty()) return std::nullopt;
        return answer;
    });
    struct Case {
        const char* name;
        std::vector<std::string> paths;
        DWORD flags;
        DWORD size;
        BOOL ok;
        std::string bytes;
        WORD offset;
        WORD extension;
    } cases[] = {
        {"one file", {"/music/a.flac"}, OFN_EXPLORER, 260, TRUE, std::string("/music/a.flac\0", 14), 7, 9},
        {"several files", {"/music/a.flac", "/music/b c.mp3"}, OFN_EXPLORER | OFN_ALLOWMULTISELECT, 260, TRUE,
         std::string("/music\0a.flac\0b c.mp3\0", 22), 7, 0},
        {"one of a multiple choice", {"/music/a.flac"}, OFN_EXPLORER | OFN_ALLOWMULTISELECT, 260, TRUE,
         std::string("/music/a.flac\0", 14), 7, 9},
        {"several from different folders", {"/a/x.wav", "/b/y.wav"}, OFN_ALLOWMULTISELECT, 260, FALSE, "", 0, 0},
        {"name without extension", {"/music/notes"}, 0, 260, TRUE, std::string("/music/notes\0", 13), 7, 0},
        {"cancel", {}, 0, 260, FALSE, "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answer = c.paths;
        char buffer[260] = "start.wav";
        OPENFILENAMEA ofn;
        ofn.hwndOwner = main;
        ofn.lpstrFilter = "Audio\0*.flac;*.mp3\0All files\0*.*\0";
        ofn.nFilterIndex = 2;
        ofn.lpstrFile = buffer;
        ofn.nMaxFile = c.size;
        ofn.Flags = c.flags;
        ofn.lpstrTitle = "Add files";
        EXPECT_EQ(GetOpenFileNameA(&ofn), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(Bytes(buffer, sizeof buffer), c.bytes);
        EXPECT_EQ(ofn.nFileOffset, c.offset);
        EXPECT_EQ(ofn.nFileExtension, c.extension);
    }
    EXPECT_TRUE(ownerDisabled) << "the owner waits while the dialog is open";
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_EQ(seen.title, "Add files");
    EXPECT_EQ(seen.initialName, "start.wav");
    EXPECT_EQ(seen.filterIndex, 1);
    ASSERT_EQ(seen.filters.size(), 2u);
    EXPECT_EQ(seen.filters[0], (std::pair<std::string, std::string>{"Audio", "*.flac;*.mp3"}));
    EXPECT_EQ(CommDlgExtendedError(), 0u);

    // A choice that does not fit: FALSE, the error, and the size needed in the first two bytes.
    answer = {"/music/a.flac", "/music/b.flac"};
    char small[12] = {};
    OPENFILENAMEA ofn;
    ofn.lpstrFile = small;
    ofn.nMaxFile = sizeof small;
    ofn.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER;
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), FNERR_BUFFERTOOSMALL);
    WORD need = 0;
    std::memcpy(&need, small, sizeof need);
    EXPECT_EQ(need, 7 + 7 + 7 + 1);

    // Saving: the default extension is added to a bare name.
    answer = {"/out/mix"};
    char name[64] = "";
    OPENFILENAMEA save;
    save.lpstrFile = name;
    save.nMaxFile = sizeof name;
    save.lpstrDefExt = "m3u";
    save.Flags = OFN_OVERWRITEPROMPT;
    EXPECT_TRUE(GetSaveFileNameA(&save));
    EXPECT_STREQ(name, "/out/mix.m3u");
    EXPECT_TRUE(seen.save);
    DestroyWindow(main);
}

TEST_F(Shell, UnscriptedDialogsFailAndCancel) {
    collectFailures = true;
    char buffer[64] = "";
    OPENFILENAMEA ofn;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = sizeof buffer;
    ofn.lpstrTitle = "Open";
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_FALSE(BrowseForFolder(nullptr, "Output folder", "/tmp"));
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_NE(failures[0].find("unscripted file dialog \"Open\""), std::string::npos);
    EXPECT_NE(failures[1].find("unscripted folder dialog \"Output folder\""), std::string::npos);
    drv.OnFolderDialog([](const FileDialogRequest& r) { return std::optional<std::string>(r.initialDir + "/out"); });
    EXPECT_EQ(BrowseForFolder(nullptr, "Output folder", "/tmp"), std::optional<std::string>("/tmp/out"));
}

TEST_F(Shell, TrayIcon) {
    HWND main = MakeWindow();
    NOTIFYICONDATAA nid;
    nid.hWnd = main;
    nid.uID = 1;
    nid.uFlags = NIF_MESSAGE | NIF_TIP;
    nid.uCallbackMessage = 1124;
    std::strcpy(nid.szTip, "Sonquill");
    drv.SetTrayAvailable(false);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &nid)) << "no tray on this desktop";
    drv.SetTrayAvailable(true);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &nid));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &nid)) << "the same icon twice";

    NOTIFYICONDATAA info;
    info.hWnd = main;
    info.uID = 1;
    info.uFlags = NIF_INFO;
    std::strcpy(info.szInfo, "3 files done");
    std::strcpy(info.szInfoTitle, "Sonquill");
    info.dwInfoFlags = NIIF_INFO | NIIF_NOSOUND;
    info.uTimeout = 3000;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &info));
    auto tray = drv.Tray();
    ASSERT_EQ(tray.size(), 1u);
    EXPECT_EQ(tray[0].tip, "Sonquill") << "a modify without NIF_TIP keeps the tip";
    EXPECT_EQ(tray[0].balloons, (std::vector<std::pair<std::string, std::string>>{{"Sonquill", "3 files done"}}));

    log.Clear();
    EXPECT_TRUE(drv.ClickTray(main, 1, WM_RBUTTONUP));
    drv.RaiseTaskbarCreated();
    drv.Pump();
    ASSERT_EQ(log.all.size(), 2u);
    EXPECT_EQ(log.all[0].msg, RegisterWindowMessageA("TaskbarCreated")) << "sent at once";
    EXPECT_EQ(log.all[1].msg, 1124u) << "the click is posted";
    EXPECT_EQ(log.all[1].wParam, 1u);
    EXPECT_EQ(log.all[1].lParam, LPARAM{WM_RBUTTONUP});
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &nid));
    EXPECT_TRUE(drv.Tray().empty());
    EXPECT_FALSE(drv.ClickTray(main, 1));
    DestroyWindow(main);
}

// A drop target that records what it is told and reads the data as the shell's callbacks do.
class RecordingTarget final : public IDropTarget {
public:
    DWORD accept = DROPEFFECT_COPY;
    std::vector<std::string> calls;
    std::vector<std::string> files;
    std::string text;
    uint32_t refs = 1;

    HRESULT QueryInterface(const IID& iid, void** out) override {
        *out = iid == IID_IUnknown || iid == IID_IDropTarget ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }
    HRESULT DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override {
        calls.push_back("enter");
        *effect &= accept;
        return S_OK;
    }
    HRESULT DragOver(DWORD, POINTL, DWORD* effect) override {
        calls.push_back("over");
        *effect &= accept;
        return S_OK;
    }
    HRESULT DragLeave() override {
        calls.push_back("leave");
        return S_OK;
    }
    HRESULT Drop(IDataObject* data, DWORD keys, POINTL, DWORD* effect) override {
        calls.push_back("drop keys=" + std::to_string(keys));
        FORMATETC f;
        STGMEDIUM m;
        f.cfFormat = CF_HDROP;
        if (data->GetData(&f, &m) == S_OK) {
            const UINT n = DragQueryFileA(m.hGlobal, 0xFFFFFFFFu, nullptr, 0);
            for (UINT i = 0; i < n; ++i) {
                std::string name(DragQueryFileA(m.hGlobal, i, nullptr, 0) + 1, '\0');
                name.resize(DragQueryFileA(m.hGlobal, i, name.data(), static_cast<UINT>(name.size())));
                files.push_back(name);
            }
            ReleaseStgMedium(&m);
        }
        f.cfFormat = CF_TEXT;
        if (data->GetData(&f, &m) == S_OK) {
            text = static_cast<const char*>(GlobalLock(m.hGlobal));
            GlobalUnlock(m.hGlobal);
            ReleaseStgMedium(&m);
        }
        *effect &= accept;
        return S_OK;
    }
};

TEST_F(Shell, DropsOfFilesAndText) {
    HWND main = MakeWindow();
    HWND child = MakeWindow(WS_CHILD | WS_VISIBLE, main, 4);
    RecordingTarget target;
    ASSERT_EQ(RegisterDragDrop(main, &target), S_OK);
    EXPECT_EQ(RegisterDragDrop(main, &target), DRAGDROP_E_ALREADYREGISTERED);
    EXPECT_EQ(target.refs, 2u);

    // Dropped on a child: the nearest registered ancestor takes it.
    EXPECT_EQ(drv.Drop(child, {"/music/a b.flac", "/music/\xC3\xA9t\xC3\xA9.mp3"}, MK_LBUTTON | MK_CONTROL), DROPEFFECT_COPY);
    EXPECT_EQ(target.files, (std::vector<std::string>{"/music/a b.flac", "/music/\xC3\xA9t\xC3\xA9.mp3"}));
    EXPECT_EQ(target.calls, (std::vector<std::string>{"enter", "over", "drop keys=8"}));
    EXPECT_EQ(drv.DropText(main, "http://example.invalid/list.m3u"), DROPEFFECT_COPY);
    EXPECT_EQ(target.text, "http://example.invalid/list.m3u");

    target.calls.clear();
    target.accept = DROPEFFECT_NONE;
    EXPECT_EQ(drv.Drop(main, {"/x.wav"}), DROPEFFECT_NONE);
    EXPECT_EQ(target.calls, (std::vector<std::string>{"enter", "leave"})) << "a refused drag leaves";
    EnableWindow(main, FALSE);
    EXPECT_EQ(drv.Drop(main, {"/x.wav"}), DROPEFFECT_NONE) << "a disabled window takes no drop";
    EnableWindow(main, TRUE);

    EXPECT_EQ(target.refs, 2u) << "each drop releases what it took";
    DestroyWindow(main);
    EXPECT_EQ(target.refs, 1u) << "the window's end revokes the registration";
    EXPECT_EQ(RevokeDragDrop(main), DRAGDROP_E_NOTREGISTERED);
}

TEST(DropFiles, DragQueryFileStaysWithinTheBlock) {
    // A record whose names are not terminated, and one whose offset points past its end.
    struct Case {
        const char* name;
        DWORD offset;
        std::string names;
        UINT count;
    } cases[] = {{"unterminated name", sizeof(DROPFILES), "abc", 1}, {"offset past the end", 4096, "a\0\0", 0},
                 {"no names", sizeof(DROPFILES), std::string("\0", 1), 0}};
    for (const auto& c : cases) {
        DROPFILES head;
        head.pFiles = c.offset;
        HGLOBAL h = GlobalAlloc(0, sizeof head + c.names.size());
        auto* p = static_cast<char*>(GlobalLock(h));
        std::memcpy(p, &head, sizeof head);
        std::memcpy(p + sizeof head, c.names.data(), c.names.size());
        EXPECT_EQ(DragQueryFileA(h, 0xFFFFFFFFu, nullptr, 0), c.count) << c.name;
        GlobalFree(h);
    }
}

}  // namespace
