#include "AudioOutputWatch.h"

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace veltro::daemon
{

namespace
{
    // A server that is not running is the normal case; JACK would print every attempt.
    extern "C" void ignoreJackMessage (const char*) {}

    constexpr int kPollsBetweenConnectionAttempts = 5;
} // namespace

struct AudioOutputWatch::Jack
{
    jack_client_t* client = nullptr;
    std::atomic<bool> serverGone { false };
    std::atomic<uint64_t> clientsComingOrGoing { 0 };
    int pollsUntilAttempt = 0;

    ~Jack() { close(); }

    void close()
    {
        if (client != nullptr)
            jack_client_close (client);
        client = nullptr;
    }

    static void onShutdown (void* arg) { static_cast<Jack*> (arg)->serverGone.store (true); }

    // A device that goes and comes back between two polls leaves the same
    // port list behind, so the comings and goings are counted too. The
    // framework's own clients (its scanning client, the open output) come
    // and go because of us and would make every scan trigger the next.
    static void onClient (const char* name, int, void* arg)
    {
        if (std::strcmp (name, "JuceJackDummy") != 0 && std::strcmp (name, "JUCEJack") != 0)
            static_cast<Jack*> (arg)->clientsComingOrGoing.fetch_add (1);
    }
};

AudioOutputWatch::AudioOutputWatch() : jack (std::make_unique<Jack>()) {}

AudioOutputWatch::~AudioOutputWatch() = default;

bool AudioOutputWatch::changed()
{
    auto now = describeAlsa() + '\n' + describeJack();
    const bool differs = ! first && now != last;
    first = false;
    last = std::move (now);
    return differs;
}

std::string AudioOutputWatch::describeAlsa()
{
    // Cards and their device nodes: a USB audio device adds both.
    std::string text;
    if (std::ifstream cards ("/proc/asound/cards"); cards)
        text.assign (std::istreambuf_iterator<char> (cards), std::istreambuf_iterator<char>());

    std::set<std::string> nodes;
    if (DIR* dir = opendir ("/dev/snd"))
    {
        while (const dirent* entry = readdir (dir))
            nodes.insert (entry->d_name);
        closedir (dir);
    }
    for (const auto& n : nodes)
        text += ' ' + n;
    return text;
}

std::string AudioOutputWatch::describeJack()
{
    auto& j = *jack;

    if (j.serverGone.load())
    {
        j.close();
        j.serverGone = false;
    }

    if (j.client == nullptr)
    {
        if (j.pollsUntilAttempt-- > 0)
            return {};
        j.pollsUntilAttempt = kPollsBetweenConnectionAttempts;

        jack_set_error_function (ignoreJackMessage);
        jack_set_info_function (ignoreJackMessage);
        jack_status_t status {};
        j.client = jack_client_open ("Veltro Daemon watch", static_cast<jack_options_t> (JackNoStartServer), &status);
        if (j.client == nullptr)
            return {};
        jack_on_shutdown (j.client, Jack::onShutdown, &j);
        jack_set_client_registration_callback (j.client, Jack::onClient, &j);

        // Activated for the notifications (an inactive client gets none, and
        // its port list can lag); without a process callback it takes no
        // part in the server's cycles.
        jack_activate (j.client);
    }

    // Clients with input ports are what the framework lists as outputs.
    std::set<std::string> clients;
    if (const char** ports = jack_get_ports (j.client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput))
    {
        for (const char** p = ports; *p != nullptr; ++p)
        {
            const std::string name (*p);
            clients.insert (name.substr (0, name.find (':')));
        }
        jack_free (ports);
    }

    std::ostringstream text;
    text << j.clientsComingOrGoing.load() << '\n';
    for (const auto& c : clients)
        text << c << '\n';
    return text.str();
}

} // namespace veltro::daemon
