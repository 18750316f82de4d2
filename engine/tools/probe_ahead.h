// What the probe's tools printed for a file, read ahead of the job that needs it: while a worker
// converts one item, the batch runs the probe's tools (the media-information reader, the player's
// identify run) for an item still waiting, and keeps their output under the exact command line.
// The job's own probe then runs the same command lines; one whose output was kept, for a file
// unchanged since (same size, time and identity), takes it instead of starting the tool again.
// The parse of the output, and so every choice made from it, is the job's own as before.
#pragma once

#include <string>

// Marks the calling thread as reading ahead for the file while it lives: the probe's tool runs on
// this thread keep their output instead of taking any, and raise no events. A job's probe of the
// same file that asks for an output meanwhile waits for the read-ahead to end.
class ProbeReadAheadScope {
public:
    explicit ProbeReadAheadScope(const char* path);
    // For a file marked by MarkReadingAhead: the scope's end takes that mark away.
    struct Marked {};
    ProbeReadAheadScope(const char* path, Marked);
    ~ProbeReadAheadScope();
    ProbeReadAheadScope(const ProbeReadAheadScope&) = delete;
    ProbeReadAheadScope& operator=(const ProbeReadAheadScope&) = delete;

private:
    std::string path_;
};

// Marks the file as read ahead before its reading begins (a ProbeReadAheadScope with Marked
// then reads it): a job's probe of it waits for that reading instead of running the tools too.
void MarkReadingAhead(const std::string& path);

// True when outputs for the file are kept, or a reading ahead of it is under way.
bool ProbeOutputsKeptOrComing(const char* path);

// A probe of an item itself (a job's, the list's), running while it lives. A read-ahead waits
// until none runs (WaitForJobProbes): at a batch's start every worker probes its first item at
// once, their tools wait for those probes, and one more for an item needed later would only slow
// them down (the media-information library reads one file at a time).
class JobProbeScope {
public:
    JobProbeScope();
    ~JobProbeScope();
    JobProbeScope(const JobProbeScope&) = delete;
    JobProbeScope& operator=(const JobProbeScope&) = delete;
};

// Waits until no item's own probe runs (at most a few seconds: a slow one does not hold the read-ahead
// up for good).
void WaitForJobProbes();

// True on a thread inside a ProbeReadAheadScope.
bool ReadingProbeAhead();

// Keeps what a tool printed for the command line on the file (on a reading-ahead thread only).
void KeepProbeOutput(const std::string& line, const char* path, const std::string& output);

// The kept output of the command line when the file is unchanged since; the entry goes. False:
// nothing kept (the caller runs the tool). Always false on a reading-ahead thread.
bool TakeProbeOutput(const std::string& line, const char* path, std::string* output);

// Forgets every kept output (the end of a batch).
void ForgetProbeOutputs();
