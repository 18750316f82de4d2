// The running program (headless, its own process) driven by a real XML-RPC client: Python's
// xmlrpc.client calls the user interface's methods on the control server, and the queue, the
// rows, the preferences and the batch change; batches started one after the other all convert,
// and the running item names its output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/encoders/encoder.h"
#include "engine/sources/audio_source.h"
#include "support/plugin_folder.h"
#include "support/tempdir.h"

namespace {

using sqtest::ReadFile;
using sqtest::TempDir;

// Starts the program (arguments: program, working folder, data folder, then the client's own),
// waits for its control server and its user-interface methods, hands the XML-RPC proxy and the
// server's port to the client's calls(s, port), and ends the program it started. show(f) prints
// an answer on a line of its own.
constexpr const char kClientStart[] = R"PY(
import os, re, struct, subprocess, sys, threading, time, urllib.request, xmlrpc.client
program, work, appdata = sys.argv[1:4]
def show(f):
    try:
        print(repr(f()))
    except xmlrpc.client.Fault as e:
        print('Fault %d' % e.faultCode)
def run(calls):
    env = dict(os.environ)
    env.pop('DISPLAY', None)
    env.pop('WAYLAND_DISPLAY', None)
    env['APPDATA'] = appdata
    # -verbose: the log, which names the control server's port, also goes to standard error.
    proc = subprocess.Popen([program, '-verbose'], cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        port = None
        for line in proc.stderr:
            m = re.search(r'Control HTTP server started on port (\d+)', line)
            if m:
                port = int(m.group(1))
                break
        threading.Thread(target=lambda: [None for _ in proc.stderr], daemon=True).start()
        s = xmlrpc.client.ServerProxy('http://127.0.0.1:%d/xmlrpc' % port, allow_none=True)
        deadline = time.time() + 60
        while time.time() < deadline:
            try:
                s.ui.list.refresh()
                break
            except xmlrpc.client.Fault:
                time.sleep(0.1)
        calls(s, port)
    finally:
        proc.terminate()
        try:
            proc.wait(20)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
)PY";

// Runs the client (kClientStart followed by its calls) with the arguments after the program's,
// under a time limit; what it printed.
std::string RunClient(const std::string& calls, const TempDir& work, const TempDir& data, const std::string& arguments) {
    TempDir scripts;
    const std::string script = scripts.write("client.py", std::string(kClientStart) + calls);
    const std::string out = scripts.file("out.txt");
    const std::string cmd = "timeout 240 python3 '" + script + "' '" + SQ_OUT_DIR + "/sonquill' '" + work.path().string() +
                            "' '" + data.path().string() + "' " + arguments + " > '" + out + "' 2>&1";
    std::system(cmd.c_str());
    return ReadFile(out);
}

std::string Prefs(const std::string& nodes) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs><node key=\"overall.httpd.port\">0</node>" + nodes +
           "</QuorvexPrefs>\n";
}

constexpr const char kDrive[] = R"PY(
flac = sys.argv[4]
def calls(s, port):
    show(lambda: s.qx.queue.add(flac, -1))
    show(lambda: s.ui.list.refresh())
    show(lambda: s.ui.list.getSelectIndex())
    show(lambda: s.ui.list.addFile())
    show(lambda: s.qx.queue.get(1))
    show(lambda: s.qx.prefs.set('videofilter.crop.mode', 2))
    show(lambda: s.ui.dialogs.refresh())
    show(lambda: s.qx.prefs.get('videofilter.crop.mode'))
    show(lambda: s.ui.dialogs.showMain(True))
    show(lambda: s.ui.player.seek())
    show(lambda: s.ui.jobs.start())
    out = os.path.join(work, 'tone.mp3')
    deadline = time.time() + 90
    while time.time() < deadline and not os.path.exists(out):
        time.sleep(0.1)
    print(os.path.exists(out))
    show(lambda: s.qx.queue.get(0)['filename'])
run(calls)
)PY";

TEST(RemoteUi, AnXmlRpcClientDrivesTheRunningProgram) {
    TempDir work, data;
    data.write("Sonquill/prefs.xml", Prefs(""));
    const std::string flac = work.file("tone.flac");
    const std::string make = "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=1 -ac 2 '" + flac + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string expected = "True\n"           // qx.queue.add
                                 "True\n"           // ui.list.refresh
                                 "-1\n"             // ui.list.getSelectIndex: nothing selected
                                 "True\n"           // ui.list.addFile: the dialog is cancelled without a display
                                 "()\n"             // qx.queue.get(1): no value, still one item
                                 "True\n"           // qx.prefs.set
                                 "True\n"           // ui.dialogs.refresh
                                 "'Crop to fit'\n"  // qx.prefs.get: the option's text
                                 "True\n"           // ui.dialogs.showMain
                                 "False\n"          // ui.player.seek without a position
                                 "True\n"           // ui.jobs.start
                                 "True\n"           // the output was made
                                 "'" + flac + "'\n";  // the item is still queued
    EXPECT_EQ(RunClient(kDrive, work, data, "'" + flac + "'"), expected);
}

// Three batches, each started once the one before has ended (as its report shows). The first
// item's input plug-in holds it half-way until the client lets it go, so the client asks for the
// output while the item surely runs.
constexpr const char kBatches[] = R"PY(
outdir = sys.argv[4]
def tiny(name, mode):
    path = os.path.join(work, name)
    with open(path, 'wb') as f:
        # Half a second of a constant level (a longer or rougher signal makes mplayer's probe see video).
        f.write(b'TINY' + struct.pack('<IHHI', 44100, 2, 16, mode) + b'\x11' * 88200)
    return path
def done(port, index):
    url = 'http://127.0.0.1:%d/qx/report.xml?index=%d' % (port, index)
    deadline = time.time() + 90
    while time.time() < deadline:
        if '<done>1</done>' in urllib.request.urlopen(url, timeout=20).read().decode():
            return True
        time.sleep(0.05)
    return False
def calls(s, port):
    held = tiny('held.tny', 6)
    show(lambda: s.qx.queue.add(held, -1))
    show(lambda: s.ui.jobs.start())
    named = ()
    deadline = time.time() + 90
    while named == () and time.time() < deadline:
        named = s.qx.queue.output(0)
    print(os.path.relpath(named, outdir) if named != () else 'no output named')
    open(held + '.go', 'w').close()
    print(done(port, 0), os.path.exists(os.path.join(outdir, 'held.wav')))
    show(lambda: s.qx.queue.output(0))
    for index, name in enumerate(['second', 'third'], 1):
        show(lambda: s.qx.queue.add(tiny(name + '.tny', 0), -1))
        show(lambda: s.ui.jobs.start())
        print(done(port, index), os.path.exists(os.path.join(outdir, name + '.wav')))
run(calls)
)PY";

TEST(RemoteUi, BatchesStartedOneAfterTheOtherAllConvertAndTheRunningItemNamesItsOutput) {
    TempDir work, data, out;
    sqtest::PluginFolder winamp;
    winamp.plant("in_tiny", "in_tiny.so");
    auto node = [](const std::string& key, const std::string& value) {
        return "<node key=\"" + key + "\">" + value + "</node>";
    };
    data.write("Sonquill/prefs.xml",
               Prefs(node("audiosrc.winamp.dir", winamp.path()) + node("overall.audio.autoSource", "0") +
                     node("overall.audio.source", std::to_string(kSourceWinamp)) +
                     node("overall.audio.encoder", std::to_string(kEncPcm)) +
                     node("overall.task.destdir", out.path().string())));
    const std::string expected = "True\n"         // qx.queue.add
                                 "True\n"         // ui.jobs.start
                                 "held.wav\n"     // qx.queue.output while the item runs: the output it makes
                                 "True True\n"    // the item ended done, its output is there
                                 "()\n"           // qx.queue.output once it ended: no value
                                 "True\n"         // the second batch
                                 "True\n"
                                 "True True\n"
                                 "True\n"         // the third batch
                                 "True\n"
                                 "True True\n";
    EXPECT_EQ(RunClient(kBatches, work, data, "'" + out.path().string() + "'"), expected);
}

}  // namespace
