// The control server's route handlers that read and change the queue, the preferences and the
// user interface from a web page or a script. Each takes a UrlRequest and answers ReplyFlags;
// unless stated, the reply is plain text in the request's reply buffer. All run on the control
// server's thread; they log under the source "httpd".
#pragma once

#include <cstdint>

struct QueueItem;
struct UrlRequest;

uint32_t HandleQxGet(UrlRequest* request);       // "qx/get": progress query
// "ui", "qx/action": a command for the main window. Only the commands a page may give are passed
// on, as event 21 whose text is the command word, a blank and the "arg" value (argument 0).
uint32_t HandleUiCommand(UrlRequest* request);
uint32_t HandleQxTask(UrlRequest* request);      // "qx/task": posted XML task commands
uint32_t HandlePrefsGet(UrlRequest* request);    // "prefs/get"
uint32_t HandlePrefsSet(UrlRequest* request);    // "prefs/set"
uint32_t HandlePrefsRevert(UrlRequest* request); // "prefs/revert"
uint32_t HandlePrefsXml(UrlRequest* request);    // "prefs/prefs.xml": the preference tree as XML
uint32_t HandlePluginXml(UrlRequest* request);   // "prefs/plugin.xml": the plug-in lists as XML
uint32_t HandlePrefsImport(UrlRequest* request); // "prefs/import": posted preference values
uint32_t HandleOpenUrl(UrlRequest* request);     // "openurl": a web address in the user's browser
uint32_t HandleQueue(UrlRequest* request);       // "queue", "qx/queue": queue actions
uint32_t HandleFileRead(UrlRequest* request);    // "qx/benchmark/fileread": file read speed
uint32_t HandleSensors(UrlRequest* request);     // "sensors/": processor load figures
uint32_t HandleStart(UrlRequest* request);       // "start": the start package file
uint32_t HandleQxPut(UrlRequest* request);       // "qx/put": welcome and update page callbacks

// Hands a malloc'd text to the server as the reply; it is freed after sending.
uint32_t ReplyHeap(UrlRequest* request, char* text, int length, int contentType);

// The first queued item running a job, or null. Hold the queue lock while using it.
QueueItem* RunningItem();
// The running item's progress percent (truncated), or -1 when no item is transcoding.
int RunningProgress();
// A stylesheet address as given, or null when it could break out of its processing instruction.
const char* SafeHref(const char* href);
// Whether the text parses as a complete XML document (no recovery from errors).
bool IsWellFormedXml(const char* text);
// Opens an "http://" or "https://" address in the user's browser; anything else is refused.
bool OpenWebAddress(const char* url);

// Adds the files of a folder to the queue whose extension is one of "overall.generic.fileTypes"
// (every file with an extension when the list is empty) and whose name fits
// "overall.generic.wildcard"; with recursion the subfolders too. Folders reached through a
// symbolic link are not entered and the walk stops 32 levels down, so a link loop ends. One
// walk runs at a time. The number of items added.
int QueueAddPath(const char* folder, bool recursive);

