#!/usr/bin/python3
"""Stands in for a screen reader during bench/run: listens on the accessibility bus for the
events a screen reader follows, counts them and prints the counts when terminated.

    atspi-listener.py READY_FILE

Without a listener Qt sends almost no events, so a run with accessibility on would cost
nothing and mean nothing. READY_FILE is written once the listener is registered."""
import signal
import sys

import pyatspi
from gi.repository import GLib

EVENTS = ("object:children-changed", "object:property-change:accessible-name", "object:state-changed")
counts = {name: 0 for name in EVENTS}


def heard(event):
    for name in EVENTS:
        if event.type.startswith(name):
            counts[name] += 1
            return


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    pyatspi.Registry.registerEventListener(heard, *EVENTS)
    # The main loop runs in C; GLib hands the signal to us between events.
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_HIGH, number, lambda *_: pyatspi.Registry.stop() or False)
    with open(sys.argv[1], "w") as ready:
        ready.write("listening\n")
    # No idle callback that sleeps to release the interpreter: it would slow the listener down.
    pyatspi.Registry.start(gil=False)
    print("events=%d children_changed=%d name_changed=%d state_changed=%d"
          % (sum(counts.values()), counts[EVENTS[0]], counts[EVENTS[1]], counts[EVENTS[2]]), flush=True)


if __name__ == "__main__":
    main()
