"""A desktop notification service for tests: owns org.freedesktop.Notifications
on the session bus and appends the summary of every notification to a file,
one per line."""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INTERFACE = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"


class Notifications(dbus.service.Object):
    def __init__(self, bus, log_path):
        super().__init__(bus, PATH)
        self.log_path = log_path
        self.next_id = 1

    @dbus.service.method(INTERFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, timeout):
        with open(self.log_path, "a", encoding="utf-8") as log:
            log.write(f"{summary}\n")
        self.next_id += 1
        return self.next_id - 1

    @dbus.service.method(INTERFACE, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(INTERFACE, in_signature="u", out_signature="")
    def CloseNotification(self, notification_id):
        pass

    @dbus.service.method(INTERFACE, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("veltro-test-notifications", "veltro", "1", "1.2")


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(INTERFACE, bus, do_not_queue=True)
    service = Notifications(bus, sys.argv[1])
    open(sys.argv[1], "a", encoding="utf-8").close()  # tells the test the service is up
    GLib.MainLoop().run()
    del name, service


if __name__ == "__main__":
    main()
