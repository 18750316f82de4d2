// Task variables: "$(Name)" in output-name patterns and tool command lines stands for a value of
// the queue item being converted and of its audio task (paths, tags, format figures, dates,
// counters). Also the temporary file name of an item and its output path.
//
// Safety rules kept here:
// - A variable name is never used as a printf format as it stands: "$(%03d)" and "$(Track,%02d)"
//   accept only literal text, "%%" and one integer conversion %[flags][width][.precision] with
//   d, i, u, x, X or o; any other pattern gives "".
// - "DestFile" evaluated while "DestFile" is being worked out (a name pattern that uses it) gives
//   "" instead of recursing.
// - ExpandCommandLineVariables quotes every value for the command-line splitter
//   (platform/cmdline.h), so a path with blanks, quotes or non-ASCII characters stays one argument.
#pragma once

#include <cstdint>
#include <string>

struct AudioTask;
struct QueueItem;

// What expansion asks of the engine that runs it, handed down by the engine at start-up (while a
// context is set). Without a host the counter is 0, the task mode is "overall.task.mode" and the
// user-input question is not asked.
struct TaskVarHost {
    // Raises an engine event: (code, data, argument) -> answer.
    int (*raiseEvent)(int code, intptr_t data, int64_t arg) = nullptr;
    int (*doneCount)() = nullptr;  // items completed in this run
    int (*taskMode)() = nullptr;
};
// The host must live as long as it is installed; null removes it.
void SetTaskVarHost(const TaskVarHost* host);

// The event code and text by which "UserInput" asks the interface for the item's text.
inline constexpr int kTaskVarUserInputEvent = 21;
inline constexpr const char* kTaskVarUserInputCommand = "user_input";

// A marker put between "$" and "(" of a value that was already inserted into a command line, so
// that a later expansion of the whole line leaves it alone; both expanders remove it.
inline constexpr char kTaskVarGuard = '\x01';

// Copies the template, replacing each "$(" name ")" with GetTaskVariable. With a task the item is
// the task's own; with neither the result is empty. A "$(" without a closing ")" is copied as it
// stands, with everything after it.
std::string ExpandTaskVariables(AudioTask* task, const char* templ, QueueItem* item);

// The same for a tool's command line: each value is written so that the command-line splitter
// gives it back unchanged, quoted or escaped to fit the quotes around it in the line
// ("$(SourceFile)" is always one quoted argument). The encoder's command line goes through this
// before the tool starts.
std::string ExpandCommandLineVariables(AudioTask* task, const char* line, QueueItem* item);

// The value of one variable for the item and, when given, its task; "" for an unknown name.
// Names are case-sensitive.
std::string GetTaskVariable(QueueItem* item, AudioTask* task, const char* name);

// The value made safe for a command line at a place where the line so far is `lineBefore` and
// `next` follows the value (0: nothing known): escaped inside an open quote, quoted outside one
// when it holds a blank, tab or quote (always with forceQuotes). "$(" in the value is guarded
// against a second expansion.
std::string QuoteForCommandLine(const std::string& value, const std::string& lineBefore, char next,
                                bool forceQuotes = false);

// "<tempdir>qxtemp<process id, hex><last 12 hex digits of the MD5 of the source path>", without
// extension (at most 259 characters).
std::string MakeTempFileName(QueueItem* item);

// The item's output path: a running task's stored path unless fresh is asked (item in state 3 or
// 4); a path the user set; else "DestFile" of the running task; else "".
std::string GetOutputPath(QueueItem* item, bool fresh);

// The length of the source-path prefix all items of the batch share, set by the batch loop when
// output folders keep the source folder structure; 0: none.
void SetCommonSourcePrefixLength(int length);
int GetCommonSourcePrefixLength();
