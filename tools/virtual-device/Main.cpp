// veltro-virtual-device: plays the device's part without hardware. A JACK
// client named like the device's audio output ("Do-not-use-001" for a
// Tactora) whose input ports take what the daemon plays, and shows what the
// device makes of it.
//
// The JACK callback only copies the first port's samples into a lock-free
// ring; the main thread decodes and prints.

#include "DeviceMonitor.h"

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

std::atomic<bool> stopRequested { false };

extern "C" void onSignal (int)
{
    stopRequested.store (true);
}

struct Options
{
    std::string name = "Do-not-use-001";
    std::string server;
    std::string eventsFile;
    int ports = 2;
    double seconds = 0.0; // 0: until SIGINT/SIGTERM
    bool verbose = false;
};

void printUsage (std::ostream& out)
{
    out << "usage: veltro-virtual-device [options]\n"
           "  --model tactora|klavo2|vantel  name the output as that model does (default tactora)\n"
           "  --name NAME        JACK client name (default Do-not-use-001)\n"
           "  --ports N          input ports (default 2; the daemon plays into the first)\n"
           "  --server NAME      JACK server name (default: the default server)\n"
           "  --events FILE      one line per decoded event, for tests\n"
           "  --seconds S        stop after S seconds (default: at SIGINT or SIGTERM)\n"
           "  --verbose          every tick on the console, not only every beat\n";
}

bool parse (int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        auto value = [&] () -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };

        if (arg == "--verbose")
            o.verbose = true;
        else if (arg == "--help" || arg == "-h")
            return false;
        else if (arg == "--model" || arg == "--name" || arg == "--ports" || arg == "--server" || arg == "--events"
                 || arg == "--seconds")
        {
            const char* v = value();
            if (v == nullptr)
            {
                std::cerr << arg << " needs a value\n";
                return false;
            }

            if (arg == "--model")
            {
                const std::string m = v;
                if (m == "tactora") o.name = "Do-not-use-001";
                else if (m == "klavo2") o.name = "Do-not-use-010";
                else if (m == "vantel") o.name = "Do-not-use-101";
                else { std::cerr << "unknown model: " << m << '\n'; return false; }
            }
            else if (arg == "--name") o.name = v;
            else if (arg == "--ports") o.ports = std::max (1, std::atoi (v));
            else if (arg == "--server") o.server = v;
            else if (arg == "--events") o.eventsFile = v;
            else o.seconds = std::atof (v);
        }
        else
        {
            std::cerr << "unknown argument: " << arg << '\n';
            return false;
        }
    }
    return true;
}

struct Client
{
    jack_client_t* client = nullptr;
    std::vector<jack_port_t*> ports;
    jack_ringbuffer_t* ring = nullptr;
    std::atomic<int64_t> samplesLost { 0 };
    std::atomic<int64_t> xruns { 0 };
    std::atomic<bool> serverGone { false };

    static int process (jack_nframes_t frames, void* arg)
    {
        auto& self = *static_cast<Client*> (arg);
        const auto* in = static_cast<const float*> (jack_port_get_buffer (self.ports.front(), frames));
        const size_t bytes = frames * sizeof (float);

        if (jack_ringbuffer_write_space (self.ring) < bytes)
        {
            self.samplesLost.fetch_add (frames, std::memory_order_relaxed);
            return 0;
        }
        jack_ringbuffer_write (self.ring, reinterpret_cast<const char*> (in), bytes);
        return 0;
    }

    static int xrun (void* arg)
    {
        static_cast<Client*> (arg)->xruns.fetch_add (1, std::memory_order_relaxed);
        return 0;
    }

    static void shutdown (void* arg)
    {
        static_cast<Client*> (arg)->serverGone.store (true);
    }
};

} // namespace

int main (int argc, char** argv)
{
    Options options;
    if (! parse (argc, argv, options))
    {
        printUsage (std::cerr);
        return 2;
    }

    std::signal (SIGINT, onSignal);
    std::signal (SIGTERM, onSignal);

    Client c;
    jack_status_t status {};
    auto flags = static_cast<jack_options_t> (JackNoStartServer | JackUseExactName);
    if (! options.server.empty())
    {
        flags = static_cast<jack_options_t> (flags | JackServerName);
        c.client = jack_client_open (options.name.c_str(), flags, &status, options.server.c_str());
    }
    else
        c.client = jack_client_open (options.name.c_str(), flags, &status);

    if (c.client == nullptr)
    {
        std::cerr << "veltro-virtual-device: cannot open JACK client \"" << options.name << "\" (status 0x" << std::hex
                  << static_cast<int> (status) << std::dec << "); is a JACK server running?\n";
        return 1;
    }

    for (int i = 0; i < options.ports; ++i)
    {
        const auto portName = "in_" + std::to_string (i + 1);
        auto* port = jack_port_register (c.client, portName.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                         JackPortIsInput | JackPortIsTerminal, 0);
        if (port == nullptr)
        {
            std::cerr << "veltro-virtual-device: cannot register port " << portName << '\n';
            jack_client_close (c.client);
            return 1;
        }
        c.ports.push_back (port);
    }

    const double rate = jack_get_sample_rate (c.client);

    // About 20 s of samples: the reader falls that far behind only when stopped.
    c.ring = jack_ringbuffer_create (static_cast<size_t> (rate * 20.0) * sizeof (float));
    jack_ringbuffer_mlock (c.ring);

    jack_set_process_callback (c.client, Client::process, &c);
    jack_set_xrun_callback (c.client, Client::xrun, &c);
    jack_on_shutdown (c.client, Client::shutdown, &c);

    std::unique_ptr<std::ofstream> eventsOut;
    if (! options.eventsFile.empty())
    {
        eventsOut = std::make_unique<std::ofstream> (options.eventsFile, std::ios::trunc);
        if (! *eventsOut)
        {
            std::cerr << "veltro-virtual-device: cannot write " << options.eventsFile << '\n';
            jack_client_close (c.client);
            return 1;
        }
    }

    veltro::DeviceMonitor monitor (std::cout, eventsOut.get(), { rate, options.verbose });

    if (jack_activate (c.client) != 0)
    {
        std::cerr << "veltro-virtual-device: cannot activate the JACK client\n";
        jack_client_close (c.client);
        return 1;
    }

    std::cout << "virtual device \"" << jack_get_client_name (c.client) << "\" ready: " << options.ports
              << " input ports, " << rate << " Hz, period " << jack_get_buffer_size (c.client) << std::endl;

    std::vector<float> chunk (8192);
    auto drain = [&] {
        for (;;)
        {
            const size_t available = jack_ringbuffer_read_space (c.ring) / sizeof (float);
            if (available == 0)
                return;
            const size_t n = std::min (available, chunk.size());
            jack_ringbuffer_read (c.ring, reinterpret_cast<char*> (chunk.data()), n * sizeof (float));
            monitor.receiveSamples (chunk.data(), static_cast<int> (n));
        }
    };

    const auto started = std::chrono::steady_clock::now();
    int64_t xrunsSeen = 0;
    while (! stopRequested.load() && ! c.serverGone.load())
    {
        drain();
        if (const auto x = c.xruns.load(); x != xrunsSeen)
        {
            xrunsSeen = x;
            monitor.noteXrun();
        }
        std::cout.flush();

        if (options.seconds > 0.0
            && std::chrono::duration<double> (std::chrono::steady_clock::now() - started).count() >= options.seconds)
            break;

        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }

    if (! c.serverGone.load())
        jack_deactivate (c.client);
    drain();
    jack_client_close (c.client);
    jack_ringbuffer_free (c.ring);

    monitor.finish();
    monitor.printSummary (std::cout);
    std::cout << "device.samplesLost=" << c.samplesLost.load() << '\n'
              << "device.xruns=" << c.xruns.load() << '\n'
              << "device.serverGone=" << (c.serverGone.load() ? 1 : 0) << std::endl;
    return 0;
}
