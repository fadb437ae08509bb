#!/usr/bin/python3
"""What locks the editor from outside, through real buses: a private dbus-daemon as the session
bus with a fake screen saver, another as the system bus with a fake logind, `varnisk --lock` from
another process, and no bus at all (where idle still locks). On the same session bus, later
`varnisk` runs hand their files to the session's one Varnisk. The editor is editorprobe, the real
window driven over its standard input. Run with --fakes, this file is the fake screen saver and
logind: commands on standard input, what happened on standard output."""
import os
import select
import subprocess
import sys
import tempfile
import time
import unittest

SESSION = '/org/freedesktop/login1/session/_31'
PASSWORD = ('Tangerine-', 'Osprey')  # the probe types it in these halves


def fakes():
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
    DBusGMainLoop(set_as_default=True)
    session, system = dbus.SessionBus(), dbus.SystemBus()
    method = dbus.service.method
    signal = dbus.service.signal
    manager_interface = 'org.freedesktop.login1.Manager'

    def screen_saver(interface):
        class ScreenSaver(dbus.service.Object):
            @signal(interface, signature='b')
            def ActiveChanged(self, active): pass
        return ScreenSaver

    class Session(dbus.service.Object):
        @signal('org.freedesktop.login1.Session')
        def Lock(self): pass

        @signal('org.freedesktop.DBus.Properties', signature='sa{sv}as')
        def PropertiesChanged(self, interface, changed, invalidated): pass

    class Manager(dbus.service.Object):
        held = 0

        @method(manager_interface, in_signature='s', out_signature='o')
        def GetSession(self, name):
            print('get-session', name, flush=True)
            return SESSION

        @method(manager_interface, in_signature='ssss', out_signature='h')
        def Inhibit(self, what, who, why, mode):
            # The caller gets the writing end: its closing is a hang-up here.
            readable, writable = os.pipe()
            handed = dbus.types.UnixFd(writable)
            os.close(writable)
            GLib.io_add_watch(readable, GLib.PRIORITY_DEFAULT, GLib.IO_HUP, self.released)
            Manager.held += 1
            print('inhibit', what, mode, 'held', Manager.held, flush=True)
            return handed

        def released(self, fd, condition):
            os.close(fd)
            Manager.held -= 1
            print('released held', Manager.held, flush=True)
            return False

        @signal(manager_interface, signature='b')
        def PrepareForSleep(self, start): pass

    name = dbus.service.BusName
    savers = {desktop: screen_saver('org.%s.ScreenSaver' % desktop)(
        name('org.%s.ScreenSaver' % desktop, session), '/org/%s/ScreenSaver' % desktop)
        for desktop in ('freedesktop', 'gnome', 'mate', 'xfce', 'cinnamon')}
    # Not the owner of the name: its signal must not count.
    spoofer = screen_saver('org.mate.ScreenSaver')(dbus.SessionBus(private=True),
                                                    '/org/mate/ScreenSaver')
    class Impostor(dbus.service.Object):
        @method('org.nembrow.Varnisk', out_signature='b')
        def Lock(self):
            return True

    # The name of an editor that is process 1 of its namespace: another program has it, and
    # answers as if it were one; on 'impostor', the session's name too, until 'impostor-out'.
    impostor = Impostor(name('org.nembrow.Varnisk.Instance1', session), '/org/nembrow/Varnisk')
    held = {}
    login1 = name('org.freedesktop.login1', system)
    manager = Manager(login1, '/org/freedesktop/login1')
    seat = Session(login1, SESSION)
    commands = {desktop + '-active': (lambda saver=saver: saver.ActiveChanged(True))
                for desktop, saver in savers.items()}
    commands.update({
        'gnome-inactive': lambda: savers['gnome'].ActiveChanged(False),
        'spoofed-active': lambda: spoofer.ActiveChanged(True),
        'session-lock': seat.Lock,
        'locked-hint': lambda: seat.PropertiesChanged('org.freedesktop.login1.Session',
                                                      {'LockedHint': True}, []),
        'sleep': lambda: manager.PrepareForSleep(True),
        'wake': lambda: manager.PrepareForSleep(False),
        'impostor': lambda: print('impostor', held.update(name=name('org.nembrow.Varnisk',
                                                                   session)), flush=True),
        'impostor-out': held.clear,
    })

    def command(fd, condition):
        line = sys.stdin.readline()
        if line:
            commands[line.strip()]()
        else:
            loop.quit()
        return bool(line)

    loop = GLib.MainLoop()
    GLib.io_add_watch(sys.stdin.fileno(), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, command)
    print('ready', flush=True)
    loop.run()


class Child:
    """A process spoken to line by line, each answer awaited 20 s at most."""

    def __init__(self, arguments, environment):
        self.process = subprocess.Popen(arguments, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, env=environment)
        self.buffer = b''

    def line(self):
        while b'\n' not in self.buffer:
            if not select.select([self.process.stdout], [], [], 20)[0]:
                raise AssertionError('no answer within 20 s')
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                raise AssertionError('the process ended')
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b'\n', 1)
        return line.decode()

    def until(self, prefix):
        line = self.line()
        return line if line.startswith(prefix) else self.until(prefix)

    def send(self, text):
        self.process.stdin.write(text.encode() + b'\n')
        self.process.stdin.flush()

    def ask(self, command):
        self.send(command)
        return self.line()

    def wait_answer(self, command, answer, again=lambda: None):
        """Until the probe answers so; a signal sent before it subscribed is simply sent again."""
        deadline = time.monotonic() + 20
        while self.ask(command) != answer and time.monotonic() < deadline:
            again()
            time.sleep(0.2)
        return self.ask(command) == answer

    def wait_locked(self, again=lambda: None):
        return self.wait_answer('locked', 'ok', again)

    def close(self):
        self.process.stdin.close()
        ended = self.process.wait(timeout=30)
        self.process.stdout.close()
        assert ended == 0, 'ended with %d' % ended


class LockTriggers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.daemons, addresses = [], []
        for bus in ('session', 'system'):
            cls.daemons.append(subprocess.Popen(
                ['dbus-daemon', '--session', '--nofork', '--print-address=1',
                 '--address=unix:path=' + cls.path(bus)], stdout=subprocess.PIPE))
            addresses.append(cls.daemons[-1].stdout.readline().decode().strip())
        cls.env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=addresses[0],
                       DBUS_SYSTEM_BUS_ADDRESS=addresses[1], QT_QPA_PLATFORM='offscreen',
                       XDG_CONFIG_HOME=cls.path('config'))
        cls.fakes = Child([sys.executable, __file__, '--fakes'], cls.env)
        assert cls.fakes.line() == 'ready'
        cls.document = cls.path('doc.stxt')
        subprocess.run([os.path.join(BUILD, 'cli/varnisk-cli'), 'new', cls.document,
                        '--password-fd', '0'], input=(''.join(PASSWORD) + '\nsecret\n').encode(),
                       check=True, env=cls.env)
        cls.probe = cls.start_probe(cls.env)
        # This process's session or the user's display session; then the delay, taken as the
        # window came up unlocked.
        assert cls.fakes.until('get-session') == 'get-session auto'
        assert cls.fakes.until('inhibit') == 'inhibit sleep delay held 1'

    @classmethod
    def tearDownClass(cls):
        cls.probe.close()
        cls.fakes.close()
        for daemon in cls.daemons:
            daemon.terminate()
            daemon.wait()
            daemon.stdout.close()
        cls.tmp.cleanup()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp.name, name)

    @classmethod
    def start_probe(cls, environment):
        probe = Child([os.path.join(BUILD, 'tests/editorprobe/editorprobe'), *PASSWORD],
                      environment)
        assert probe.ask('open ' + cls.document) == 'ok'
        return probe

    def lock_command(self, address):
        return subprocess.run([os.path.join(BUILD, 'app/varnisk'), '--lock'], timeout=30,
                              env=dict(self.env, DBUS_SESSION_BUS_ADDRESS=address),
                              capture_output=True)

    def unlock(self):
        if self.probe.ask('locked') == 'ok':
            self.assertEqual(self.probe.ask('unlock'), 'ok')
            self.assertEqual(self.fakes.until('inhibit'), 'inhibit sleep delay held 1')

    def test_desktop_signals_lock(self):
        for signal in ('freedesktop-active', 'gnome-active', 'mate-active', 'xfce-active',
                       'cinnamon-active', 'session-lock', 'locked-hint'):
            with self.subTest(signal):
                self.unlock()
                self.assertTrue(self.probe.wait_locked(lambda: self.fakes.send(signal)))
                self.assertEqual(self.fakes.until('released'), 'released held 0')

    def test_screen_saver_ending_or_a_stranger_does_not_lock(self):
        self.unlock()
        self.fakes.send('gnome-inactive')
        self.fakes.send('spoofed-active')
        time.sleep(1)
        self.assertEqual(self.probe.ask('locked'), 'failed: unlocked')

    def test_sleep_locks_then_lets_it_go(self):
        self.unlock()
        self.fakes.send('sleep')
        self.assertTrue(self.probe.wait_locked())
        self.assertEqual(self.fakes.until('released'), 'released held 0')
        self.fakes.send('wake')
        self.unlock()  # takes exactly one again

    def test_lock_command(self):
        self.unlock()
        # The session's Varnisk, which also owns a name of its own, and one from before.
        second = self.start_probe(dict(self.env, VARNISK_PROBE_INSTANCE='1'))
        try:
            self.fakes.until('inhibit sleep delay held 2')
            command = self.lock_command(self.env['DBUS_SESSION_BUS_ADDRESS'])
            self.assertEqual(command.returncode, 0, command.stderr)
            self.assertEqual([self.probe.ask('locked'), second.ask('locked')], ['ok', 'ok'])
            self.fakes.until('released held 0')
        finally:
            second.close()
        for name, address in (('no instance', self.env['DBUS_SYSTEM_BUS_ADDRESS']),
                              ('no bus', 'unix:path=' + self.path('none'))):
            with self.subTest(name):
                command = self.lock_command(address)
                self.assertEqual(command.returncode, 1)
                self.assertTrue(command.stderr.startswith(b'varnisk: '), command.stderr)

    @unittest.skipUnless(os.geteuid() == 0, 'a process namespace of its own needs root')
    def test_lock_command_counts_editors_it_cannot_reach(self):
        self.unlock()
        self.fakes.send('impostor')
        self.fakes.until('impostor')
        # Process 1 of a namespace of its own, so its name is the one another program holds;
        # the session's name is taken too, so it starts on its own.
        editor = subprocess.Popen(['unshare', '--pid', '--fork', '--kill-child',
                                   os.path.join(BUILD, 'app/varnisk')],
                                  env=self.env, stderr=subprocess.PIPE)
        try:
            told = b''
            while b'Instance1 cannot be had' not in told:
                self.assertTrue(select.select([editor.stderr], [], [], 20)[0], 'not told')
                told = editor.stderr.readline()
            self.fakes.until('inhibit sleep delay held 2')
            command = self.lock_command(self.env['DBUS_SESSION_BUS_ADDRESS'])
            self.assertEqual(command.returncode, 1)
            self.assertIn(b'1 running Varnisk found, 1 of them not reached', command.stderr)
        finally:
            editor.kill()  # and so, with --kill-child, the editor
            editor.wait(timeout=30)
            editor.stderr.close()
            self.fakes.send('impostor-out')
        self.fakes.until('released held 1')

    def test_no_bus_at_all(self):
        # Nothing to hear and nothing fails: by hand and on idle (2 s here) it locks all the same.
        config = self.path('idle')
        os.makedirs(os.path.join(config, 'Nembrow'))
        with open(os.path.join(config, 'Nembrow', 'Varnisk.conf'), 'w') as settings:
            settings.write('[Lock]\nidleSeconds=2\n')
        nowhere = 'unix:path=' + self.path('none')
        probe = self.start_probe(dict(self.env, DBUS_SESSION_BUS_ADDRESS=nowhere,
                                      DBUS_SYSTEM_BUS_ADDRESS=nowhere, XDG_CONFIG_HOME=config,
                                      VARNISK_PROBE_INSTANCE='1'))
        try:
            self.assertEqual([probe.ask('lock'), probe.ask('unlock')], ['ok', 'ok'])
            self.assertTrue(probe.wait_locked())
        finally:
            probe.close()

    def session_env(self, **changes):
        """The session bus only: logind's inhibitors are the other tests' matter."""
        return dict(self.env, DBUS_SYSTEM_BUS_ADDRESS='unix:path=' + self.path('none'),
                    VARNISK_PROBE_INSTANCE='1', LC_ALL='C.UTF-8', **changes)

    def launch(self, *names, **changes):
        return subprocess.Popen([os.path.join(BUILD, 'app/varnisk'), *names],
                                env=self.session_env(**changes))

    def later_varnisk(self, *names, folder=None):
        """A `varnisk` started while the session's one runs: it hands over and ends at once."""
        return subprocess.run([os.path.join(BUILD, 'app/varnisk'), *names], cwd=folder,
                              env=self.session_env(), timeout=30).returncode

    def test_files_handed_to_the_running_one(self):
        probe = self.start_probe(self.session_env())
        folder = self.path('andere Mappe')
        os.makedirs(folder)
        subprocess.run([os.path.join(BUILD, 'cli/varnisk-cli'), 'new', 'Zweites-ä.stxt',
                        '--password-fd', '0'], input=(''.join(PASSWORD) + '\nx\n').encode(),
                       cwd=folder, check=True, env=self.session_env())
        own = None
        try:
            # A name that is no file: the usual message, over a window of its own.
            probe.send('message')
            self.assertEqual(self.later_varnisk('missing.stxt'), 0)
            self.assertEqual(probe.line(), 'ok File does not exsist!')
            # A relative name, from another folder.
            probe.send('password')
            self.assertEqual(self.later_varnisk('Zweites-ä.stxt', folder=folder), 0)
            self.assertEqual(probe.line(), 'ok')
            # The same document again: its window comes to the front, no other opens.
            self.assertEqual(self.later_varnisk(self.document), 0)
            windows = 'ok *Varnisk - doc.stxt|Varnisk - NoName|Varnisk - Zweites-ä.stxt'
            self.assertTrue(probe.wait_answer('windows', windows))
            # No file: the front window comes forward.
            self.assertEqual(self.later_varnisk(), 0)
            # From another display: a Varnisk of its own, there.
            own = self.launch('missing.stxt', DISPLAY='elsewhere:0')
            name = 'org.nembrow.Varnisk.Instance%d' % own.pid
            self.assertTrue(until(lambda: self.bus().name_has_owner(name)))
            self.assertEqual(probe.ask('windows'), windows)
        finally:
            probe.close()
            if own:
                own.terminate()
                own.wait()

    def test_two_launches_at_once(self):
        launches = [self.launch(name) for name in ('one.stxt', 'two.stxt')]
        try:
            until(lambda: any(launch.poll() is not None for launch in launches))
            handed, owner = sorted(launches, key=lambda launch: launch.poll() is None)
            self.assertEqual([handed.returncode, owner.poll()], [0, None])
            self.assertEqual(self.bus().call_blocking(
                'org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                'GetConnectionUnixProcessID', 's', ('org.nembrow.Varnisk',)), owner.pid)
        finally:
            for launch in launches:
                launch.terminate()
                launch.wait()

    def bus(self):
        import dbus
        return dbus.bus.BusConnection(self.env['DBUS_SESSION_BUS_ADDRESS'])


def until(condition):
    """Whether `condition` came true within 20 s."""
    deadline = time.monotonic() + 20
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.05)
    return condition()

if __name__ == '__main__':
    if sys.argv[1:] == ['--fakes']:
        fakes()
    else:
        BUILD = os.environ['VARNISK_BINARY_DIR']
        unittest.main(verbosity=2)
