#!/usr/bin/env python3
"""Breaks copies of the built i686 updater.exe, one fault at a time, and
makes sure check_windows_exe.py reports each fault.

usage: check_windows_exe_test.py EXE ICON
"""

import os
import struct
import sys
import tempfile
import unittest

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_windows_exe  # noqa: E402

EXE = None
ICON = None


def utf16(text):
    return text.encode("utf-16-le")


class CheckerFindsFaults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(EXE, "rb") as f:
            cls.original = f.read()
        cls.folder = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def problems(self, data, max_size=65536, arch="x86"):
        path = os.path.join(self.folder.name, "broken.exe")
        with open(path, "wb") as f:
            f.write(data)
        return check_windows_exe.check(path, arch, max_size, ICON)[0]

    def replaced(self, old, new):
        self.assertEqual(len(old), len(new))
        self.assertEqual(self.original.count(old), 1, old)
        return self.original.replace(old, new)

    def with_header(self, change):
        pe = pefile.PE(data=self.original)
        change(pe)
        return bytes(pe.write())

    def assertFound(self, problems, fragment):
        self.assertTrue(any(fragment in p for p in problems),
                        "%r not among %s" % (fragment, problems))

    def test_the_built_program_passes(self):
        self.assertEqual(self.problems(self.original), [])

    def test_headers(self):
        def amd64(pe):
            pe.FILE_HEADER.Machine = 0x8664

        def console(pe):
            pe.OPTIONAL_HEADER.Subsystem = 3

        def fixed_base(pe):
            pe.OPTIONAL_HEADER.DllCharacteristics &= ~0x0040

        self.assertFound(self.problems(self.with_header(amd64)), "machine")
        self.assertFound(self.problems(self.with_header(console)),
                         "subsystem 3")
        self.assertFound(self.problems(self.with_header(fixed_base)), "ASLR")
        self.assertFound(self.problems(self.original, arch="amd64"),
                         "machine")

    def test_size(self):
        padded = self.original + bytes(
            check_windows_exe.PAYLOAD_OFFSET - len(self.original))
        problems = self.problems(padded, max_size=0)
        self.assertFound(problems, "reaches the payload offset")
        self.assertFound(problems, "appended")
        self.assertFound(self.problems(self.original,
                                       max_size=len(self.original) - 1),
                         "goal")

    def test_imports(self):
        other_dll = self.replaced(b"USER32.dll\0", b"USER99.dll\0")
        problems = self.problems(other_dll)
        self.assertFound(problems, "imports from user99.dll")
        self.assertFound(problems, "MessageBoxA not imported")
        no_lookup = self.replaced(b"SetDefaultDllDirectories\0",
                                  b"SetDefaultDllDirectorieX\0")
        self.assertFound(self.problems(no_lookup), "run-time lookup")

    def test_manifest(self):
        as_invoker = self.replaced(b'level="requireAdministrator"',
                                   b'level="asInvoker"' + b" " * 11)
        self.assertFound(self.problems(as_invoker), "execution level")
        any_cpu = self.replaced(b'processorArchitecture="x86"',
                                b'processorArchitecture="*"  ')
        self.assertFound(self.problems(any_cpu), "processorArchitecture")
        other_name = self.replaced(b'name="Setup"', b'name="Setuq"')
        self.assertFound(self.problems(other_name), "assemblyIdentity name")
        no_win8 = self.replaced(b"{4a2f28e3-", b"{4a2f28e4-")
        self.assertFound(self.problems(no_win8), "supportedOS")

    def test_version(self):
        company = self.replaced(utf16("Orvane\0"), utf16("Orvanf\0"))
        self.assertFound(self.problems(company), "version strings")
        text = self.replaced(utf16("1, 0, 0, 0\0"), utf16("1, 0, 0, 1\0"))
        self.assertFound(self.problems(text), "version strings")
        table = self.replaced(utf16(check_windows_exe.VERSION_TABLE),
                              utf16("040904b0"))
        self.assertFound(self.problems(table), "string tables")
        fixed = self.replaced(struct.pack("<III", 0xFEEF04BD, 0x10000,
                                          0x10000),
                              struct.pack("<III", 0xFEEF04BD, 0x10000,
                                          0x20000))
        self.assertFound(self.problems(fixed), "file version")

    def test_icon(self):
        pe = pefile.PE(data=self.original)
        group = next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries
                     if e.id == check_windows_exe.RT_GROUP_ICON)
        rva = group.directory.entries[0].directory.entries[0].data.struct \
            .OffsetToData
        bits_at = pe.get_offset_from_rva(rva) + 6 + 6
        self.assertEqual(self.original[bits_at:bits_at + 2], b"\x20\x00")
        broken = bytearray(self.original)
        broken[bits_at] = 24
        self.assertFound(self.problems(bytes(broken)), "24 bits")
        # A different picture of the right shape: the icon file no longer
        # matches what the program carries.
        image = check_windows_exe.read_ico(ICON)[2]
        at = self.original.index(image)
        broken = bytearray(self.original)
        broken[at + 40] ^= 0xFF
        self.assertFound(self.problems(bytes(broken)), "icons differ")

    def test_texts(self):
        name, text, spaces = check_windows_exe.TEXTS[4]
        self.assertEqual(name, "kTextCorrupt")
        encoded = text.encode("cp932")
        # The backslash that ends 能 is what a careless compiler would eat.
        self.assertIn(b"\x94\x5c", encoded)
        damaged = encoded.replace(b"\x94\x5c", b"\x94\x5d")
        self.assertFound(self.problems(self.replaced(encoded, damaged)),
                         "kTextCorrupt")
        mutex = self.replaced(b"Varnelix for", b"Varnelix_for")
        self.assertFound(self.problems(mutex), "Varnelix")


if __name__ == "__main__":
    EXE, ICON = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=1)
