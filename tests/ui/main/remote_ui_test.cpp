// The running program (headless, its own process) driven by a real XML-RPC client: Python's
// xmlrpc.client calls the user interface's methods on the control server, and the queue, the
// rows, the preferences and the batch change.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/tempdir.h"

namespace {

using sqtest::ReadFile;
using sqtest::TempDir;

// Starts the program, waits for its control server and its user-interface methods, makes the
// calls, and ends the program it started. Each answer is printed on a line of its own.
constexpr const char kClient[] = R"PY(
import os, re, subprocess, sys, threading, time, xmlrpc.client
program, work, appdata, flac = sys.argv[1:5]
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
    def show(f):
        try:
            print(repr(f()))
        except xmlrpc.client.Fault as e:
            print('Fault %d' % e.faultCode)
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
finally:
    proc.terminate()
    try:
        proc.wait(20)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
)PY";

TEST(RemoteUi, AnXmlRpcClientDrivesTheRunningProgram) {
    TempDir work, data, scripts;
    data.write("Sonquill/prefs.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs><node key=\"overall.httpd.port\">0</node>"
               "</QuorvexPrefs>\n");
    const std::string flac = work.file("tone.flac");
    const std::string make = "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=1 -ac 2 '" + flac + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string script = scripts.write("client.py", kClient);
    const std::string out = scripts.file("out.txt");
    const std::string cmd = "timeout 240 python3 '" + script + "' '" + SQ_OUT_DIR + "/sonquill' '" + work.path().string() +
                            "' '" + data.path().string() + "' '" + flac + "' > '" + out + "' 2>&1";
    std::system(cmd.c_str());
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
    EXPECT_EQ(ReadFile(out), expected);
}

}  // namespace
