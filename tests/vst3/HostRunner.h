#pragma once

// Runs the built veltro-host (or the stand-in process) on the built bundle in
// a private /dev/shm and reads back its report and decoded events.

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace veltro::testing
{

// One line of an events file: "kind key=value ...".
struct StreamEvent
{
    std::string kind;
    std::map<std::string, std::string> fields;

    bool is (const char* k) const { return kind == k; }
    long long integer (const std::string& key) const;
    double number (const std::string& key) const;
    bool has (const std::string& key) const { return fields.count (key) != 0; }
};

struct HostRun
{
    int exitCode = -1;
    std::string output;                        // stdout
    std::string errors;                        // stderr
    std::map<std::string, std::string> values; // the "key=value" lines of stdout
    std::vector<StreamEvent> events;           // from --events, when asked for

    // The value of a report line; a missing key fails the test and gives "".
    std::string value (const std::string& key) const;
    long long integer (const std::string& key) const;
    double number (const std::string& key) const;

    std::vector<StreamEvent> eventsOf (const char* kind) const;
};

// A directory for one test's files, removed with the object.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir (const ScratchDir&) = delete;
    ScratchDir& operator= (const ScratchDir&) = delete;

    std::string file (const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

std::string hostBinary();
std::string standInBinary();
std::string pluginBundle();
std::string runIsolatedScript();

// veltro-host on a private copy of the bundle, isolated, with `args` after the
// bundle. With `withEvents` the decoded events are written and read back.
HostRun runHost (const std::vector<std::string>& args, bool withEvents = false);

// Any shell command line under the isolation script; stdout and stderr captured.
HostRun runIsolatedShell (const std::string& script);

// Starts veltro-host in the background (isolated); stdout goes to `outputFile`.
pid_t startHost (const std::vector<std::string>& args, const std::string& outputFile);

// Waits for a background run; returns its exit code (-1 when it had to be killed).
int waitForExit (pid_t pid, int timeoutMs);

std::vector<StreamEvent> readEvents (const std::string& file);
std::map<std::string, std::string> readValues (const std::string& text);
std::string readFile (const std::string& file);
std::string shellQuote (const std::string& s);

} // namespace veltro::testing
