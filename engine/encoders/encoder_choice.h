// The format chooser: which audio encoder converts an item when "overall.audio.autoEncoder" lets
// the output format decide. The batch makes the same choice when it sets up an item's audio pass;
// the window and the web interface name the encoder through this.
#pragma once

struct QueueItem;

// With automatic choice on: ffmpeg when streaming (task mode 6), else the encoder of the output
// format ("overall.audio.format"). -1 with automatic choice off, where the encoder the user picked
// ("overall.audio.encoder") converts. Video encoders are not chosen by format: considerVideo
// changes nothing.
int ChooseEncoderForItem(QueueItem* item, bool considerVideo);
