// Audio CD access in two layers. The drive-table layer lists the CD-ROM drives under drive letters
// (D:, E:, ... in the machine's device order), counts a disc's tracks and gives its CDDB disc id
// and query text. The drive-handle layer opens one drive by its letter, reads its table of contents
// as sector addresses and reads raw CD-DA sectors. Of the three back-end names, "ASPI" has no
// library on this system; "SPTI" and "IOCTL_CDROM" both reach the drive through platform/cdrom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kCdBackendAspi = 0;
inline constexpr int kCdBackendSpti = 1;
inline constexpr int kCdBackendIoctl = 2;
inline constexpr int kCdMaxDrives = 8;
inline constexpr size_t kCdTocBytes = 804;
inline constexpr size_t kCdDiscInfoBytes = 2048;
inline constexpr uint32_t kCdSectorBytes = 2352;
inline constexpr uint32_t kCdSectorsPerSecond = 75;

// The table of contents as a drive returns it with MSF addresses: data length (2 bytes, big
// endian), first track, last track, then 8-byte descriptors {0, control/address type, track, 0,
// 0, minutes, seconds, frames}; the descriptor after the last track is the lead-out.
struct CdTocBuffer {
    uint8_t bytes[kCdTocBytes] = {};
};

// Selects the back end once (later calls do nothing); 0.
int CdInit(int backend);
void CdShutdown();
// Scans the drives into the drive table (at most eight); their number, 0 when not initialised.
int CdGetDriveCount();
// The drive-table entry's letter, or 0 for an index outside the table.
char CdDriveLetter(int index);
// Tracks of the disc in a drive of the table; 0 for no disc, no drive or an index outside the table.
int CdGetTrackCount(int index);
// The CDDB disc id of the disc; the query text goes to text (kCdDiscInfoBytes) when given. -1 when
// not initialised or the back end is unavailable (the text says which); 0 when there is no disc.
uint32_t CdGetDiscInfo(int index, char* text);
// The disc text of a drive named by its root ("D:" or "D:\"): the CDDB query, or "".
std::string CdDiscText(const char* root);

// Track count of a TOC buffer: last - first + 1 when the descriptors it needs are all present.
int CdTocTrackCount(const CdTocBuffer& toc);
uint32_t CddbDiscId(const CdTocBuffer& toc);
// "cddb query <id> <n> <frame offsets> <lead-out seconds>", cut to size - 1 characters.
const char* CddbQueryString(const CdTocBuffer& toc, char* buffer, size_t size);
// Fills a TOC buffer with MSF addresses; false when the drive has no readable disc (toc zeroed).
struct CdDrive;
bool CdReadTocBuffer(CdDrive* drive, CdTocBuffer* toc);

// Opens the drive of a letter (upper or lower case); null when there is none or it cannot open.
CdDrive* CdOpenDrive(char letter);
// Track count n; starts gets n + 1 sector addresses (the tracks and the lead-out). 0 on failure.
int CdReadToc(CdDrive* drive, std::vector<uint32_t>* starts);
// count x 2352 bytes of CD-DA from lba: 0, or -1 on failure.
int CdReadSectors(CdDrive* drive, uint32_t lba, void* buffer, uint32_t count);
void CdCloseDrive(CdDrive* drive);
