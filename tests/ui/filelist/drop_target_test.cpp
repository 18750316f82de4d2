// The main window's drop target on the headless layer: dropped files reach the queue through the
// file-list callback, dropped text reaches the text callback, and the keys choose the effect.
#include "ui/filelist/drop_target.h"

#include <fstream>

#include "engine/queue/queue.h"
#include "platform/gui/gui_fixture.h"
#include "support/tempdir.h"
#include "ui/filelist/queue_adder.h"

namespace {

using namespace gui;

TEST(DropEffect, KeysChooseAmongTheAllowedEffects) {
    const DWORD both = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    const struct {
        DWORD keys, allowed, effect;
    } cases[] = {
        {MK_CONTROL, both, DROPEFFECT_COPY},          {MK_CONTROL, DROPEFFECT_MOVE, DROPEFFECT_MOVE},
        {MK_SHIFT, both, DROPEFFECT_MOVE},            {MK_SHIFT, DROPEFFECT_COPY, DROPEFFECT_COPY},
        {0, both, DROPEFFECT_MOVE},                   {0, DROPEFFECT_COPY, DROPEFFECT_COPY},
        {MK_CONTROL, DROPEFFECT_LINK, DROPEFFECT_NONE}, {0, DROPEFFECT_NONE, DROPEFFECT_NONE},
    };
    for (const auto& c : cases) EXPECT_EQ(ChooseDropEffect(c.keys, c.allowed), c.effect) << c.keys << " " << c.allowed;
}

TEST(DropTargetObject, AnswersItsTwoInterfacesAndIsNeverFreed) {
    CDropTarget& target = CDropTarget::Instance();
    void* out = &target;
    EXPECT_EQ(target.QueryInterface(IID_IDropTarget, &out), S_OK);
    EXPECT_EQ(out, static_cast<IDropTarget*>(&target));
    EXPECT_EQ(target.QueryInterface(IID_IUnknown, &out), S_OK);
    const IID other{0x12345678, 0, 0, {}};
    EXPECT_EQ(target.QueryInterface(other, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    const uint32_t before = target.AddRef();
    EXPECT_EQ(target.Release(), before - 1);
    target.Release();
    target.Release();
    EXPECT_EQ(target.AddRef(), before - 2) << "the count goes on; the object stays";
    target.AddRef();
}

class Dropping : public sqtest::GuiTest {
protected:
    void SetUp() override {
        sqtest::GuiTest::SetUp();
        QueueClear();
    }
    void TearDown() override {
        CDropTarget::Instance().SetCallbacks(nullptr, nullptr);
        CDropTarget::Instance().SetWindow(nullptr);
        QueueClear();
        sqtest::GuiTest::TearDown();
    }
    sqtest::TempDir dir;
    QueueAdder adder;
};

TEST_F(Dropping, FilesAreQueuedAndTextIsHandedOn) {
    HWND main = MakeWindow();
    CDropTarget& target = CDropTarget::Instance();
    target.SetWindow(main);
    ASSERT_EQ(RegisterDragDrop(main, &target), S_OK);
    std::vector<std::string> texts;
    target.SetCallbacks([&](const char* text) { texts.push_back(text); },
                        [&](HDROP files) {
                            for (const std::string& path : DroppedFiles(files)) adder.AddFile(path);
                        });
    std::ofstream(dir.file("b.flac")) << "x";
    const std::string list = dir.write("two.m3u", "b.flac\nc \xC3\xA9.mp3\n");
    const std::string a = dir.file("a b.wav");

    EXPECT_EQ(drv.Drop(main, {a, list}, MK_LBUTTON | MK_CONTROL), DROPEFFECT_COPY);
    ASSERT_EQ(QueueCount(), 3);
    EXPECT_STREQ(QueueGetItem(0)->file, a.c_str());
    EXPECT_STREQ(QueueGetItem(1)->file, dir.file("b.flac").c_str());
    EXPECT_STREQ(QueueGetItem(2)->file, dir.file("c \xC3\xA9.mp3").c_str());
    EXPECT_EQ(GetFocus(), main);

    EXPECT_EQ(drv.DropText(main, "http://radio.invalid/stream"), DROPEFFECT_MOVE);
    EXPECT_EQ(texts, std::vector<std::string>{"http://radio.invalid/stream"});

    // Without callbacks a drop is still taken and nothing is called.
    target.SetCallbacks(nullptr, nullptr);
    EXPECT_EQ(drv.Drop(main, {a}, MK_LBUTTON | MK_SHIFT), DROPEFFECT_MOVE);
    EXPECT_EQ(QueueCount(), 3);
    DestroyWindow(main);
}

}  // namespace
