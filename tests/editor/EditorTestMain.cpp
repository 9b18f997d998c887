// Editor tests run under Xvfb. JUCE installs its X error handler only inside a
// JUCEApplication; without one, the first X error (common without a window
// manager) would end the process.

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <X11/Xlib.h>
#include <cstdio>

namespace
{
int reportXError (Display*, XErrorEvent* event)
{
    std::fprintf (stderr, "X error %d (request %d) ignored\n", event->error_code, event->request_code);
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    XSetErrorHandler (reportXError);
    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
