// Device notifications through the framework's local notification service,
// where it has one (macOS): identifier "identifier", the message as title,
// an empty body, no sound and no actions.

#include "DesktopNotifier.h"

#include <juce_gui_extra/juce_gui_extra.h>

namespace veltro::daemon
{

namespace
{

class PushNotifier final : public DesktopNotifier
{
public:
    void show (const juce::String& title) override
    {
        juce::PushNotifications::Notification n;
        n.identifier = "identifier";
        n.title = title;
        n.body = {};
        juce::PushNotifications::getInstance()->sendLocalNotification (n);
    }
};

} // namespace

std::unique_ptr<DesktopNotifier> createDesktopNotifier()
{
    return std::make_unique<PushNotifier>();
}

} // namespace veltro::daemon
