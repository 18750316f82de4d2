// The control server's read-only pages: progress statistics, the job report (XML and script), an
// item's per-second charts, program, system and processor facts, and an input's media information
// as XML. Each reads engine state without changing it and runs on the control server's thread.
#pragma once

#include <cstdint>
#include <string>

struct UrlRequest;

uint32_t HandleStatsXml(UrlRequest* request);      // "qx/stats"
uint32_t HandleReportJs(UrlRequest* request);      // "qx/report.js"
uint32_t HandleReportXml(UrlRequest* request);     // "qx/report.xml"
uint32_t HandleItemStats(UrlRequest* request);     // "qx/itemstats_<kind>"
uint32_t HandleAppInfoXml(UrlRequest* request);    // "qx/appinfo.xml"
uint32_t HandleSysInfoXml(UrlRequest* request);    // "qx/sysinfo.xml"
uint32_t HandleWmCodecsXml(UrlRequest* request);   // "qx/wmcodecs.xml"
uint32_t HandleSysXml(UrlRequest* request);        // "qx/sys.xml"
uint32_t HandleMediaInfoXml(UrlRequest* request);  // "qx/mediainfo.xml"

// The media-information tool's text turned into "MediaInfo" XML: a line without ':' opens a section
// (the text after '#' becomes its "id"), a line with ':' is a field of the current section. Names
// are made valid XML names. The whole document text.
std::string MediaInfoTextToXml(const std::string& text, const char* stylesheet);
// A name from tool text as an XML element name: ' ', '*', ',' and '/' become '_', '(' and ')' go,
// any other character a name cannot hold becomes '_', and a name that cannot start as it is
// (empty, a digit, '-', '.') gets a leading '_'.
std::string XmlElementName(const std::string& text);
// The series of an item's chart kind (see the route) from its samples; " " for an unknown kind.
struct ItemStatSample;
struct QueueItem;
std::string ItemStatsScript(const QueueItem* item, const ItemStatSample* samples, uint32_t count, int kind);
// Drops the kept system report, so the next request builds it again.
void ResetSysInfoReport();
