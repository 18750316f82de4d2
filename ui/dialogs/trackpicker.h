// The track picker: titles and chapters of a Blu-ray or DVD, tracks of a Video CD or of an audio
// CD, added to the queue with a disc address as their path. Blu-ray and DVD titles and chapters
// come from the player's title probe, audio CD tracks from the CD drive's table of contents.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/framework/window.h"
#include "ui/ids.h"

namespace ui {

class CAddTrackDialog : public CWindow {
public:
    enum DiscKind { kBluray = 0, kDvd = 1, kVideoCd = 2, kAudioCd = 3 };

    struct CdTrackInfo {
        std::string title;
        std::string artist;
    };
    // The player's disc probe (kind, title, device) -> its output; replaceable for tests.
    using TitleProbe = std::function<std::string(int kind, int title, const char* device)>;
    static void SetTitleProbe(TitleProbe probe);

    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnSelChange(int id, int code, HWND control) override;

    // The path field, or the selected drive followed by the kind's folder; "" for no disc.
    std::string DiscRoot();
    void FillTitles();
    void FillChapters();
    void AddSelected();
    // Closes and destroys the window (ending a modeless dialog only hides it).
    void CloseWindow();

    std::vector<CdTrackInfo> cdTracks;
    int discKind = kBluray;
    int titleCount = 0;
};

// The one picker of the process: opened (or brought to the front) modeless.
CAddTrackDialog& AddTrackDialog();
void ShowAddTrackDialog(HWND parent);

}  // namespace ui
