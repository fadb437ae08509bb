#!/usr/bin/python3
"""What locks the editor from outside, through real buses: a private dbus-daemon as the session
bus with a fake screen saver, a second one as the system bus with a fake logind, `varnisk --lock`
from another process, and no bus at all (where idle still locks). The editor is editorprobe, the
real window driven over its standard input.

Run by CTest with VARNISK_BINARY_DIR set. The same file, started with --fakes, is the fake screen
saver and logind: it takes commands on standard input and reports on standard output."""
import os
import select
import subprocess
import sys
import tempfile
import time
import unittest

SESSION_PATH = '/org/freedesktop/login1/session/_31'
PASSWORD = ('Tangerine-', 'Osprey')  # given to the probe in halves, as it types them


def fakes():
    import dbus
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib

    DBusGMainLoop(set_as_default=True)
    session, system = dbus.SessionBus(), dbus.SystemBus()

    def report(*words):
        print(*words, flush=True)

    class FreedesktopScreenSaver(dbus.service.Object):
        @dbus.service.signal('org.freedesktop.ScreenSaver', signature='b')
        def ActiveChanged(self, active):
            pass

    class GnomeScreenSaver(dbus.service.Object):
        @dbus.service.signal('org.gnome.ScreenSaver', signature='b')
        def ActiveChanged(self, active):
            pass

    class Session(dbus.service.Object):
        @dbus.service.signal('org.freedesktop.login1.Session')
        def Lock(self):
            pass

        @dbus.service.signal('org.freedesktop.DBus.Properties', signature='sa{sv}as')
        def PropertiesChanged(self, interface, changed, invalidated):
            pass

    class Manager(dbus.service.Object):
        held = 0

        @dbus.service.method('org.freedesktop.login1.Manager', in_signature='s', out_signature='o')
        def GetSession(self, name):
            report('get-session', name)
            return SESSION_PATH

        @dbus.service.method('org.freedesktop.login1.Manager', in_signature='u', out_signature='o')
        def GetSessionByPID(self, pid):
            return SESSION_PATH

        @dbus.service.method('org.freedesktop.login1.Manager', in_signature='ssss',
                             out_signature='h')
        def Inhibit(self, what, who, why, mode):
            # The caller gets the writing end; its closing shows here as a hang-up.
            readable, writable = os.pipe()
            handed = dbus.types.UnixFd(writable)
            os.close(writable)
            GLib.io_add_watch(readable, GLib.PRIORITY_DEFAULT, GLib.IO_HUP, self.released)
            Manager.held += 1
            report('inhibit', what, mode, 'held', Manager.held)
            return handed

        def released(self, fd, condition):
            os.close(fd)
            Manager.held -= 1
            report('released held', Manager.held)
            return False

        @dbus.service.signal('org.freedesktop.login1.Manager', signature='b')
        def PrepareForSleep(self, start):
            pass

    freedesktop = FreedesktopScreenSaver(
        dbus.service.BusName('org.freedesktop.ScreenSaver', session), '/org/freedesktop/ScreenSaver')
    gnome = GnomeScreenSaver(dbus.service.BusName('org.gnome.ScreenSaver', session),
                             '/org/gnome/ScreenSaver')
    login1 = dbus.service.BusName('org.freedesktop.login1', system)
    manager = Manager(login1, '/org/freedesktop/login1')
    seat_session = Session(login1, SESSION_PATH)
    commands = {
        'freedesktop-active': lambda: freedesktop.ActiveChanged(True),
        'gnome-active': lambda: gnome.ActiveChanged(True),
        'gnome-inactive': lambda: gnome.ActiveChanged(False),
        'session-lock': seat_session.Lock,
        'locked-hint': lambda: seat_session.PropertiesChanged(
            'org.freedesktop.login1.Session', {'LockedHint': True}, []),
        'sleep': lambda: manager.PrepareForSleep(True),
        'wake': lambda: manager.PrepareForSleep(False),
    }

    def command(fd, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        commands[line.strip()]()
        return True

    loop = GLib.MainLoop()
    GLib.io_add_watch(sys.stdin.fileno(), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, command)
    report('ready')
    loop.run()


class Lines:
    """A child process's standard output, read line by line with a time limit."""

    def __init__(self, process):
        self.process = process
        self.buffer = b''

    def next(self, timeout=20):
        deadline = time.monotonic() + timeout
        while b'\n' not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                raise AssertionError('no answer within %d s' % timeout)
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                raise AssertionError('the process ended')
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b'\n', 1)
        return line.decode()

    def until(self, prefix, timeout=20):
        while True:
            line = self.next(timeout)
            if line.startswith(prefix):
                return line


class Probe:
    def __init__(self, environment, document=None):
        self.process = subprocess.Popen(
            [os.path.join(BUILD, 'tests/editorprobe/editorprobe'), *PASSWORD],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=environment)
        self.output = Lines(self.process)
        if document:
            assert self.ask('open ' + document) == 'ok'

    def ask(self, command):
        self.process.stdin.write(command.encode() + b'\n')
        self.process.stdin.flush()
        return self.output.next()

    def wait_locked(self, retry=None, timeout=20):
        """Polls until the window is locked, doing `retry` again between polls: a signal sent
        before the probe subscribed (its subscriptions follow replies) is simply sent again."""
        deadline = time.monotonic() + timeout
        while self.ask('locked') != 'ok':
            if time.monotonic() > deadline:
                return False
            if retry:
                retry()
            time.sleep(0.2)
        return True

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)
        self.process.stdout.close()


def start_bus(folder, name):
    daemon = subprocess.Popen(
        ['dbus-daemon', '--session', '--nofork', '--print-address=1',
         '--address=unix:path=' + os.path.join(folder, name)], stdout=subprocess.PIPE)
    return daemon, daemon.stdout.readline().decode().strip()


def settings_folder(folder, name, lock_settings=''):
    config = os.path.join(folder, name)
    os.makedirs(os.path.join(config, 'Nembrow'))
    with open(os.path.join(config, 'Nembrow', 'Varnisk.conf'), 'w') as conf:
        conf.write('[Lock]\n' + lock_settings)
    return config


class LockTriggers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        folder = cls.tmp.name
        cls.session, session_address = start_bus(folder, 'session')
        cls.system, system_address = start_bus(folder, 'system')
        cls.env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=session_address,
                       DBUS_SYSTEM_BUS_ADDRESS=system_address, QT_QPA_PLATFORM='offscreen',
                       XDG_CONFIG_HOME=settings_folder(folder, 'config'))
        cls.fakes = subprocess.Popen([sys.executable, __file__, '--fakes'], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, env=cls.env)
        cls.events = Lines(cls.fakes)
        assert cls.events.next() == 'ready'
        cls.document = os.path.join(folder, 'doc.stxt')
        subprocess.run([os.path.join(BUILD, 'cli/varnisk-cli'), 'new', cls.document,
                        '--password-fd', '0'], input=(''.join(PASSWORD) + '\nsecret\n').encode(),
                       check=True, env=cls.env)
        cls.probe = Probe(cls.env, cls.document)
        # The session of this process, or the user's display session; then the delay, taken as
        # the window came up unlocked.
        assert cls.events.until('get-session') == 'get-session auto'
        assert cls.events.until('inhibit') == 'inhibit sleep delay held 1'

    @classmethod
    def tearDownClass(cls):
        cls.probe.close()
        cls.fakes.stdin.close()
        cls.fakes.wait(timeout=30)
        cls.fakes.stdout.close()
        for daemon in (cls.session, cls.system):
            daemon.terminate()
            daemon.wait()
            daemon.stdout.close()
        cls.tmp.cleanup()

    def fake(self, command):
        self.fakes.stdin.write(command.encode() + b'\n')
        self.fakes.stdin.flush()

    def unlock(self):
        if self.probe.ask('locked') == 'ok':
            self.assertEqual(self.probe.ask('unlock'), 'ok')
            self.assertEqual(self.events.until('inhibit'), 'inhibit sleep delay held 1')

    def test_desktop_signals_lock(self):
        for signal in ('freedesktop-active', 'gnome-active', 'session-lock', 'locked-hint'):
            with self.subTest(signal):
                self.unlock()
                self.assertTrue(self.probe.wait_locked(retry=lambda: self.fake(signal)))
                self.assertEqual(self.events.until('released'), 'released held 0')

    def test_screen_saver_ending_does_not_lock(self):
        self.unlock()
        self.fake('gnome-inactive')
        time.sleep(1)
        self.assertEqual(self.probe.ask('locked'), 'failed: unlocked')

    def test_sleep_locks_first_then_lets_it_go(self):
        self.unlock()
        self.fake('sleep')
        self.assertTrue(self.probe.wait_locked())
        self.assertEqual(self.events.until('released'), 'released held 0')
        self.fake('wake')
        # Locked windows want no delay; unlocking takes exactly one again (in unlock()).
        self.unlock()
        self.assertEqual(self.probe.ask('locked'), 'failed: unlocked')

    def test_lock_command(self):
        self.unlock()
        second = Probe(self.env)
        try:
            self.assertEqual(self.events.until('inhibit'), 'inhibit sleep delay held 2')
            command = subprocess.run([os.path.join(BUILD, 'app/varnisk'), '--lock'],
                                     env=self.env, capture_output=True, timeout=30)
            self.assertEqual(command.returncode, 0, command.stderr)
            self.assertEqual(self.probe.ask('locked'), 'ok')
            self.assertEqual(second.ask('locked'), 'ok')
            self.events.until('released held 0')
        finally:
            second.close()
        for name, address in (('no instance', self.env['DBUS_SYSTEM_BUS_ADDRESS']),
                              ('no bus', 'unix:path=' + os.path.join(self.tmp.name, 'none'))):
            with self.subTest(name):
                command = subprocess.run([os.path.join(BUILD, 'app/varnisk'), '--lock'],
                                         env=dict(self.env, DBUS_SESSION_BUS_ADDRESS=address),
                                         capture_output=True, timeout=30)
                self.assertEqual(command.returncode, 1)
                self.assertTrue(command.stderr.startswith(b'varnisk: '), command.stderr)

    def test_no_bus_at_all(self):
        # Nothing to hear, nothing fails: by hand and on idle (2 s here) it locks all the same.
        nowhere = 'unix:path=' + os.path.join(self.tmp.name, 'none')
        environment = dict(self.env, DBUS_SESSION_BUS_ADDRESS=nowhere,
                           DBUS_SYSTEM_BUS_ADDRESS=nowhere,
                           XDG_CONFIG_HOME=settings_folder(self.tmp.name, 'idle', 'idleSeconds=2\n'))
        probe = Probe(environment, self.document)
        try:
            self.assertEqual(probe.ask('lock'), 'ok')
            self.assertEqual(probe.ask('unlock'), 'ok')
            self.assertTrue(probe.wait_locked())
        finally:
            probe.close()


if __name__ == '__main__':
    if sys.argv[1:] == ['--fakes']:
        fakes()
    else:
        BUILD = os.environ['VARNISK_BINARY_DIR']
        unittest.main(verbosity=2)
