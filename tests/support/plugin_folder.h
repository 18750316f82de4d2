// A plug-in folder for one test: copies of the tests' own plug-ins (built into SQ_TEST_PLUGIN_DIR)
// under the file names the test needs, removed with the folder.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/tempdir.h"

namespace sqtest {

class PluginFolder {
public:
    // Copies the built plug-in `built` (file name without ".so") as `as` (a full file name).
    void plant(const std::string& built, const std::string& as) const;
    // The folder's path, ending in '/'.
    std::string path() const { return dir_.path().string() + "/"; }
    std::string file(const std::string& name) const { return dir_.file(name); }

private:
    TempDir dir_;
};

// A device plug-in description whose common preset cuts every job at 100 ms and whose one catalog
// ("Effect") chooses whether the DSP plug-in that inverts the signal runs ("Inverted", the default,
// or "Plain"); `properties` goes before the presets.
inline std::string InvertingDeviceDescription(const std::string& properties = "") {
    return "<QuorvexPlugin>" + properties + R"(<presets>
 <common><node key="overall"><node key="decoding"><node key="duration">100</node></node></node></common>
 <catalog text="Effect">
  <preset text="Plain"><node key="audiosrc"><node key="winamp"><node key="enabledDspPlugins"></node></node></node></preset>
  <preset text="Inverted" sel="1"><node key="audiosrc"><node key="winamp"><node key="enabledDspPlugins">dsp_invert.so</node></node></node></preset>
 </catalog>
</presets></QuorvexPlugin>)";
}

// A program folder for a run of the program with a device plug-in: every entry of the build's
// output folder linked in, beside a "plugins" folder of its own.
class PluginProgramFolder {
public:
    PluginProgramFolder();
    // The folder's path, ending in '/'.
    std::string path() const { return dir_.path().string() + "/"; }
    // Copies the built device plug-in `built` as "plugins/<as>", with "plugins/<as minus .so>.xml"
    // holding the description when one is given.
    void plantDevice(const std::string& built, const std::string& as, const std::string& description = "") const;
    std::string plugin(const std::string& name) const { return path() + "plugins/" + name; }

private:
    TempDir dir_;
};

// A file of the test input plug-ins' "tiny" format: header, then the PCM bytes as given. mode
// makes the plug-in misbehave (see support/plugins/in_tiny.c).
void WriteTinyFile(const std::string& path, uint32_t rate, uint16_t channels, uint16_t bits, const std::string& pcm,
                   uint32_t mode = 0);

// The events (code, data) the test device plug-in loaded from path has recorded so far.
std::vector<std::pair<int, intptr_t>> DevicePluginEvents(const std::string& path);
// Only their codes.
std::vector<int> DevicePluginEventCodes(const std::string& path);

}  // namespace sqtest
