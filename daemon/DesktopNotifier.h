#pragma once

// Where device notifications go: on Linux the desktop's notification service
// through libnotify, elsewhere the framework's local notifications; tests put
// in one that records.

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>

namespace veltro::daemon
{

class DesktopNotifier
{
public:
    virtual ~DesktopNotifier() = default;

    // Shows a notification with this title and no body. Message thread only.
    virtual void show (const juce::String& title) = 0;
};

std::unique_ptr<DesktopNotifier> createDesktopNotifier();

} // namespace veltro::daemon
