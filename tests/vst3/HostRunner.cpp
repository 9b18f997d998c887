#include "HostRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace veltro::testing
{

namespace fs = std::filesystem;

long long StreamEvent::integer (const std::string& key) const
{
    const auto it = fields.find (key);
    if (it == fields.end())
    {
        ADD_FAILURE() << kind << " event has no " << key;
        return 0;
    }
    return std::stoll (it->second);
}

double StreamEvent::number (const std::string& key) const
{
    const auto it = fields.find (key);
    if (it == fields.end())
    {
        ADD_FAILURE() << kind << " event has no " << key;
        return 0.0;
    }
    return std::stod (it->second);
}

std::string HostRun::value (const std::string& key) const
{
    const auto it = values.find (key);
    if (it == values.end())
    {
        ADD_FAILURE() << "the report has no " << key << "\n--- stdout:\n" << output << "\n--- stderr:\n" << errors;
        return {};
    }
    return it->second;
}

long long HostRun::integer (const std::string& key) const
{
    const auto v = value (key);
    return v.empty() ? 0 : std::stoll (v);
}

double HostRun::number (const std::string& key) const
{
    const auto v = value (key);
    return v.empty() ? 0.0 : std::stod (v);
}

std::vector<StreamEvent> HostRun::eventsOf (const char* kind) const
{
    std::vector<StreamEvent> result;
    for (const auto& e : events)
        if (e.is (kind))
            result.push_back (e);
    return result;
}

ScratchDir::ScratchDir()
{
    auto pattern = (fs::temp_directory_path() / "veltro-vst3-test-XXXXXX").string();
    if (mkdtemp (pattern.data()) == nullptr)
        ADD_FAILURE() << "cannot create a scratch directory";
    path = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::remove_all (path, ignored);
}

std::string hostBinary() { return VELTRO_HOST_BINARY; }
std::string standInBinary() { return VELTRO_STANDIN_BINARY; }
std::string runIsolatedScript() { return VELTRO_RUN_ISOLATED; }

std::string pluginBundle()
{
    // The build names the library inside the bundle: <bundle>/Contents/<arch>-linux/Veltro.so.
    return fs::path (VELTRO_PLUGIN_LIBRARY).parent_path().parent_path().parent_path().string();
}

std::string shellQuote (const std::string& s)
{
    std::string quoted = "'";
    for (const char c : s)
        quoted += c == '\'' ? std::string ("'\\''") : std::string (1, c);
    return quoted + "'";
}

std::string readFile (const std::string& file)
{
    std::ifstream in (file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::map<std::string, std::string> readValues (const std::string& text)
{
    std::map<std::string, std::string> values;
    std::istringstream lines (text);
    std::string line;

    while (std::getline (lines, line))
    {
        const auto eq = line.find ('=');
        if (eq == std::string::npos || eq == 0 || line.find (' ') < eq)
            continue;
        values[line.substr (0, eq)] = line.substr (eq + 1);
    }
    return values;
}

std::vector<StreamEvent> readEvents (const std::string& file)
{
    std::vector<StreamEvent> events;
    std::ifstream in (file);
    std::string line;

    while (std::getline (in, line))
    {
        std::istringstream words (line);
        StreamEvent e;
        words >> e.kind;
        std::string word;
        while (words >> word)
        {
            const auto eq = word.find ('=');
            if (eq != std::string::npos)
                e.fields[word.substr (0, eq)] = word.substr (eq + 1);
        }
        if (! e.kind.empty())
            events.push_back (std::move (e));
    }
    return events;
}

namespace
{
    std::string hostCommand (const std::vector<std::string>& args)
    {
        std::string command = shellQuote (hostBinary()) + " " + shellQuote (pluginBundle()) + " --copy-bundle";
        for (const auto& a : args)
            command += " " + shellQuote (a);
        return command;
    }

    int exitCodeOf (int status)
    {
        return WIFEXITED (status) ? WEXITSTATUS (status) : 128 + (WIFSIGNALED (status) ? WTERMSIG (status) : 0);
    }
} // namespace

HostRun runIsolatedShell (const std::string& script)
{
    ScratchDir scratch;
    const auto out = scratch.file ("stdout");
    const auto err = scratch.file ("stderr");
    const auto command = shellQuote (runIsolatedScript()) + " sh -c " + shellQuote (script) + " > " + shellQuote (out)
                         + " 2> " + shellQuote (err);

    HostRun run;
    run.exitCode = exitCodeOf (std::system (command.c_str()));
    run.output = readFile (out);
    run.errors = readFile (err);
    run.values = readValues (run.output);
    return run;
}

HostRun runHost (const std::vector<std::string>& args, bool withEvents)
{
    ScratchDir scratch;
    auto all = args;
    const auto eventsFile = scratch.file ("events.txt");

    if (withEvents)
    {
        all.push_back ("--events");
        all.push_back (eventsFile);
    }

    auto run = runIsolatedShell ("exec " + hostCommand (all));

    if (withEvents)
        run.events = readEvents (eventsFile);

    return run;
}

pid_t startHost (const std::vector<std::string>& args, const std::string& outputFile)
{
    const std::string script = "exec " + hostCommand (args) + " > " + shellQuote (outputFile);
    const std::string isolate = runIsolatedScript();
    std::vector<std::string> argvText { isolate, "sh", "-c", script };
    std::vector<char*> argv;
    for (auto& a : argvText)
        argv.push_back (a.data());
    argv.push_back (nullptr);

    pid_t pid = -1;
    if (posix_spawn (&pid, isolate.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

int waitForExit (pid_t pid, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    int status = 0;

    while (std::chrono::steady_clock::now() < deadline)
    {
        if (waitpid (pid, &status, WNOHANG) == pid)
            return exitCodeOf (status);
        std::this_thread::sleep_for (std::chrono::milliseconds (20));
    }

    kill (pid, SIGKILL);
    waitpid (pid, &status, 0);
    return -1;
}

} // namespace veltro::testing
