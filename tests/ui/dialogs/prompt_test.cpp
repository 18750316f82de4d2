// The count-down prompt: its buttons and title by kind, the count-down in the title and its end
// with the default result, the check box, and closing.
#include "ui/dialogs/prompt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/gui/driver.h"
#include "platform/gui/resources.h"

namespace {

using gui::testing::Driver;

class Prompt : public ::testing::Test {
protected:
    Prompt() {
        auto resources = std::make_shared<gui::XmlResourceFolder>();
        std::string error;
        EXPECT_TRUE(resources->Load(std::string(SQ_OUT_DIR) + "/ui", error)) << error;
        Driver::Options options;
        options.resources = resources;
        driver = std::make_unique<Driver>([](const std::string& what) { ADD_FAILURE() << what; }, options);
        // The language files name their tables relative to the program folder.
        const auto cwd = std::filesystem::current_path();
        std::filesystem::current_path(SQ_OUT_DIR);
        EXPECT_EQ(ui::UiStrings().Load("lang.xml", "qxgui", 1, nullptr, 0), 0);
        std::filesystem::current_path(cwd);
    }
    ~Prompt() override { ui::UiStrings().Destroy(); }
    std::unique_ptr<Driver> driver;
};

TEST_F(Prompt, EachKindShowsItsButtonsAndDefaultTitle) {
    struct Case {
        uint32_t kind;
        const char* ok;
        const char* cancel;  // null: hidden
        const char* title;
    } cases[] = {{ui::kPromptMessage, "OK", nullptr, "Message"},
                 {ui::kPromptConfirm, "OK", "Cancel", "Confirm"},
                 {ui::kPromptQuestion, "Yes", "No", "Question"}};
    for (const Case& c : cases) {
        driver->OnModal(ui::dlg::prompt::id, [&](Driver& d, gui::HWND dlg) {
            EXPECT_EQ(d.Text(dlg), c.title);
            EXPECT_EQ(d.Text(d.Find(dlg, 1244)), "Go on?");
            EXPECT_EQ(d.Text(d.Find(dlg, gui::IDOK)), c.ok);
            EXPECT_EQ(d.Visible(d.Find(dlg, gui::IDCANCEL)), c.cancel != nullptr);
            if (c.cancel) {
                EXPECT_EQ(d.Text(d.Find(dlg, gui::IDCANCEL)), c.cancel);
            }
            EXPECT_FALSE(d.Visible(d.Find(dlg, 1243)));
            d.Click(d.Find(dlg, gui::IDOK));
        });
        ui::CDlgPrompt prompt(c.kind, "Go on?", nullptr, 0);
        EXPECT_EQ(prompt.Show(), 1) << c.kind;
    }
    ui::CDlgPrompt unknown(3, "?", nullptr, 0);
    EXPECT_EQ(unknown.Show(), -1);
}

TEST_F(Prompt, CountDownShowsTheSecondsLeftAndEndsWithTheDefault) {
    std::vector<std::string> titles;
    driver->LeaveAlone(ui::dlg::prompt::id);
    ui::CDlgPrompt prompt(ui::kPromptQuestion, "Replace?", "Files", 10, false, 0);
    const uint64_t start = driver->Now();
    EXPECT_EQ(prompt.Show(), 0);
    EXPECT_TRUE(prompt.TimedOut());
    EXPECT_EQ(driver->Now() - start, 10000u) << "eleven steps, the first at once";

    ui::CDlgPrompt notice(ui::kPromptConfirm, "Shut down?", nullptr, 2, false, 1);
    EXPECT_EQ(notice.Show(), 1) << "a notice left alone takes its default";
}

TEST_F(Prompt, TitleCountsDownOnEachTick) {
    std::vector<std::string> titles;
    driver->OnModal(ui::dlg::prompt::id, [&](Driver& d, gui::HWND dlg) {
        titles.push_back(d.Text(dlg));
        d.Advance(1000);
        titles.push_back(d.Text(dlg));
        d.Advance(1000);
        titles.push_back(d.Text(dlg));
        d.Click(d.Find(dlg, gui::IDCANCEL));
    });
    ui::CDlgPrompt prompt(ui::kPromptQuestion, "Replace?", "Files", 10, false, 1);
    EXPECT_EQ(prompt.Show(), 0);
    EXPECT_FALSE(prompt.TimedOut());
    EXPECT_EQ(titles, (std::vector<std::string>{"Files - 10 seconds left", "Files - 9 seconds left",
                                               "Files - 8 seconds left"}));
}

TEST_F(Prompt, CheckBoxAndClosing) {
    driver->OnModal(ui::dlg::prompt::id, [](Driver& d, gui::HWND dlg) {
        ASSERT_TRUE(d.Visible(d.Find(dlg, 1243)));
        EXPECT_EQ(d.Text(d.Find(dlg, 1243)), "Remember my choice");
        d.Click(d.Find(dlg, 1243));
        d.Close(dlg);
    });
    ui::CDlgPrompt prompt(ui::kPromptQuestion, "Revert?", nullptr, 0, true, 0);
    EXPECT_EQ(prompt.Show(), 0) << "closed: the default result";
    EXPECT_TRUE(prompt.CheckBoxTicked());
}

}  // namespace
