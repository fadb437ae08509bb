#!/usr/bin/python3
"""RemoteDesktop portal backend for tests: allows without a dialog and hands the keys to a session
of mutter's own RemoteDesktop interface, as GNOME's backend does once the user agreed.
  fake-remotedesktop-portal.py ANSWER_FILE
Start answers with the number in ANSWER_FILE where it exists (1: cancelled, 2: refused). Each
call is logged as one line on standard output."""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = 'org.freedesktop.impl.portal.desktop.varnisktest'
IFACE = 'org.freedesktop.impl.portal.RemoteDesktop'
MUTTER = 'org.gnome.Mutter.RemoteDesktop'
sessions = {}


def log(*words):
    print(*words, flush=True)


class Session(dbus.service.Object):
    mutter = None

    @dbus.service.method('org.freedesktop.impl.portal.Session')
    def Close(self):
        log('Session.Close')
        if self.mutter is not None:
            self.mutter.Stop(dbus_interface=MUTTER + '.Session')
        sessions.pop(str(self.__dbus_object_path__), None)
        self.remove_from_connection()


class Portal(dbus.service.Object):
    def answer(self, method, code):
        log(method, code)
        return dbus.UInt32(code), dbus.Dictionary({}, signature='sv')

    @dbus.service.method(IFACE, in_signature='oosa{sv}', out_signature='ua{sv}')
    def CreateSession(self, handle, session_handle, app_id, options):
        sessions[str(session_handle)] = Session(bus, session_handle)
        return self.answer('CreateSession', 0)

    @dbus.service.method(IFACE, in_signature='oosa{sv}', out_signature='ua{sv}')
    def SelectDevices(self, handle, session_handle, app_id, options):
        return self.answer('SelectDevices', 0)

    @dbus.service.method(IFACE, in_signature='oossa{sv}', out_signature='ua{sv}')
    def Start(self, handle, session_handle, app_id, parent_window, options):
        try:
            with open(sys.argv[1]) as file:
                code = int(file.read())
        except FileNotFoundError:
            code = 0
        if code != 0:
            return self.answer('Start', code)
        desktop = bus.get_object(MUTTER, '/org/gnome/Mutter/RemoteDesktop')
        session = sessions[str(session_handle)]
        session.mutter = bus.get_object(MUTTER, desktop.CreateSession(dbus_interface=MUTTER))
        session.mutter.Start(dbus_interface=MUTTER + '.Session')
        log('Start', 0)
        return dbus.UInt32(0), dbus.Dictionary({'devices': dbus.UInt32(1)}, signature='sv')

    @dbus.service.method(IFACE, in_signature='oa{sv}iu')
    def NotifyKeyboardKeysym(self, session_handle, options, keysym, state):
        sessions[str(session_handle)].mutter.NotifyKeyboardKeysym(
            dbus.UInt32(keysym), dbus.Boolean(state), dbus_interface=MUTTER + '.Session')

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return {'AvailableDeviceTypes': dbus.UInt32(1), 'version': dbus.UInt32(1)}


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
# The seat gets a keyboard, as a desktop with one has (else no window has the keyboard's focus
# before the first key): a session of the backend's own taps Shift, and stays.
seat = bus.get_object(MUTTER, bus.get_object(MUTTER, '/org/gnome/Mutter/RemoteDesktop')
                      .CreateSession(dbus_interface=MUTTER))
seat.Start(dbus_interface=MUTTER + '.Session')
for pressed in (True, False):
    seat.NotifyKeyboardKeysym(dbus.UInt32(0xffe1), pressed, dbus_interface=MUTTER + '.Session')
Portal(bus, '/org/freedesktop/portal/desktop')
# Asked for last, so that whoever waits for the name finds the object ready.
name = dbus.service.BusName(NAME, bus)
GLib.MainLoop().run()
