// Device notifications to the desktop through libnotify: the framework's own
// notification service does nothing on Linux.

#include "DesktopNotifier.h"

#include <libnotify/notify.h>

namespace veltro::daemon
{

namespace
{

class LibnotifyNotifier final : public DesktopNotifier
{
public:
    LibnotifyNotifier() { initialised = notify_init ("Veltro Daemon"); }
    ~LibnotifyNotifier() override
    {
        if (initialised)
            notify_uninit();
    }

    void show (const juce::String& title) override
    {
        // Without a notification service (no session bus) there is nobody to tell.
        if (! initialised)
            return;

        NotifyNotification* n = notify_notification_new (title.toRawUTF8(), "", nullptr);
        notify_notification_show (n, nullptr);
        g_object_unref (G_OBJECT (n));
    }

private:
    bool initialised = false;
};

} // namespace

std::unique_ptr<DesktopNotifier> createDesktopNotifier()
{
    return std::make_unique<LibnotifyNotifier>();
}

} // namespace veltro::daemon
