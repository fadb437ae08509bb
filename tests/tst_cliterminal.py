#!/usr/bin/python3
# varnisk-cli on a real terminal (pexpect): the password prompts with echo off, Ctrl-C at them,
# and the progress line. Each row says what is typed and how the program ends.
import io, os, re, signal, subprocess, sys, tempfile, time
import pexpect

CLI = os.path.join(os.environ["VARNISK_BINARY_DIR"], "cli", "varnisk-cli")
PROMPTS = ["Password: ", "Confirm password: "]
INTERRUPTED = -signal.SIGINT

TERMINAL = [  # row, answers ("^C": Ctrl-C), exit code (or minus the signal), shown, written
    ("passwords match", ["typed secret", "typed secret"], 0, b"Confirm password: ", True),
    ("passwords differ", ["typed secret", "typed secreT"], 2, b"Passwords don't match!", False),
    ("Ctrl-C at the prompt", ["^C"], INTERRUPTED, b"Password: ", False),
    ("Ctrl-C at the second prompt", ["typed secret", "^C"], INTERRUPTED, b"Confirm password: ",
     False),
]
PROGRESS = [  # row, options, standard error to a file, Ctrl-C once the line shows, line shown
    ("terminal", [], False, False, True),
    ("--quiet", ["--quiet"], False, False, False),
    ("standard error is a file", [], True, False, False),
    ("Ctrl-C: the line is ended, the output removed", [], False, True, True),
]
LINE = re.compile(rb"(\rDecrypting: [0-9.]+ [KM]iB, [0-9.]+ [KM]iB/s *)+(\^C)?\r\n\Z")


def start(args, stdin="/dev/tty", stderr="/dev/tty"):
    """varnisk-cli with the terminal as its controlling one; standard output is dropped."""
    # Descriptor 3 keeps the terminal open while the program has not yet opened it itself.
    shell = 'exec 3<>/dev/tty <"$1" 2>"$2" >/dev/null; shift 2; exec "$@"'
    child = pexpect.spawn("/bin/bash", ["-c", shell, "bash", stdin, stderr, CLI] + args,
                          timeout=20)
    child.logfile_read = io.BytesIO()
    return child


def answer(child, prompt, text):
    child.expect_exact(prompt)
    child.waitnoecho()  # typing before the echo is off would show the password
    child.send(("\x03" if text == "^C" else text) + "\n")


def finish(child):
    """The exit code or minus the signal; the echo must be on again however it ended."""
    child.expect(pexpect.EOF)
    echoes = child.getecho()
    child.wait()
    assert echoes, "echo left off"
    return child.exitstatus if child.signalstatus is None else -child.signalstatus


def decrypted(path, password):
    return subprocess.run([CLI, "decrypt", path, "-o", "-", "--password-fd", "0"],
                          input=password + b"\n", capture_output=True).stdout


def terminal(folder, answers, status, shown, written):
    plain = os.path.join(folder, "plain")
    with open(plain, "wb") as f:
        f.write(b"terminal data")
    child = start(["encrypt", plain])
    for prompt, text in zip(PROMPTS, answers):
        answer(child, prompt, text)
    assert finish(child) == status, child.exitstatus
    screen = child.logfile_read.getvalue()
    assert shown in screen and b"typed" not in screen, screen
    assert os.path.exists(plain + ".sdat") == written
    assert not written or decrypted(plain + ".sdat", b"typed secret") == b"terminal data"


def progress(folder, options, errorsToFile, interrupt, shown):
    # 300 KB given 8 KiB every 35 ms take more than a second: long enough for the line to show.
    data = os.urandom(300000)
    plain, stream, fifo, errors = (os.path.join(folder, n) for n in ("p", "s", "fifo", "errors"))
    with open(plain, "wb") as f:
        f.write(data)
    subprocess.run([CLI, "encrypt", plain, "-o", stream, "--password-fd", "0"], input=b"pw\n",
                   check=True)
    encrypted = open(stream, "rb").read()
    out = os.path.join(folder, "out")
    os.mkdir(out)
    os.mkfifo(fifo)
    child = start(["decrypt", "/dev/stdin", "-o", out + "/plain"] + options, fifo,
                  errors if errorsToFile else "/dev/tty")
    pipe = os.open(fifo, os.O_WRONLY)
    answer(child, "Password: ", "pw")
    interrupted = False
    for done in range(0, len(encrypted), 8192):
        try:
            os.write(pipe, encrypted[done:done + 8192])
        except BrokenPipeError:
            break  # the program has gone
        time.sleep(0.035)
        child.expect([pexpect.TIMEOUT, pexpect.EOF], timeout=0)
        if interrupt and not interrupted and b"/s" in child.logfile_read.getvalue():
            child.send("\x03")
            interrupted = True
    os.close(pipe)
    assert interrupted == interrupt
    status = finish(child)
    assert status == (INTERRUPTED if interrupt else 0), status
    screen = child.logfile_read.getvalue()
    assert bool(LINE.search(screen)) == shown and (shown or b"/s" not in screen), screen
    assert not errorsToFile or open(errors, "rb").read() == b""
    assert os.listdir(out) == (["plain"] if status == 0 else [])
    assert status != 0 or open(out + "/plain", "rb").read() == data


failures = 0
for test, rows in ((terminal, TERMINAL), (progress, PROGRESS)):
    for row in rows:
        with tempfile.TemporaryDirectory() as folder:
            try:
                test(folder, *row[1:])
                print(f"PASS   : {test.__name__}({row[0]})")
            except Exception as e:
                failures += 1
                print(f"FAIL!  : {test.__name__}({row[0]}) {type(e).__name__}: {e}")
sys.exit(1 if failures else 0)
