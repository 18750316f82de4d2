// Geometry between screen and client coordinates, window positions and the screen, layered
// windows, and the drawing records.
#include "gui_fixture.h"

namespace {

using namespace gui;

class Desktop : public sqtest::GuiTest {};

TEST_F(Desktop, FramesAndCoordinates) {
    struct Case {
        const char* name;
        DWORD style;
        bool menu;
    } cases[] = {{"overlapped", WS_OVERLAPPEDWINDOW, false},
                 {"overlapped with a menu bar", WS_OVERLAPPEDWINDOW, true},
                 {"caption only", WS_POPUP | WS_CAPTION, false},
                 {"popup", WS_POPUP, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND w = MakeWindow(c.style);
        if (c.menu) {
            HMENU bar = CreateMenu();
            AppendMenuA(bar, MF_STRING, 1, "File");
            SetMenu(w, bar);
        }
        RECT window, client;
        GetWindowRect(w, &window);
        GetClientRect(w, &client);
        RECT adjusted = client;
        AdjustWindowRect(&adjusted, c.style, c.menu);
        EXPECT_EQ(adjusted.right - adjusted.left, window.right - window.left);
        EXPECT_EQ(adjusted.bottom - adjusted.top, window.bottom - window.top);

        // The client origin maps to the screen point just inside the frame, and back.
        POINT p{0, 0};
        ASSERT_TRUE(ClientToScreen(w, &p));
        EXPECT_EQ(p.x, window.left - adjusted.left);
        EXPECT_EQ(p.y, window.top - adjusted.top);
        ASSERT_TRUE(ScreenToClient(w, &p));
        EXPECT_EQ(p.x, 0);
        EXPECT_EQ(p.y, 0);

        // A child's points in its parent's client area.
        HWND child = MakeWindow(WS_CHILD | WS_VISIBLE, w, 3);  // at (10, 10)
        POINT q{5, 6};
        MapWindowPoints(child, w, &q, 1);
        EXPECT_EQ(q.x, 15);
        EXPECT_EQ(q.y, 16);
        if (c.menu) DestroyMenu(GetMenu(w));
        DestroyWindow(w);
    }
}

TEST_F(Desktop, PositionsScreenAndLayers) {
    HWND w = MakeWindow(WS_POPUP | WS_VISIBLE);
    ASSERT_TRUE(SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
    EXPECT_TRUE(GetWindowLongPtrA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
    SetWindowPos(w, nullptr, 100, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_TRUE(GetWindowLongPtrA(w, GWL_EXSTYLE) & WS_EX_TOPMOST) << "SWP_NOZORDER keeps it";
    RECT r = drv.Rect(w);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 300) << "SWP_NOSIZE keeps the size";
    SetWindowPos(w, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_HIDEWINDOW);
    EXPECT_FALSE(GetWindowLongPtrA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(drv.Visible(w));

    RECT work;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_EQ(work.bottom, 1040);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080);

    EXPECT_FALSE(SetLayeredWindowAttributes(w, 0, 128, LWA_ALPHA)) << "only layered windows";
    HWND layered = CreateWindowExA(WS_EX_LAYERED | WS_EX_TOOLWINDOW, "RecordingWindow", "", WS_POPUP, 0, 0, 10, 10,
                                   nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(SetLayeredWindowAttributes(layered, 0, 128, LWA_ALPHA));
    EXPECT_EQ(drv.Alpha(layered), 128);

    ShowWindow(w, SW_SHOW);
    ASSERT_TRUE(drv.Mouse(w, WM_MOUSEMOVE, 7, 8));
    POINT cursor;
    GetCursorPos(&cursor);
    EXPECT_EQ(cursor.x, 107);
    EXPECT_EQ(cursor.y, 58);
    DestroyWindow(layered);
    DestroyWindow(w);
}

TEST_F(Desktop, DrawingRecords) {
    HBRUSH key = CreateSolidBrush(RGB(16, 0, 16));
    EXPECT_EQ(DescribeGdiObject(key).kind, GdiRecord::Brush);
    EXPECT_EQ(DescribeGdiObject(key).color, RGB(16, 0, 16));
    HFONT mono = CreateFontA(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "Courier New");
    EXPECT_EQ(DescribeGdiObject(mono).face, "Courier New");
    EXPECT_EQ(DescribeGdiObject(mono).height, 14);

    HGDIOBJ black = GetStockObject(BLACK_BRUSH);
    EXPECT_EQ(GetStockObject(BLACK_BRUSH), black) << "stock objects are shared";
    EXPECT_TRUE(DeleteObject(black));
    EXPECT_EQ(DescribeGdiObject(black).color, RGB(0, 0, 0)) << "and never deleted";
    EXPECT_TRUE(DeleteObject(key));
    EXPECT_FALSE(DeleteObject(key)) << "a deleted brush is gone";
    EXPECT_EQ(DescribeGdiObject(key).kind, GdiRecord::None);

    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_WAIT), wait);
    SetCursor(wait);
    EXPECT_EQ(SetCursor(LoadCursorA(nullptr, IDC_ARROW)), wait);
    HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(106));
    EXPECT_EQ(DescribeGdiObject(icon).resourceId, 106);
    HWND w = MakeWindow();
    SetClassLongPtrA(w, GCLP_HICON, reinterpret_cast<uintptr_t>(icon));
    EXPECT_EQ(GetClassLongPtrA(w, GCLP_HICON), reinterpret_cast<uintptr_t>(icon));
    DeleteObject(mono);
    DestroyWindow(w);
}

}  // namespace
