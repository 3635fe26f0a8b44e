#!/usr/bin/env python3
"""tdplay from the outside: exit statuses and messages for each failure, and its keys on a
terminal (q quits, Ctrl+C ends the status line), with the terminal restored afterwards."""
import fcntl
import os
import pathlib
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unicodedata
import unittest
import wave

TDPLAY = sys.argv.pop(1)
EXAMPLES = sys.argv.pop(1)
READ_FAULT = sys.argv.pop(1)  # a library for LD_PRELOAD that fails read() part-way through a file
WAVE = os.path.join(EXAMPLES, "westminster_chimes.wav")
SONG = os.path.join(EXAMPLES, "ode_to_joy.mid")


def run(*args, **env):
    environment = dict(os.environ, **env)
    for name, value in env.items():
        if value is None:
            del environment[name]
    return subprocess.run([TDPLAY, *args], capture_output=True, text=True, env=environment,
                          timeout=120)


def last_line_shown(output):
    """What a terminal shows of the last line `output` ends, its status line rewritten in place
    (carriage returns, erase to the end of the line)."""
    shown = ""
    for part in output.rstrip("\r\n").split("\n")[-1].split("\r"):
        cursor = 0
        for piece in re.split("(\x1b\\[K)", part):
            if piece == "\x1b[K":
                shown = shown[:cursor]
            else:
                shown = shown[:cursor] + piece + shown[cursor + len(piece):]
                cursor += len(piece)
    return shown


class Statuses(unittest.TestCase):
    def test_command_line(self):
        self.assertEqual(run("--version").returncode, 0)
        self.assertRegex(run("--version").stdout, r"^tdplay \d+\.\d+\.\d+\n$")
        for args in (["--gain", "11", WAVE], ["--gain", "x", WAVE], ["--output", "alsa", WAVE],
                     ["--bogus", WAVE], []):
            with self.subTest(args=args):
                self.assertEqual(run(*args).returncode, 2)

    def test_options_in_any_order(self):
        """Options before, among or after the files; -- ends them; a wrong value is refused with
        status 2 and one line naming the option."""
        with tempfile.TemporaryDirectory() as folder:
            out = os.path.join(folder, "out.wav")
            dashed = os.path.join(folder, "-dashed.wav")
            subprocess.run(["sox", "-n", "-r", "22050", dashed, "synth", "0.3", "sine", "440"],
                           check=True)
            self.addCleanup(os.chdir, os.getcwd())
            os.chdir(folder)
            rendered = [
                ["--max-seconds", "1", "--render", out, SONG],
                [SONG, "--pcm16", "--render", out, "--max-seconds", "1"],
                ["--render", out, "--", "-dashed.wav"],
            ]
            for args in rendered:
                with self.subTest(args=args):
                    result = run(*args)
                    seconds = subprocess.run(["soxi", "-D", out], capture_output=True, text=True)
                    os.remove(out)
                    self.assertEqual((result.returncode, result.stderr), (0, ""))
                    self.assertLessEqual(float(seconds.stdout), 1.0)
            self.assertEqual(run("--output", "null", "--", "-dashed.wav").returncode, 0)
            refused = [
                (["--max-seconds", v, "--render", out, SONG], "--max-seconds")
                for v in ("-5", "0", "1.5", "x", "", "4294968", "99999999999999999999", " 1")
            ] + [
                (["--pcm16", SONG], "--pcm16"),
                (["--render", out, SONG, WAVE], "--render"),
                (["--output", "null", "-dashed.wav"], "-dashed.wav"),
                (["--render", out, "--max-seconds"], "--max-seconds"),
                (["--render", "--pcm16", out, SONG], "--render"),
                (["--render", out, "--info", SONG], "--info"),
                (["--info", "--render", out, SONG], "--render"),
                (["--render", out, "--render", out, SONG], "--render"),
                (["-v", SONG], "-v"),
                # A name that starts with a digit is a file, not --loop's count.
                (["--render", out, "--loop", "01-song.mid"], "--loop N"),
            ]
            shutil.copy(SONG, "01-song.mid")
            for args, named in refused:
                with self.subTest(args=args):
                    result = run(*args)
                    self.assertEqual(result.returncode, 2)
                    self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                    self.assertRegex(result.stderr, "^tdplay: .*" + re.escape(named))
                    self.assertFalse(os.path.exists(out))

    def test_missing_soundfont_is_explained_once(self):
        other = SONG.replace("ode_to_joy", "twinkle_twinkle")
        result = run("--soundfont", "/nonexistent/gm.sf2", "--output", "null", SONG, other)
        self.assertEqual(result.returncode, 1)
        self.assertIn(SONG + ": No General MIDI soundfont found (looked for the chosen soundfont "
                      "/nonexistent/gm.sf2, which is not a readable file", result.stderr)
        self.assertEqual(result.stderr.count("fluid-soundfont-gm or timgm6mb-soundfont"), 1)
        self.assertEqual(result.stderr.count("looked for"), 1)
        self.assertEqual(result.stderr.count(SONG), 1)
        # A file that is no soundfont at all is named as such, and nothing else is printed.
        result = run("--soundfont", __file__, "--output", "null", SONG)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.splitlines(),
                         ["tdplay: " + SONG + ": No General MIDI soundfont found (" + __file__
                          + " is not a soundfont (SoundFont 2 or 3, or DLS))"])
        # Nor for a broken DLS file, which the library that reads DLS complains about.
        with tempfile.TemporaryDirectory() as folder:
            dls = os.path.join(folder, "broken.dls")
            with open(dls, "wb") as broken:
                broken.write(b"RIFF\xff\xff\x00\x00DLS junkjunk")
            result = run("--soundfont", dls, "--output", "null", SONG)
            self.assertEqual(result.stderr.splitlines(),
                             ["tdplay: " + SONG + ": No General MIDI soundfont found (cannot load "
                              + dls + ")"])
        # A chosen file's name is taken whole, ':' and all.
        installed = [f for f in ("/usr/share/sounds/sf2/TimGM6mb.sf2",
                                 "/usr/share/sounds/sf2/default-GM.sf2") if os.path.isfile(f)]
        if installed:
            with tempfile.TemporaryDirectory() as folder:
                os.mkdir(os.path.join(folder, "GM: v2"))
                font = os.path.join(folder, "GM: v2", "gm.sf2")
                os.symlink(installed[0], font)
                out = os.path.join(folder, "out.wav")
                result = run("--soundfont", font, "--max-seconds", "1", "--render", out, SONG)
                self.assertEqual((result.returncode, result.stderr), (0, ""))

    def test_names_and_output_failures(self):
        """A name's control bytes never reach the terminal, in the reason as in the name; a
        listing that cannot be written is a failure."""
        name = "/nonexistent/a\x1b]0;T\x07\nb.mid"
        for args in (["--info", name], ["--output", "null", name]):
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(len((result.stdout + result.stderr).splitlines()), 1)
                self.assertNotRegex(result.stdout + result.stderr, "[\x07\x1b]")
        with open("/dev/full", "w") as full:
            result = subprocess.run([TDPLAY, "--info", SONG], stdout=full, stderr=subprocess.PIPE,
                                    text=True, timeout=60)
        self.assertEqual(result.returncode, 1)
        self.assertIn("No space left on device", result.stderr)

    def test_no_sound_device_fails(self):
        result = run(WAVE, SDL_AUDIODRIVER="no-such-driver", TUNEDECK_OUTPUT=None)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.splitlines(), ["tdplay: " + WAVE + ": No audio output can "
                         "be opened (SDL audio: Audio target 'no-such-driver' not available)"])
        # A sound card that is not there: said once, without ALSA's own lines.
        result = run(WAVE, SDL_AUDIODRIVER="alsa", AUDIODEV="hw:99", TUNEDECK_OUTPUT=None)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr, "^tdplay: " + re.escape(WAVE) + ": No audio output can "
                         "be opened \\(SDL audio \\(alsa\\): [^\n]*\\)\n$")

    def test_null_output_plays_without_a_status_line_off_a_terminal(self):
        with tempfile.TemporaryDirectory() as folder:
            short = os.path.join(folder, "short.wav")
            subprocess.run(["sox", "-n", "-r", "22050", short, "synth", "0.3", "sine", "440"],
                           check=True)
            result = run("--output", "null", short)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, "")


class Gain(unittest.TestCase):
    def test_gain_scales_the_synthesiser(self):
        import array
        import wave

        def peak(*gain):
            with tempfile.TemporaryDirectory() as folder:
                out = os.path.join(folder, "out.wav")
                self.assertEqual(run(*gain, "--render", out, "--pcm16", SONG).returncode, 0)
                with wave.open(out) as rendered:
                    samples = array.array("h", rendered.readframes(rendered.getnframes()))
            return max(abs(x) for x in samples)

        silent, default, loud = peak("--gain", "0"), peak(), peak("--gain", "0.8")
        self.assertLessEqual(silent, 1)  # one step of rounding at most
        self.assertGreater(default, 0)
        self.assertGreater(loud, 2 * default)


class Info(unittest.TestCase):
    def test_verbose_info_describes_a_song(self):
        def track(*events):
            body = b"".join(events) + b"\x00\xff\x2f\x00"
            return b"MTrk" + len(body).to_bytes(4, "big") + body

        def meta(kind, text):
            return b"\x00\xff" + bytes([kind, len(text)]) + text

        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "song.mid")
            conductor = track(meta(0x03, b"Conductor"), meta(0x02, b"(c) 1996 Someone"),
                              b"\x00\xff\x51\x03" + (400000).to_bytes(3, "big"))
            # A note of two quarters: 480 ticks as a variable-length number.
            piano = track(meta(0x03, b"Piano"), b"\x00\x90\x3c\x5a", b"\x83\x60\x80\x3c\x00")
            with open(path, "wb") as out:
                out.write(b"MThd\x00\x00\x00\x06\x00\x01\x00\x02\x00\xf0" + conductor + piano)
            plain = run("--info", path)
            verbose = run("--info", "-v", path, WAVE)
            # Timed in SMPTE frames (25 a second, 40 ticks each): a tempo event is not heeded.
            with open(path, "wb") as out:
                out.write(b"MThd\x00\x00\x00\x06\x00\x01\x00\x02\xe7\x28" + conductor + piano)
            smpte = run("--info", "-v", path).stdout.splitlines()
        self.assertEqual(smpte[:3], [
            path + "\tsmf1\t480",
            "  format 1, 2 tracks, SMPTE 25 frames per second, 40 ticks per frame",
            "  track name: Conductor"])
        self.assertEqual(plain.stdout, path + "\tsmf1\t800\n")
        self.assertEqual(verbose.returncode, 0)
        self.assertEqual(verbose.stdout.splitlines(), [
            path + "\tsmf1\t800",
            "  format 1, 2 tracks, 240 ticks per quarter",
            "  tempo at start 150.00 bpm (400000 us per quarter)",
            "  track name: Conductor",
            "  copyright: (c) 1996 Someone",
            "  track name: Piano",
            "  title: Conductor",
            "  copyright: (c) 1996 Someone",
            WAVE + "\twav\t10000",
            "  title: " + WAVE])

    def test_lyrics_karaoke_and_play_lists(self):
        """--info -v prints markers and lyrics by line; on a terminal the line being sung shows
        under the status line with the sung part in bold, unless --no-lyrics; off a terminal
        nothing of it; a play list of another player stands for its entries."""
        def meta(delta, kind, text):
            return bytes([delta, 0xFF, kind, len(text)]) + text

        # 96 ticks a quarter at 120 bpm: 0x60 ticks are half a second. The last line is 80
        # columns wide, in characters that take two each.
        wide = "日本語の歌詞" * 6 + "日本語の"
        body = (meta(0, 0x03, b"Caf\xe9 Song") + meta(0, 0x06, b"Verse") + meta(0, 0x05, b"Hel")
                + meta(0x60, 0x05, b"lo\r") + meta(0x60, 0x05, b"\t" * 70 + b"world")
                + meta(0x60, 0x05, b"\r" + wide.encode()) + b"\x00\x90\x3c\x5a"
                + b"\x81\x40\x80\x3c\x00\x00\xff\x2f\x00")
        with tempfile.TemporaryDirectory() as folder:
            song = os.path.join(folder, "words.mid")
            with open(song, "wb") as out:
                out.write(b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk"
                          + len(body).to_bytes(4, "big") + body)
            listed = os.path.join(folder, "list.m3u")
            with open(listed, "w", encoding="utf-8") as out:
                out.write("#EXTM3U\n#EXTINF:2,Words\nwords.mid\n"
                          "http://x/\x1b]0;Hi\x07\u009b2J.mid\n")
            with open(os.path.join(folder, "empty.xspf"), "w") as out:
                out.write("<playlist><trackList><track><location>x")
            info = run("--info", "-v", listed)
            self.assertEqual(info.returncode, 1)
            # A list's entries reach the terminal with their control bytes escaped.
            self.assertIn("list.m3u: http://x/\\x1B]0;Hi\\x07\\xC2\\x9B2J.mid is no local file",
                          info.stderr)
            empty = run("--output", "null", os.path.join(folder, "empty.xspf"))
            self.assertEqual(empty.returncode, 1)
            self.assertIn("empty.xspf: the list names no file", empty.stderr)
            self.assertEqual(info.stdout.splitlines()[-5:], [
                "  title: Café Song", "  marker 00:00.0: Verse", "  lyrics 00:00.0: Hello",
                "  lyrics 00:01.0: " + "\t" * 70 + "world", "  lyrics 00:01.5: " + wide])
            quiet = run("--output", "null", song)
            self.assertEqual((quiet.returncode, quiet.stdout, quiet.stderr), (0, "", ""))
            for extra, shown in (([], True), (["--no-lyrics"], False)):
                pid, master = pty.fork()
                if pid == 0:
                    os.execv(TDPLAY, [TDPLAY, "--output", "null", *extra, song])
                output = read_to_end(master)
                _, status = os.waitpid(pid, 0)
                self.assertEqual(os.waitstatus_to_exitcode(status), 0)
                text = output.decode(errors="replace")
                with self.subTest(extra=extra):
                    self.assertEqual("\x1b[1mHel\x1b[0mlo" in text, shown, repr(text))
                    self.assertEqual("\x1b[1mHello\x1b[0m" in text, shown, repr(text))
                    # Tabs show as spaces: a tab's width depends on where the terminal is.
                    self.assertEqual(" " * 70 + "world\x1b[0m" in text, shown, repr(text))
                    # Each lyric line fits the terminal's 80 columns less one, or it would wrap
                    # and the status line above it would be written over.
                    lines = re.findall("\x1b\\[2K(.*?)\x1b\\[1A", text)
                    # Too wide, and sung at once: its end shows, the start giving way to "...".
                    self.assertEqual(any(line.endswith("..." + wide[-38:] + "\x1b[0m")
                                         for line in lines), shown, lines)
                    for line in lines:
                        self.assertNotIn("\t", line)
                        line = line.replace("\x1b[1m", "").replace("\x1b[0m", "")
                        columns = sum(2 if unicodedata.east_asian_width(c) in "WF" else 1
                                      for c in line)
                        self.assertLessEqual(columns, 79, line)


def read_to_end(master):
    """All a program on a pseudo-terminal writes until it closes the terminal."""
    output = b""
    while True:
        try:
            chunk = os.read(master, 1024)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    return output


class Keys(unittest.TestCase):
    # A tdplay that ignores its keys would keep the test waiting: end it instead.
    def setUp(self):
        signal.alarm(60)

    def tearDown(self):
        signal.alarm(0)

    def start_on_terminal(self, columns=80, played=WAVE):
        """tdplay playing `played` on a pseudo-terminal `columns` wide, once its status line
        shows: its pid, the terminal's master side and what it has written so far."""
        pid, master = pty.fork()
        if pid == 0:
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
            os.execv(TDPLAY, [TDPLAY, "--output", "null", played])
        output = b""
        while b"/ " not in output:
            output += os.read(master, 1024)
        return pid, master, output

    def play_on_terminal(self, keys):
        pid, master, output = self.start_on_terminal()
        os.write(master, keys)
        output += read_to_end(master)
        _, status = os.waitpid(pid, 0)
        return os.waitstatus_to_exitcode(status), output.decode(errors="replace"), master

    def test_quit_key(self):
        code, output, _ = self.play_on_terminal(b"q")
        self.assertEqual(code, 0)
        self.assertTrue(output.endswith("\r\n"), repr(output[-80:]))

    def test_interrupt_ends_the_line(self):
        code, output, _ = self.play_on_terminal(b"\x03")
        self.assertEqual(code, 130)
        self.assertTrue(output.endswith("\r\n"), repr(output[-80:]))

    def test_arrows_seek_while_paused(self):
        pid, master, started = self.start_on_terminal()
        output = started.decode(errors="replace")

        def read_until(pattern):
            nonlocal output
            while True:
                found = list(re.finditer(pattern, output))
                if found:
                    return found[-1]
                ready, _, _ = select.select([master], [], [], 20)
                self.assertTrue(ready, "tdplay stopped answering: " + repr(output[-200:]))
                output += os.read(master, 1024).decode(errors="replace")

        os.write(master, b" ")
        paused = read_until(r"(\d\d):(\d\d) / \d\d:\d\d  \(paused\)")
        before = int(paused.group(1)) * 60 + int(paused.group(2))
        os.write(master, b"\x1b[C")
        pattern = r"%02d:%02d / \d\d:\d\d  \(paused\)" % divmod(before + 5, 60)
        read_until(pattern)
        os.write(master, b"\x1b[D")
        read_until(r"%02d:%02d / \d\d:\d\d  \(paused\)" % divmod(before, 60))
        os.write(master, b"q")
        _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0)

    def test_next_file_while_the_soundfont_is_slow(self):
        # The first song's worker waits for a read of the soundfont (a slow disk) while it holds
        # the synthesiser: n goes on to the next file all the same, and q still quits.
        fonts = [f for f in ("/usr/share/sounds/sf2/default-GM.sf2",
                             "/usr/share/sounds/sf2/TimGM6mb.sf2") if os.path.isfile(f)]
        if not fonts:
            self.skipTest("no General MIDI soundfont is installed")
        with tempfile.TemporaryDirectory() as folder:
            hold = os.path.join(folder, "hold")
            os.mkfifo(hold)
            pid, master = pty.fork()
            if pid == 0:
                os.execve(TDPLAY, [TDPLAY, "--output", "null", "--soundfont", fonts[0], SONG,
                                   WAVE],
                          dict(os.environ, LD_PRELOAD=READ_FAULT, TUNEDECK_READ_FAULT_FILE=fonts[0],
                               TUNEDECK_READ_FAULT_AFTER="12", TUNEDECK_READ_FAULT_HOLD=hold))
            waiting = os.open(hold, os.O_WRONLY)  # once a read of the soundfont waits
            os.write(master, b"n")
            output, name, end = b"", os.path.basename(WAVE).encode(), time.monotonic() + 20
            while name not in output and select.select([master], [], [], end - time.monotonic())[0]:
                output += os.read(master, 1024)
            shown = name in output
            os.write(master, b"q")
            os.close(waiting)
            output += read_to_end(master)
            _, status = os.waitpid(pid, 0)
            self.assertTrue(shown, "n waited for the soundfont: " + repr(output[-300:]))
            self.assertEqual(os.waitstatus_to_exitcode(status), 0)

    def test_setting_keys_show_on_the_status_line(self):
        # m lets every channel sound again, muted and soloed alike. F5 (ESC [ 1 5 ~), Shift+Left
        # and F1 are read whole: no digit in them mutes a channel, and none after s solos one. A
        # wave file shows only the settings that change it.
        keys = b"+]]1s5\x1b[15~\x1b[1;2D\x1bOPs\x1b[15~l"
        for played, steps in (
                (SONG, ((keys, "key +1  tempo 120%  mute 1  solo 5  loop"),
                        (b"m", "key +1  tempo 120%  loop"))),
                (WAVE, ((keys, ":10  tempo 120%  loop"),))):
            pid, master, _ = self.start_on_terminal(played=played)
            for typed, shown in steps:
                os.write(master, typed)
                output = ""
                while shown not in output:
                    ready, _, _ = select.select([master], [], [], 20)
                    self.assertTrue(ready, "tdplay stopped answering: " + repr(output[-200:]))
                    output += os.read(master, 1024).decode(errors="replace")
            os.write(master, b"q")
            # The line left behind is the file's and its position, without the settings.
            output += read_to_end(master).decode(errors="replace")
            self.assertRegex(last_line_shown(output), r"\.(mid|wav)  \d\d:\d\d / \d\d:\d\d *$")
            _, status = os.waitpid(pid, 0)
            self.assertEqual(os.waitstatus_to_exitcode(status), 0)

    def test_status_line_fits_a_narrow_terminal(self):
        # A line as wide as the terminal would wrap, and each redraw start a line of its own.
        pid, master, output = self.start_on_terminal(columns=24)
        os.write(master, b"+]q")
        output = (output + read_to_end(master)).decode(errors="replace")
        os.waitpid(pid, 0)
        for line in re.sub("\x1b\\[K", "", output).replace("\n", "\r").split("\r"):
            self.assertLess(len(line), 24, repr(line))
        self.assertIn("...", output)

    def test_terminal_is_restored(self):
        pid, master, _ = self.start_on_terminal()
        during = termios.tcgetattr(master)[3]
        # A shell gives the terminal its own settings back while a job is stopped (Ctrl+Z) and
        # leaves them when the job goes on (fg): the keys must work again.
        shell = termios.tcgetattr(master)
        shell[3] |= termios.ICANON | termios.ECHO
        os.kill(pid, signal.SIGSTOP)
        os.waitpid(pid, os.WUNTRACED)
        termios.tcsetattr(master, termios.TCSANOW, shell)
        os.kill(pid, signal.SIGCONT)
        while termios.tcgetattr(master)[3] & termios.ICANON:
            time.sleep(0.01)
        os.write(master, b" ")  # pause, then quit
        os.write(master, b"q")
        os.waitpid(pid, 0)
        after = termios.tcgetattr(master)[3]
        self.assertFalse(during & termios.ECHO)
        self.assertTrue(after & termios.ECHO and after & termios.ICANON)

    def test_plays_on_in_the_background(self):
        # Started with & from a shell: the terminal is another job's, so tdplay neither reads
        # keys from it nor changes its settings (either would stop tdplay), nor writes its
        # status line over the shell's.
        with tempfile.TemporaryDirectory() as folder:
            short = os.path.join(folder, "short.wav")
            self.assertEqual(run("--render", short, "--max-seconds", "1", SONG).returncode, 0)
            pid, master = pty.fork()
            if pid == 0:
                job = os.fork()
                if job == 0:
                    os.setpgid(0, 0)
                    os.execv(TDPLAY, [TDPLAY, "--output", "null", short])
                _, status = os.waitpid(job, 0)
                os._exit(os.waitstatus_to_exitcode(status))
            os.write(master, b"q")  # typed at the shell
            output = read_to_end(master)
            _, status = os.waitpid(pid, 0)
            self.assertEqual(os.waitstatus_to_exitcode(status), 0)
            self.assertNotIn(b"short.wav", output)


def sound_file_facts(path):
    """(major format, frames, peak) of a sound file as libsndfile reads it."""
    import ctypes
    import ctypes.util
    sndfile = ctypes.CDLL(ctypes.util.find_library("sndfile") or "libsndfile.so.1")

    class Info(ctypes.Structure):
        _fields_ = [("frames", ctypes.c_int64), ("samplerate", ctypes.c_int),
                    ("channels", ctypes.c_int), ("format", ctypes.c_int),
                    ("sections", ctypes.c_int), ("seekable", ctypes.c_int)]
    sndfile.sf_open.restype = ctypes.c_void_p
    sndfile.sf_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(Info)]
    sndfile.sf_readf_float.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_float),
                                       ctypes.c_int64]
    sndfile.sf_readf_float.restype = ctypes.c_int64
    sndfile.sf_close.argtypes = [ctypes.c_void_p]
    info = Info()
    handle = sndfile.sf_open(path.encode(), 0x10, ctypes.byref(info))  # SFM_READ
    if not handle:
        return None
    block = (ctypes.c_float * (4096 * info.channels))()
    peak = 0.0
    while True:
        got = sndfile.sf_readf_float(handle, block, 4096)
        if got <= 0:
            break
        peak = max(peak, max(abs(v) for v in block[:got * info.channels]))
    sndfile.sf_close(handle)
    return info.format & 0x0FFF0000, info.frames, peak


class Rendering(unittest.TestCase):
    """--render writes the format its name ends with, with the listener's settings applied."""

    def test_formats_and_settings(self):
        wav, flac, ogg = 0x010000, 0x170000, 0x200000
        length = 32.5  # seconds of the song
        cases = [
            ("out.wav", [], wav, length, True),
            ("out.flac", ["--tempo", "150", "--loop", "2"], flac, 2 * length / 1.5, True),
            ("out.OGG", ["--transpose", "-3", "--tempo", "50%"], ogg, length * 2, True),
            ("out.wav", ["--mute", "1-8,9-15", "--mute", "16"], wav, length, False),
            ("out.wav", ["--solo", "16", "--transpose", "5"], wav, length, False),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for name, args, major, seconds, sounds in cases:
                with self.subTest(name=name, args=args):
                    out = os.path.join(folder, name)
                    result = run("--render", out, *args, SONG)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    found, frames, peak = sound_file_facts(out)
                    self.assertEqual(found, major)
                    self.assertAlmostEqual(frames / 44100, seconds, delta=0.05)
                    self.assertEqual(peak > 0.01, sounds, peak)
                    os.remove(out)
            # A song that ends as its note is let go rings out after it, as it does when played
            # (half a second of note, 96 ticks a quarter at 120 bpm).
            ends, out = os.path.join(folder, "ends.mid"), os.path.join(folder, "ends.wav")
            with open(ends, "wb") as song:
                body = b"\x00\x90\x3c\x64\x60\x80\x3c\x00\x00\xff\x2f\x00"
                song.write(b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk"
                           + len(body).to_bytes(4, "big") + body)
            self.assertEqual(run("--render", out, ends).returncode, 0)
            self.assertTrue(0.6 < sound_file_facts(out)[1] / 44100 < 5.5)
            # Its ring-out is the one the same note has inside a longer song (here one whose end
            # comes a second later), from the song's last frame on: nothing of it is left out.
            longer = os.path.join(folder, "longer.mid")
            with open(longer, "wb") as song:
                body = b"\x00\x90\x3c\x64\x60\x80\x3c\x00\x81\x40\xff\x2f\x00"
                song.write(b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk"
                           + len(body).to_bytes(4, "big") + body)
            rendered = []
            for song in (ends, longer):
                self.assertEqual(run("--render", out, "--pcm16", song).returncode, 0)
                with wave.open(out) as sound:
                    rendered.append(sound.readframes(22050 + 8192)[4 * 22050:])
            self.assertEqual(rendered[0], rendered[1])
            os.remove(longer)
            os.remove(ends)
            os.remove(out)
            for args, status, message in (
                    (["--render", os.path.join(folder, "out.mp3"), SONG], 2, ".wav, .flac or .ogg"),
                    (["--render", os.path.join(folder, "out.wav"), "--loop", SONG], 2, "--loop N"),
                    (["--render", "/dev/full", SONG], 1, "No space left on device"),
                    (["--render", "/dev/full", "--pcm16", WAVE], 1, "No space left on device"),
                    (["--mute", "0", SONG], 2, "--mute takes channels"),
                    (["--transpose", "13", SONG], 2, "--transpose takes"),
                    (["--tempo", "401", SONG], 2, "--tempo takes")):
                with self.subTest(args=args):
                    result = run(*args)
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertIn(message, result.stderr)
            self.assertEqual(os.listdir(folder), [])
            # Nothing to render still makes a file of the format asked for.
            empty, out = os.path.join(folder, "empty.wav"), os.path.join(folder, "empty.flac")
            write_wave(empty, 0)
            self.assertEqual(run("--render", out, empty).returncode, 0)
            self.assertEqual(sound_file_facts(out)[0], flac)
        self.assertIn("--transpose N", run("--help").stdout)
        self.assertIn("[ and ] the tempo", run("--help").stdout)


def write_wave(path, seconds, rate=44100):
    """A stereo 16-bit wave of a constant level, its data chunk from byte 44 on."""
    import wave
    with wave.open(path, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(b"\x00\x10\x00\xf0" * (rate * seconds))


def contents(folder):
    return {p.name: p.read_bytes() for p in pathlib.Path(folder).iterdir()}


class RenderSafety(unittest.TestCase):
    """A render that cannot finish leaves the folder as it was: no partial wave, no temporary
    file, an earlier file of that name untouched (a song that cannot be read to its end
    included); and it never writes over its own song."""

    def test_unfinished_renders_leave_nothing(self):
        import resource

        def files_up_to(size):
            def limit():
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past it fails instead
                resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
            return limit

        # Encoders write their last frames as the file is closed: one byte short of the whole
        # file fails there.
        whole = {}
        with tempfile.TemporaryDirectory() as folder:
            for name in ("out.flac", "out.ogg"):
                result = run("--render", os.path.join(folder, name), WAVE)
                self.assertEqual(result.returncode, 0, result.stderr)
                whole[name] = os.path.getsize(os.path.join(folder, name))

        with tempfile.TemporaryDirectory() as folder:
            song = os.path.join(folder, "in.wav")
            out = os.path.join(folder, "out.wav")
            midi = os.path.join(folder, "song.mid")
            shutil.copy(SONG, midi)
            os.link(midi, os.path.join(folder, "linked.mid"))
            write_wave(song, 3)
            interrupt = dict(LD_PRELOAD=READ_FAULT, TUNEDECK_READ_FAULT_FILE=song,
                             TUNEDECK_READ_FAULT_AFTER=str(44 + 44100 * 4),
                             TUNEDECK_READ_FAULT_SIGNAL=str(int(signal.SIGINT)))
            cases = [
                ("interrupted", [out, song], interrupt, None, 130, ""),
                ("terminated", [out, song], dict(interrupt, TUNEDECK_READ_FAULT_SIGNAL=str(
                    int(signal.SIGTERM))), None, 128 + signal.SIGTERM, ""),
                ("the song cannot be read to its end", [out, song],
                 dict(LD_PRELOAD=READ_FAULT, TUNEDECK_READ_FAULT_FILE=song,
                      TUNEDECK_READ_FAULT_AFTER=str(44 + 44100 * 4)), None, 1,
                 "kept as it was: the render is not whole"),
                ("write fails", [out, song], {}, files_up_to(200000), 1, "File too large"),
                ("write of an Ogg file fails", [os.path.join(folder, "out.ogg"), midi], {},
                 files_up_to(200000), 1, "writing failed"),
                *((f"the end of {name} fails", [os.path.join(folder, name), WAVE], {},
                   files_up_to(size - 1), 1, "writing failed at the end: File too large")
                  for name, size in whole.items()),
                ("onto the song", [song, song], {}, None, 2, "is the file being rendered"),
                ("onto a link to it", [os.path.join(folder, "linked.mid"), midi], {}, None, 2,
                 "is the file being rendered"),
            ]
            for name, (target, source), env, limit, status, message in cases:
                with self.subTest(name):
                    with open(out, "wb") as earlier:
                        earlier.write(b"earlier")
                    before = contents(folder)
                    result = subprocess.run([TDPLAY, "--render", target, source],
                                            capture_output=True, text=True, timeout=120,
                                            env=dict(os.environ, **env), preexec_fn=limit)
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertIn(message, result.stderr)
                    after = contents(folder)
                    self.assertEqual(after, before)

    def test_a_read_only_file_is_kept(self):
        """A file its owner made read-only is not replaced, as cp and the shell's > leave it."""
        with tempfile.TemporaryDirectory() as folder:
            os.chmod(folder, 0o777)
            kept = os.path.join(folder, "kept.wav")
            with open(kept, "wb") as earlier:
                earlier.write(b"earlier")
            os.chmod(kept, 0o444)
            # root may write any file: the render runs as nobody then.
            nobody = (lambda: (os.setgid(65534), os.setuid(65534))) if os.geteuid() == 0 else None
            try:
                result = subprocess.run([TDPLAY, "--render", kept, WAVE], capture_output=True,
                                        text=True, timeout=120, preexec_fn=nobody)
            except PermissionError:
                self.skipTest("nobody may not run " + TDPLAY)
            if "Permission denied" in result.stderr and WAVE in result.stderr:
                self.skipTest("nobody may not read " + WAVE)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn("kept.wav: Permission denied", result.stderr)
            self.assertEqual(contents(folder), {"kept.wav": b"earlier"})

    def test_a_link_is_written_through(self):
        """A target that is a symbolic link (/dev/stdout sent to a file, say) stays one: the
        render replaces the file it names."""
        with tempfile.TemporaryDirectory() as folder:
            real = os.path.join(folder, "real.wav")
            link = os.path.join(folder, "link.wav")
            with open(real, "wb") as earlier:
                earlier.write(b"earlier")
            os.symlink("real.wav", link)
            result = run("--render", link, WAVE)
            self.assertEqual((result.returncode, result.stderr), (0, ""))
            self.assertTrue(os.path.islink(link))
            with open(real, "rb") as rendered:
                self.assertEqual(rendered.read(4), b"RIFF")

    def test_a_wave_file_streams_into_a_fifo(self):
        """Into a FIFO (or /dev/stdout piped on), a wave file goes as a stream: its header with
        the sizes unknown, then the frames, 16-bit or float."""
        import threading
        for extra, tag, bits in (([], 3, 32), (["--pcm16"], 1, 16)):
            with self.subTest(extra=extra), tempfile.TemporaryDirectory() as folder:
                fifo = os.path.join(folder, "out.wav")
                os.mkfifo(fifo)
                got = []
                reader = threading.Thread(target=lambda: got.append(open(fifo, "rb").read()))
                reader.start()
                result = run("--render", fifo, *extra, WAVE)
                reader.join(60)
                self.assertEqual((result.returncode, result.stderr), (0, ""))
                data = got[0]
                self.assertEqual((data[:4], data[8:16]), (b"RIFF", b"WAVEfmt "))
                self.assertEqual(int.from_bytes(data[20:22], "little"), tag)
                self.assertEqual(int.from_bytes(data[34:36], "little"), bits)
                header = data.index(b"data") + 8
                self.assertEqual(data[header - 4:header], b"\xff\xff\xff\xff")
                # The example wave lasts 10 s: that many frames of two channels, each this big.
                self.assertEqual(len(data) - header, 441000 * 2 * bits // 8)

    def test_flac_into_a_fifo_ends_with_its_last_frame(self):
        """A FLAC encoder goes back to finish its header, which a FIFO cannot: the stream keeps
        the header it began with, and nothing is written after its last frame."""
        import threading
        with tempfile.TemporaryDirectory() as folder:
            fifo, file = os.path.join(folder, "out.flac"), os.path.join(folder, "file.flac")
            os.mkfifo(fifo)
            got = []
            reader = threading.Thread(target=lambda: got.append(open(fifo, "rb").read()))
            reader.start()
            streamed = run("--render", fifo, "--max-seconds", "2", WAVE)
            reader.join(60)
            written = run("--render", file, "--max-seconds", "2", WAVE)
            self.assertEqual((streamed.returncode, streamed.stderr, written.returncode), (0, "", 0))
            with open(file, "rb") as whole:
                self.assertEqual(len(got[0]), len(whole.read()))

    def test_fifo_without_reader_is_refused(self):
        with tempfile.TemporaryDirectory() as folder:
            fifo = os.path.join(folder, "fifo")
            os.mkfifo(fifo)
            # Waiting for a reader would block until this time-out.
            result = subprocess.run([TDPLAY, "--render", fifo, SONG], capture_output=True,
                                    text=True, timeout=60)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "tdplay: " + fifo + ": no program is reading from it\n")


class ReadErrors(unittest.TestCase):
    """A wave file whose reads start failing with EIO one second in, as from a failing disk: the
    second before it is played, then the run fails, naming the file and the reason."""

    def test_read_error_while_playing(self):
        import wave

        rate, seconds, readable = 44100, 3, 1
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "failing.wav")
            write_wave(path, seconds, rate)
            header = 44  # the data chunk starts here in what the wave module writes
            rendered = os.path.join(folder, "rendered.wav")
            for name, args in (("offline render", ["--render", rendered, "--pcm16", path]),
                               ("null output", ["--output", "null", path])):
                for fault_at, status in ((header + rate * 4 * readable, 1),
                                         (header + rate * 4 * seconds, 0)):
                    with self.subTest(name, fault_at=fault_at):
                        result = run(*args, LD_PRELOAD=READ_FAULT, TUNEDECK_OUTPUT="null",
                                     TUNEDECK_READ_FAULT_FILE=path,
                                     TUNEDECK_READ_FAULT_AFTER=str(fault_at))
                        self.assertEqual(result.returncode, status, result.stderr)
                        if status == 0:
                            self.assertEqual(result.stderr, "")
                            continue
                        self.assertEqual(result.stderr.count(path), 1, result.stderr)
                        self.assertRegex(result.stderr, r"^tdplay: " + re.escape(path)
                                         + r": (rendering failed: )?The file cannot be read\b")
                        if args[0] == "--render":
                            # What was read before the fault is there, and nothing after it.
                            with wave.open(rendered) as out:
                                played = out.getnframes() / out.getframerate()
                            self.assertAlmostEqual(played, readable, delta=0.05)


if __name__ == "__main__":
    unittest.main()
