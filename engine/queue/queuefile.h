// "queue.xml": the task queue saved to and loaded from the data folder. Root `queue`, one `item`
// element per queue entry in queue order; the item's fields, its container, stream records, tags
// and target are child elements written and read through field tables.
#pragma once

#include <cstdint>
#include <string>

#include "common/charset.h"
#include "common/xml.h"
#include "engine/queue/queue.h"

enum QueueFieldKind : uint8_t {
    kQueueFieldInt = 1,
    kQueueFieldFloat = 4,
    kQueueFieldText = 5,
};

// One row of a field table: element name, field address and kind; a row with a null name ends
// the table. Integers are written and read at their own width (2 or 4 bytes).
struct QueueFieldDesc {
    const char* name = nullptr;
    void* address = nullptr;
    uint8_t kind = 0;
    uint8_t width = 0;

    QueueFieldDesc() = default;
    QueueFieldDesc(const char* n, uint32_t* p) : name(n), address(p), kind(kQueueFieldInt), width(4) {}
    QueueFieldDesc(const char* n, int32_t* p) : name(n), address(p), kind(kQueueFieldInt), width(4) {}
    QueueFieldDesc(const char* n, uint16_t* p) : name(n), address(p), kind(kQueueFieldInt), width(2) {}
    QueueFieldDesc(const char* n, float* p) : name(n), address(p), kind(kQueueFieldFloat), width(4) {}
    QueueFieldDesc(const char* n, char** p) : name(n), address(p), kind(kQueueFieldText), width(0) {}
};

// Appends one element per row as XML text: integers when non-zero as "%d", floats when non-zero
// as "%f", texts when non-null, converted to UTF-8 by toUtf8 (null: written as they are), escaped,
// characters XML cannot hold dropped.
void AppendFieldTable(std::string& out, const QueueFieldDesc* table, CCharset* toUtf8 = nullptr);
// Adds one child element per row at the document cursor (the cursor stays): integers when
// non-zero as "%d", floats when non-zero as "%f", texts when non-null, converted to UTF-8 by
// toUtf8 (null: written as they are). Text is escaped; characters XML cannot hold are dropped.
void WriteFieldTable(CXML& xml, const QueueFieldDesc* table, CCharset* toUtf8 = nullptr);
// Looks for each row's element among the cursor's siblings and stores its text: integers read
// as 64-bit numbers and cut to the field's width (so both "-1" and "4294967295" give 0xFFFFFFFF),
// floats as decimal text, texts as heap copies converted from UTF-8 by fromUtf8 (null: as they
// are), exactly as they stand. Rows without an element leave their field unchanged.
void ReadFieldTable(CXML& xml, const QueueFieldDesc* table, CCharset* fromUtf8 = nullptr);

// Appends one `item` element for the item as XML text, as queue.xml holds it.
void AppendQueueItemXml(std::string& out, const QueueItem* item, CCharset* toUtf8 = nullptr);
// Adds one `item` element for the item at the cursor (the cursor stays). Flags that belong to a
// running job are not written.
void WriteQueueItemXml(CXML& xml, const QueueItem* item, CCharset* toUtf8 = nullptr);
// Makes a new item (QueueNewItem, not linked) from an `item` element that has a `file` child
// holding text; null otherwise. Interrupted work (states 3, 6, 7, 8) becomes ready again, and
// the flags of a running job (claimed, started, test phase) are cleared.
QueueItem* ReadQueueItemXml(CXML& xml, XmlNode element, CCharset* fromUtf8 = nullptr);

// Results of LoadQueueFile besides the count of items loaded.
inline constexpr int kQueueFileMissing = -1;  // no file, or it cannot be opened
inline constexpr int kQueueFileDamaged = -2;  // not a queue document (does not parse, other root)

// Saves the queue (done items left out when "overall.task.removeDone" is set) through a temporary
// file renamed over the old one. An empty queue removes the file. A file that the last load found
// damaged is kept beside it as "<path>.damaged" rather than replaced or removed.
// The number of items in the queue (0 for an empty queue), or -1 when the file could not be
// written (the old one stays whole) or an empty queue's old file could not be removed.
int SaveQueueFile(const char* path);
// Appends the items of the file in order; reading stops at the first item that cannot be made or
// appended (that item is freed). The number of items loaded, kQueueFileMissing or
// kQueueFileDamaged (the file is left as it is).
int LoadQueueFile(const char* path);
// The file holds a queue that the one in memory did not come from (the program started with files
// of its own): until it is loaded, SaveQueueFile of that path leaves it as it is and answers the
// number of items as if it had saved them. Null forgets it.
void KeepQueueFile(const char* path);
