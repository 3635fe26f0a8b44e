#!/usr/bin/env python3
"""Writes the example songs of this folder: public-domain melodies as MIDI files (formats 0
and 1, one wrapped as RMI) and a chime as a wave file. Python 3 standard library only; the
output is the same on every run, so the files are kept in the repository beside this script.

    python3 examples/make_examples.py [OUTPUT_FOLDER]
"""

import math
import struct
import sys
import wave
from pathlib import Path

TICKS = 480  # per quarter note

# General MIDI programs (0-based).
PIANO, CELESTA, MUSIC_BOX, VIBRAPHONE = 0, 8, 10, 11
ACOUSTIC_BASS, STRINGS, FLUTE, CLARINET, BASSOON, OBOE = 32, 48, 73, 71, 70, 68
NYLON_GUITAR = 24

NOTE_NAMES = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def pitch(name):
    """'C4' is middle C (60); '#' and 'b' alter it."""
    base = NOTE_NAMES[name[0]]
    rest = name[1:]
    while rest and rest[0] in "#b":
        base += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    return 12 * (int(rest) + 1) + base


def melody(text):
    """'E4:1 D4:0.5 R:1' -> [(pitch or None, quarters)]."""
    notes = []
    for word in text.split():
        name, length = word.split(":")
        notes.append((None if name == "R" else pitch(name), float(length)))
    return notes


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


class Track:
    """Events at absolute ticks; written with running status, sorted stably by tick."""

    def __init__(self):
        self.events = []  # (tick, order, bytes)

    def add(self, tick, data):
        self.events.append((int(tick), len(self.events), bytes(data)))

    def meta(self, tick, kind, data):
        self.add(tick, bytes([0xFF, kind]) + var_len(len(data)) + data)

    def name(self, text):
        self.meta(0, 0x03, text.encode("ascii"))

    def tempo(self, tick, bpm):
        self.meta(tick, 0x51, struct.pack(">I", round(60_000_000 / bpm))[1:])

    def setup(self, channel, program, volume=100, pan=64, reverb=40):
        self.add(0, [0xB0 | channel, 7, volume])
        self.add(0, [0xB0 | channel, 10, pan])
        self.add(0, [0xB0 | channel, 91, reverb])
        self.add(0, [0xC0 | channel, program])

    def play(self, channel, start, notes, velocity=90, transpose=0, legato=0.9):
        """Places notes from `start` (ticks); returns the tick after the last one."""
        tick = start
        for note, quarters in notes:
            length = round(quarters * TICKS)
            if note is not None:
                self.add(tick, [0x90 | channel, note + transpose, velocity])
                self.add(tick + round(length * legato), [0x80 | channel, note + transpose, 0])
            tick += length
        return tick

    def chunk(self, end_tick):
        # Note offs sort before note ons on the same tick (order: tick, then off first).
        def key(event):
            tick, order, data = event
            return (tick, 0 if (data[0] & 0xF0) == 0x80 else 1, order)

        out = bytearray()
        last_tick = 0
        running = 0
        for tick, _, data in sorted(self.events, key=key):
            out += var_len(tick - last_tick)
            last_tick = tick
            if data[0] < 0xF0 and data[0] == running:
                out += data[1:]
            else:
                out += data
            running = data[0] if data[0] < 0xF0 else 0
        out += var_len(max(0, end_tick - last_tick)) + b"\xFF\x2F\x00"
        return b"MTrk" + struct.pack(">I", len(out)) + bytes(out)


def smf(fmt, tracks, end_tick):
    header = b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), TICKS)
    return header + b"".join(track.chunk(end_tick) for track in tracks)


def rmi(song, title):
    info_text = title.encode("ascii") + b"\0"
    if len(info_text) % 2:
        info_text += b"\0"
    info = b"INFO" + b"INAM" + struct.pack("<I", len(title) + 1) + info_text
    body = b"RMID" + b"LIST" + struct.pack("<I", len(info)) + info
    body += b"data" + struct.pack("<I", len(song)) + song + (b"\0" if len(song) % 2 else b"")
    return b"RIFF" + struct.pack("<I", len(body)) + body


def ode_to_joy():
    """Beethoven's theme, piano over a walking bass: format 0, 120 bpm, 32 s."""
    a = "E4:1 E4:1 F4:1 G4:1 G4:1 F4:1 E4:1 D4:1 C4:1 C4:1 D4:1 E4:1"
    tune = melody(a + " E4:1.5 D4:0.5 D4:2 " + a + " D4:1.5 C4:0.5 C4:2 "
                  "D4:1 D4:1 E4:1 C4:1 D4:1 E4:0.5 F4:0.5 E4:1 C4:1 "
                  "D4:1 E4:0.5 F4:0.5 E4:1 D4:1 C4:1 D4:1 G3:2 " + a + " D4:1.5 C4:0.5 C4:2")
    bass = melody(" ".join(["C3:2 G2:2 C3:2 G2:2 C3:2 G2:2 G2:2 C3:2"] * 2)
                  + " G2:2 C3:2 G2:2 C3:2 G2:2 C3:2 G2:2 D3:1 G2:1 "
                  + "C3:2 G2:2 C3:2 G2:2 C3:2 G2:2 G2:2 C3:2")
    track = Track()
    track.name("Ode to Joy")
    track.meta(0, 0x58, bytes([4, 2, 24, 8]))
    track.tempo(0, 120)
    track.setup(0, PIANO, volume=110, pan=56)
    track.setup(1, ACOUSTIC_BASS, volume=90, pan=72)
    end = track.play(0, 0, tune, velocity=96, transpose=12)
    track.play(1, 0, bass, velocity=80, legato=0.8)
    return smf(0, [track], end + TICKS)


def twinkle():
    """Twinkle, twinkle, little star: celesta tune, strings, 100 bpm, format 1, 29 s."""
    line_a = "C4:1 C4:1 G4:1 G4:1 A4:1 A4:1 G4:2 F4:1 F4:1 E4:1 E4:1 D4:1 D4:1 C4:2"
    line_b = "G4:1 G4:1 F4:1 F4:1 E4:1 E4:1 D4:2"
    tune = melody(" ".join([line_a, line_b, line_b, line_a]))
    chords = {"C": ("C3", "E3", "G3"), "F": ("F3", "A3", "C4"), "G": ("G2", "D3", "B3")}
    line_a_chords = "C C F C F C G C"
    line_b_chords = "C F C G"
    order = " ".join([line_a_chords, line_b_chords, line_b_chords, line_a_chords]).split()
    conductor = Track()
    conductor.name("Twinkle, Twinkle, Little Star")
    conductor.tempo(0, 100)
    lead = Track()
    lead.name("Celesta")
    lead.setup(0, CELESTA, volume=110)
    end = lead.play(0, 0, tune, velocity=100, transpose=12)
    pad = Track()
    pad.name("Strings")
    pad.setup(1, STRINGS, volume=70, pan=40, reverb=70)
    tick = 0
    for chord in order:  # one chord every half note
        for note in chords[chord]:
            pad.play(1, tick, [(pitch(note), 2)], velocity=60, legato=0.98)
        tick += 2 * TICKS
    return smf(1, [conductor, lead, pad], end + TICKS)


def frere_jacques():
    """Frère Jacques as a four-voice round, format 1, 96 bpm quickening to 120: 32 s."""
    tune = melody("F4:1 G4:1 A4:1 F4:1 F4:1 G4:1 A4:1 F4:1 A4:1 Bb4:1 C5:2 A4:1 Bb4:1 C5:2 "
                  "C5:0.5 D5:0.5 C5:0.5 Bb4:0.5 A4:1 F4:1 C5:0.5 D5:0.5 C5:0.5 Bb4:0.5 A4:1 F4:1 "
                  "F4:1 C4:1 F4:2 F4:1 C4:1 F4:2")
    voices = [(FLUTE, 12, 64), (CLARINET, 0, 40), (OBOE, 0, 88), (BASSOON, -12, 64)]
    bar = 4 * TICKS
    conductor = Track()
    conductor.name("Frere Jacques (round)")
    conductor.meta(0, 0x58, bytes([4, 2, 24, 8]))
    conductor.tempo(0, 96)
    conductor.tempo(6 * bar, 108)
    conductor.tempo(10 * bar, 120)
    tracks = [conductor]
    end = 0
    for number, (program, transpose, pan) in enumerate(voices):
        track = Track()
        track.name("Voice %d" % (number + 1))
        track.setup(number, program, volume=95, pan=pan)
        end = max(end, track.play(number, number * 2 * bar, tune, velocity=85,
                                  transpose=transpose))
        tracks.append(track)
    return smf(1, tracks, end + TICKS)


def au_clair_de_la_lune():
    """Au clair de la lune on a nylon guitar with a vibraphone echo, 112 bpm, RMI: 35 s."""
    a = "G4:1 G4:1 G4:1 A4:1 B4:2 A4:2 G4:1 B4:1 A4:1 A4:1 G4:4"
    b = "A4:1 A4:1 A4:1 A4:1 E4:2 E4:2 A4:1 G4:1 F#4:1 E4:1 D4:4"
    tune = melody(" ".join([a, a, b, a]))
    conductor = Track()
    conductor.name("Au clair de la lune")
    conductor.tempo(0, 112)
    guitar = Track()
    guitar.name("Guitar")
    guitar.setup(0, NYLON_GUITAR, volume=115, pan=50)
    end = guitar.play(0, 0, tune, velocity=95)
    echo = Track()
    echo.name("Vibraphone")
    echo.setup(1, VIBRAPHONE, volume=60, pan=90, reverb=90)
    echo.play(1, TICKS // 2, tune, velocity=55, transpose=12, legato=0.5)
    return smf(1, [conductor, guitar, echo], end + TICKS)


def westminster_chimes(path):
    """The Westminster quarters struck on tubular bells: 10 s, 22 050 Hz mono, 16-bit PCM."""
    rate = 22_050
    seconds = 10
    notes = ["G#4", "F#4", "E4", "B3", "E4", "G#4", "F#4", "B3",
             "E4", "F#4", "G#4", "E4", "G#4", "E4", "F#4", "B3"]
    # A bell's partials relative to its strike tone, with their loudness and decay (1/s).
    partials = [(0.5, 0.35, 0.8), (1.0, 1.0, 1.2), (1.19, 0.45, 2.0), (1.5, 0.3, 2.4),
                (2.0, 0.35, 3.0), (2.51, 0.18, 4.5), (3.0, 0.12, 5.5)]
    samples = [0.0] * (rate * seconds)
    step = 0.5
    for index, name in enumerate(notes):
        start = int((0.2 + index * step + (0.5 if index >= 8 else 0.0)) * rate)
        frequency = 440.0 * 2 ** ((pitch(name) - 69) / 12)
        for ratio, level, decay in partials:
            w = 2 * math.pi * frequency * ratio / rate
            for n in range(0, rate * seconds - start):
                t = n / rate
                amplitude = level * math.exp(-decay * t)
                if amplitude < 1e-4:
                    break
                attack = min(1.0, n / 40)
                samples[start + n] += amplitude * attack * math.sin(w * n)
    peak = max(abs(s) for s in samples) or 1.0
    fade = rate // 2
    frames = bytearray()
    for n, s in enumerate(samples):
        gain = min(1.0, (len(samples) - n) / fade)
        frames += struct.pack("<h", int(round(s / peak * 0.8 * gain * 32767)))
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(bytes(frames))


def main():
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "ode_to_joy.mid").write_bytes(ode_to_joy())
    (folder / "twinkle_twinkle.mid").write_bytes(twinkle())
    (folder / "frere_jacques_round.mid").write_bytes(frere_jacques())
    (folder / "au_clair_de_la_lune.rmi").write_bytes(rmi(au_clair_de_la_lune(), "Au clair de la lune"))
    westminster_chimes(folder / "westminster_chimes.wav")


if __name__ == "__main__":
    main()
