#include "AudioOutputWatch.h"

#include "linux/MessageThreadWakeUp.h"

#include <jack/jack.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <sys/inotify.h>
#include <unistd.h>

namespace veltro::daemon
{

namespace
{
// A server that is not running is the normal case; JACK would print every attempt.
extern "C" void ignoreJackMessage (const char*) {}

std::string parentOf (const std::string& path)
{
    const auto slash = path.find_last_of ('/');
    return slash == std::string::npos || slash == 0 ? std::string ("/") : path.substr (0, slash);
}

std::string leafOf (const std::string& path)
{
    const auto slash = path.find_last_of ('/');
    return slash == std::string::npos ? path : path.substr (slash + 1);
}

// ---- ALSA: the device directory, and its parent for the directory's own coming and going ----

struct AlsaWatch
{
    AlsaWatch (const std::string& directory, std::function<void()> onEvent) : path (directory), notify (std::move (onEvent))
    {
        fd = inotify_init1 (IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0)
            return;

        constexpr auto entries = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
        parentWatch = inotify_add_watch (fd, parentOf (path).c_str(), entries | IN_ONLYDIR);
        watchDirectory();

        juce::LinuxEventLoop::registerFdCallback (fd, [this] (int) { readEvents(); });
    }

    ~AlsaWatch()
    {
        if (fd < 0)
            return;
        juce::LinuxEventLoop::unregisterFdCallback (fd);
        ::close (fd);
    }

    void watchDirectory()
    {
        constexpr auto entries = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
        directoryWatch = inotify_add_watch (fd, path.c_str(), entries | IN_ONLYDIR);
    }

    void readEvents()
    {
        alignas (inotify_event) char buffer[4096];
        bool relevant = false;

        for (;;)
        {
            const auto length = ::read (fd, buffer, sizeof buffer);
            if (length <= 0)
                break;

            for (ssize_t offset = 0; offset < length;)
            {
                const auto* event = reinterpret_cast<const inotify_event*> (buffer + offset);
                offset += static_cast<ssize_t> (sizeof (inotify_event) + event->len);

                if (event->wd == directoryWatch)
                    relevant = true;
                else if (event->wd == parentWatch && event->len > 0 && leafOf (path) == event->name)
                {
                    relevant = true;
                    if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0)
                        watchDirectory();
                }
            }
        }

        if (relevant)
            notify();
    }

    std::string path;
    std::function<void()> notify;
    int fd = -1;
    int parentWatch = -1;
    int directoryWatch = -1;
};

std::string describeAlsa (const std::string& directory)
{
    // Cards and their device nodes: a USB audio device adds both.
    std::string text;
    if (std::ifstream cards ("/proc/asound/cards"); cards)
        text.assign (std::istreambuf_iterator<char> (cards), std::istreambuf_iterator<char>());

    std::set<std::string> nodes;
    if (DIR* dir = opendir (directory.c_str()))
    {
        while (const dirent* entry = readdir (dir))
            nodes.insert (entry->d_name);
        closedir (dir);
    }
    for (const auto& n : nodes)
        text += ' ' + n;
    return text;
}

// ---- JACK: one client of our own, told of every client and port that comes or goes ----

struct JackWatch : private juce::Timer
{
    static constexpr int kServerRetryMs = 5000;

    explicit JackWatch (std::function<void()> onEvent)
        : notify (std::move (onEvent)),
          wakeUp ([this] { onWakeUp(); })
    {
        connect();
        if (client == nullptr)
            startTimer (kServerRetryMs);
    }

    ~JackWatch() override
    {
        stopTimer();
        close();
    }

    void close()
    {
        if (client != nullptr)
            jack_client_close (client);
        client = nullptr;
    }

    bool connect()
    {
        jack_set_error_function (ignoreJackMessage);
        jack_set_info_function (ignoreJackMessage);
        jack_status_t status {};
        client = jack_client_open ("Veltro Daemon watch", static_cast<jack_options_t> (JackNoStartServer), &status);
        if (client == nullptr)
            return false;

        jack_on_shutdown (client, onShutdown, this);
        jack_set_client_registration_callback (client, onClient, this);
        jack_set_port_registration_callback (client, onPort, this);

        // Activated for the notifications (an inactive client gets none, and
        // its port list can lag); without a process callback it takes no
        // part in the server's cycles.
        jack_activate (client);
        return true;
    }

    // While no server runs: try again now and then, and report a server that came.
    void timerCallback() override
    {
        if (! connect())
            return;
        stopTimer();
        notify();
    }

    // Message thread, after any JACK notification.
    void onWakeUp()
    {
        if (serverGone.exchange (false))
        {
            close();
            startTimer (kServerRetryMs);
        }
        notify();
    }

    // JACK's notification thread: only counters and a wake-up.
    static void onShutdown (void* arg)
    {
        auto& self = *static_cast<JackWatch*> (arg);
        self.serverGone = true;
        self.wakeUp.notify();
    }

    // A device that goes and comes back between two looks leaves the same
    // port list behind, so the comings and goings are counted too. The
    // framework's own clients (its scanning client, the open output) come
    // and go because of us and would make every scan trigger the next.
    static void onClient (const char* name, int, void* arg)
    {
        auto& self = *static_cast<JackWatch*> (arg);
        if (std::strcmp (name, "JuceJackDummy") != 0 && std::strcmp (name, "JUCEJack") != 0)
            self.clientsComingOrGoing.fetch_add (1);
        self.wakeUp.notify();
    }

    static void onPort (jack_port_id_t, int, void* arg) { static_cast<JackWatch*> (arg)->wakeUp.notify(); }

    std::function<void()> notify;
    MessageThreadWakeUp wakeUp;
    jack_client_t* client = nullptr;
    std::atomic<bool> serverGone { false };
    std::atomic<uint64_t> clientsComingOrGoing { 0 };
};

std::string describeJack (JackWatch& j)
{
    if (j.client == nullptr)
        return {};

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

} // namespace

// ---- the watch ----

struct AudioOutputWatch::Impl
{
    Impl (std::function<void()> callback, std::string directory)
        : onMaybeChanged (std::move (callback)),
          alsaDirectory (std::move (directory)),
          alsa (alsaDirectory, [this] { onMaybeChanged(); }),
          jack ([this] { onMaybeChanged(); })
    {
    }

    std::function<void()> onMaybeChanged;
    std::string alsaDirectory;
    AlsaWatch alsa;
    JackWatch jack;
    std::string last;
    bool first = true;
};

AudioOutputWatch::AudioOutputWatch (std::function<void()> onMaybeChanged, std::string alsaDeviceDirectory)
    : impl (std::make_unique<Impl> (std::move (onMaybeChanged), std::move (alsaDeviceDirectory)))
{
}

AudioOutputWatch::~AudioOutputWatch() = default;

bool AudioOutputWatch::changed()
{
    auto& i = *impl;
    auto now = describeAlsa (i.alsaDirectory) + '\n' + describeJack (i.jack);
    const bool differs = ! i.first && now != i.last;
    i.first = false;
    i.last = std::move (now);
    return differs;
}

} // namespace veltro::daemon
