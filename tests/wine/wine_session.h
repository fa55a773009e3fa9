// Runs the Windows test host under Wine for the tests: a virtual X display
// of the test's own, the Wine prefix of the build, and the host's printed
// results read back as key/value pairs.
#pragma once

#include <map>
#include <string>
#include <vector>

// What one run of the test host printed, read line by line:
//   "key value"          -> values["key"]
//   "record name=value"  -> record["name"]
//   "state ID k=v ... text=TEXT" -> states[ID]["k"], states[ID]["text"]
struct HostResult {
    int exitCode = -1;
    std::string output;
    std::map<std::string, std::string> values;
    std::map<std::string, long> record;
    std::map<int, std::map<std::string, std::string>> states;

    long Value(const std::string& key) const;
    long Field(const std::string& name) const;
    std::string State(int id, const std::string& key) const;
};

class WineSession {
public:
    // Null when the Windows build or Wine is missing: the caller skips.
    static WineSession* Get();

    // Runs `quillmere_test_host MODULE arguments...` and waits for it.
    HostResult RunHost(const std::vector<std::string>& arguments);
    // The same, started in the background: Finish waits for it.
    void StartHost(const std::vector<std::string>& arguments);
    HostResult FinishHost();
    // Whether the host started in the background has ended already.
    bool HostEnded();

    // Runs a program on the session's display; its exit code.
    int RunOnDisplay(const std::string& command);

    // A Unix path as the Windows program sees it.
    static std::string WindowsPath(const std::string& unixPath);
    // A folder for one test's files, emptied first.
    static std::string ScratchFolder(const std::string& name);
    // Generated test videos, made once with the ffmpeg command-line tool.
    static std::string TestVideo(const std::string& name);

    ~WineSession();

private:
    WineSession() = default;
    bool StartDisplay();
    std::string HostCommand(const std::vector<std::string>& arguments) const;

    std::string display_;
    int displayProcess_ = -1;
    std::string backgroundOutput_;
    int backgroundProcess_ = -1;
    int backgroundStatus_ = -1;  // set once the background host has been reaped
};
