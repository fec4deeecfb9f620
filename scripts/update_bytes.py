#!/usr/bin/env python3
"""Updates as the tests read and damage them, through mkupdate itself.

Where an entry's data lies comes from `mkupdate list --json`
("data_position", the absolute position the updater seeks to), never from
the format's sizes added up by hand, so a test damages exactly the byte it
means to even when the format grows.

  update_bytes.py flip MKUPDATE UPDATE ENTRY OFFSET

flips (inverts) the byte OFFSET bytes into the data of the entry named
ENTRY, in place, as a bad download would.
"""
import json
import subprocess
import sys


def list_entries(mkupdate, update):
    """The update's directory as `mkupdate list --json` gives it: one dict
    per entry, by name. mkupdate's exit code is not checked: a damaged
    update still lists."""
    out = subprocess.run([str(mkupdate), "list", "--json", str(update)],
                         capture_output=True, check=False).stdout
    entries = json.loads(out.decode("utf-8"))["entries"]
    return {entry["name"]: entry for entry in entries}


def entry_position(mkupdate, update, name, offset=0):
    """The file position of the byte OFFSET bytes into entry NAME's data."""
    entry = list_entries(mkupdate, update)[name]
    if entry["data_position"] is None or not 0 <= offset < entry["size"]:
        raise ValueError("%s: no byte %d in entry %s" % (update, offset, name))
    return entry["data_position"] + offset


def entry_data(mkupdate, update, name):
    """Entry NAME's data, read from where the updater reads it."""
    entry = list_entries(mkupdate, update)[name]
    with open(update, "rb") as f:
        f.seek(entry["data_position"])
        return f.read(entry["size"])


def flip_entry_byte(mkupdate, update, name, offset):
    """Inverts the byte OFFSET bytes into entry NAME's data, in place."""
    at = entry_position(mkupdate, update, name, offset)
    with open(update, "r+b") as f:
        f.seek(at)
        byte = f.read(1)[0]
        f.seek(at)
        f.write(bytes([byte ^ 0xFF]))


def main(argv):
    if len(argv) != 6 or argv[1] != "flip":
        sys.stderr.write("usage: update_bytes.py flip MKUPDATE UPDATE ENTRY "
                         "OFFSET\n")
        return 2
    flip_entry_byte(argv[2], argv[3], argv[4], int(argv[5], 0))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
