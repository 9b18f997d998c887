// The glue tests run the daemon's engine and device handler inside this
// process: the test thread is the framework's message thread and also plays
// the sound card's clock.

#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <cstdlib>

int main (int argc, char** argv)
{
    // The handler watches a JACK server for outputs coming and going; a
    // server someone else runs on this machine must not reach these tests.
    setenv ("JACK_DEFAULT_SERVER", "veltro-glue-tests-no-server", 1);

    ::testing::InitGoogleTest (&argc, argv);
    const juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
