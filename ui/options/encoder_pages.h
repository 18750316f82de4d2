// The encoder pages hosted by the audio tab: one page per encoder, bound to that encoder's keys
// ("audioenc.<name>."), with the rules of the rate-mode pages that move the slider and the number
// box between a quality key and a bit-rate key.
#pragma once

#include "ui/options/option_tab.h"

namespace ui {

// Index = encoder id + 1. Index 0 is the summary page; encoders without settings of their own get
// a page that only opens the encoder settings, titled with the encoder's name.
COptionPage* CreateEncoderPage(int index);

// Template ids of every encoder page (for the checks of the shipped templates).
const std::vector<int>& EncoderPageTemplates();

}  // namespace ui
