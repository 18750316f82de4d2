// Checks made before an item is converted: joined inputs fit together, the temporary folder is
// usable and has room, and the output may be written (what to do with an existing file, the
// output folder, a probe write). Each reports through engine events and the item's state.
#pragma once

#include <cstdint>
#include <string>

struct QueueItem;

// True when the item and the following items of its join group can be joined.
bool CheckJoinSettings(QueueItem* item, bool compareAudio);
// True when a temporary folder is usable and has room; the working choice is written back to
// "overall.task.tempdir".
bool CheckTempDir(QueueItem* item);

enum OverwriteAnswer : int { kOverwrite = 1, kMovedAside = 2, kSkipOutput = 3, kNoFileThere = 4 };
// What happens to an existing output; a null path gives kSkipOutput.
int ApplyOverwritePolicy(const char* path, bool quiet);
// 0 when the output may be written, -1 otherwise (the item's state says why).
int PrepareOutputPath(QueueItem* item, const char* path, bool quiet);
// Forgets the overwrite answer kept for the batch (a batch starts).
void ClearKeptOverwriteAnswer();

// The name an existing output is moved to: the postfix before the file name's last '.', or at its
// end when the name has none.
std::string PostfixedName(const std::string& path, const std::string& postfix);
// A localised text whose "%s" conversions are replaced in order by the arguments ("%%" is '%');
// every other '%' stays as it stands, so a translated text can never misread the arguments.
std::string FormatKeyText(const char* key, const std::string& a, const std::string& b = std::string());

// Available bytes in a folder; tests replace the query. False when it cannot be read.
using FreeSpaceQuery = bool (*)(const std::string& folder, uint64_t* bytes);
void SetFreeSpaceQuery(FreeSpaceQuery query);
