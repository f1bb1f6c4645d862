"""Prints a MIDI file as mido reads it: one line per message, for the MIDI writer's tests."""
import sys

import mido

midi = mido.MidiFile(sys.argv[1])
print(f"type {midi.type} ticks {midi.ticks_per_beat} tracks {len(midi.tracks)}")
for number, track in enumerate(midi.tracks):
    print(f"track {number}")
    for message in track:
        print(" ", message)
