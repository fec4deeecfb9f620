#!/usr/bin/env python3
"""Reads a built updater.exe back and checks what Windows will see of it.

usage: check_windows_exe.py --arch x86|amd64 [--max-size BYTES]
                            [--icon resources/updater.ico] EXE

Checks the machine type, the GUI subsystem, ASLR and DEP, the import list
(system DLLs only, each call from the DLL it belongs to), the file size
against the payload offset, the manifest, the icon group, the version record
and the code page 932 texts. Prints a short report; exits 1 and lists every
problem when anything is wrong.
"""

import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

PAYLOAD_OFFSET = 1 << 20

MACHINES = {"x86": 0x014C, "amd64": 0x8664}
SUBSYSTEM_GUI = 2
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100

# Known DLLs: the loader takes them from System32, never from the folder the
# updater was started from.
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}
REQUIRED_IMPORTS = {
    "kernel32.dll": [
        "CreateFileW", "ReadFile", "WriteFile", "SetFilePointer",
        "GetFileSizeEx", "CloseHandle", "GetModuleFileNameW",
        "MultiByteToWideChar", "CreateMutexA", "GetLastError",
        "GetModuleHandleA", "GetProcAddress", "FlushFileBuffers",
        "GetFinalPathNameByHandleW", "GetFileInformationByHandle",
        "SetFileInformationByHandle", "CreateFileMappingW", "MapViewOfFile",
    ],
    "advapi32.dll": ["RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey"],
    "user32.dll": ["MessageBoxA"],
}
# Looked up by name at run time, so that systems without it still start.
RUNTIME_LOOKUP = "SetDefaultDllDirectories"

SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Windows Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
}

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ICON_GROUP_ID = 101
ICON_SIZES = [48, 32, 16]
LANG_JAPANESE = 0x0411
VERSION_TABLE = "041104b0"
VERSION_STRINGS = {
    "CompanyName": "Orvane",
    "FileDescription": "Updater for Lumenhollow",
    "FileVersion": "1, 0, 0, 0",
    "InternalName": "",
    "LegalCopyright": "",
    "OriginalFilename": "",
    "ProductName": "",
    "ProductVersion": "",
}

IDEOGRAPHIC_SPACE = "\u3000"
TEXTS = [
    ("kTextBusy", "ゲーム、ランチャー、アンインストーラーのいずれかが"
     "実行中なのでアップデートを行えません", 0),
    ("kTextNotInstalled", "ゲームがインストールされていません", 9),
    ("kTextConfirm", "アップデートを行いますか？", 13),
    ("kTextDone", "アップデートが完了しました", 13),
    ("kTextCorrupt", "アップデートプログラムが破損している可能性があります", 0),
    ("kTextFailed", "何らかの要因によりアップデートが行えません", 5),
    ("kTextUninstallFailed", "アンインストレーションファイルの更新に失敗しました", 1),
    ("kCaption", "「ルーメンホロウ」 Updater ver 1.00", 0),
    ("kRegistryKeyPart3", "ルーメンホロウ", 0),
]
NAMES = [
    b"Updater for Lumenhollow is executing.",
    b"Varnelix for Lumenhollow is executing.",
    b"InstalledFolder",
]


class Checker:
    def __init__(self, path, arch, max_size, icon_file):
        self.path = path
        self.arch = arch
        self.max_size = max_size
        self.icon_file = icon_file
        self.problems = []
        self.report = []

    def expect(self, ok, message):
        if not ok:
            self.problems.append(message)
        return ok

    def run(self):
        with open(self.path, "rb") as f:
            self.data = f.read()
        try:
            self.pe = pefile.PE(data=self.data)
        except pefile.PEFormatError as e:
            self.problems.append("not a PE file: %s" % e)
            return
        for step in (self.check_headers, self.check_size, self.check_imports,
                     self.check_manifest, self.check_icon,
                     self.check_version, self.check_texts):
            try:
                step()
            except (AttributeError, KeyError, IndexError, ValueError,
                    struct.error, ElementTree.ParseError) as e:
                self.problems.append("%s: cannot read: %r" % (step.__name__, e))

    def check_headers(self):
        machine = self.pe.FILE_HEADER.Machine
        self.expect(machine == MACHINES[self.arch],
                    "machine 0x%04x, not %s" % (machine, self.arch))
        subsystem = self.pe.OPTIONAL_HEADER.Subsystem
        self.expect(subsystem == SUBSYSTEM_GUI,
                    "subsystem %d, not the GUI (2)" % subsystem)
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.expect(flags & DYNAMIC_BASE, "no ASLR (DYNAMIC_BASE)")
        self.expect(flags & NX_COMPAT, "no DEP (NX_COMPAT)")
        self.report.append("machine 0x%04x (%s), GUI subsystem" %
                           (machine, self.arch))

    def check_size(self):
        size = len(self.data)
        self.expect(size < PAYLOAD_OFFSET,
                    "file is %d bytes, reaches the payload offset" % size)
        self.expect(self.pe.OPTIONAL_HEADER.SizeOfImage < PAYLOAD_OFFSET,
                    "image in memory is 1 MiB or more")
        self.expect(self.pe.get_overlay_data_start_offset() is None,
                    "data appended after the image")
        line = "file size %d bytes (%.1f KiB), below the 1 MiB payload offset" % (
            size, size / 1024.0)
        if self.max_size:
            self.expect(size <= self.max_size, "file is %d bytes, over the "
                        "%d-byte goal" % (size, self.max_size))
            line += "; goal %d: %s" % (
                self.max_size, "met" if size <= self.max_size else "MISSED")
        self.report.append(line)

    def imports(self):
        found = {}
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", []):
            dll = entry.dll.decode("ascii", "replace").lower()
            names = [i.name.decode("ascii", "replace") if i.name else
                     "#%d" % i.ordinal for i in entry.imports]
            found.setdefault(dll, []).extend(names)
        return found

    def check_imports(self):
        found = self.imports()
        for dll in sorted(found):
            self.expect(dll in ALLOWED_DLLS, "imports from %s" % dll)
        for dll, names in REQUIRED_IMPORTS.items():
            for name in names:
                self.expect(name in found.get(dll, []),
                            "%s not imported from %s" % (name, dll))
        self.expect(not hasattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT"),
                    "delay-loaded imports")
        everything = [n for names in found.values() for n in names]
        self.expect(RUNTIME_LOOKUP not in everything,
                    "%s imported: older systems would not start" %
                    RUNTIME_LOOKUP)
        self.expect(RUNTIME_LOOKUP.encode() + b"\0" in self.data,
                    "no run-time lookup of %s" % RUNTIME_LOOKUP)
        for dll in sorted(found):
            self.report.append("imports %s: %s" %
                               (dll, " ".join(sorted(found[dll]))))

    def resources(self, type_id):
        """{(id, language): bytes} of every resource of the type."""
        out = {}
        if not hasattr(self.pe, "DIRECTORY_ENTRY_RESOURCE"):
            return out
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if kind.id != type_id:
                continue
            for name in kind.directory.entries:
                for lang in name.directory.entries:
                    rva = lang.data.struct.OffsetToData
                    size = lang.data.struct.Size
                    out[(name.id, lang.id)] = self.pe.get_data(rva, size)
        return out

    def check_manifest(self):
        manifests = self.resources(RT_MANIFEST)
        if not self.expect(len(manifests) == 1 and
                           list(manifests)[0][0] == 1,
                           "not exactly one manifest, number 1: %s" %
                           sorted(manifests)):
            return
        root = ElementTree.fromstring(list(manifests.values())[0])

        def find_all(local):
            return [e for e in root.iter() if e.tag.split("}")[-1] == local]

        identity = [e for e in root if e.tag.split("}")[-1] ==
                    "assemblyIdentity"]
        if self.expect(len(identity) == 1, "no assemblyIdentity"):
            attrs = identity[0].attrib
            for key, want in (("name", "Setup"), ("version", "1.0.0.0"),
                              ("processorArchitecture", self.arch),
                              ("type", "win32")):
                self.expect(attrs.get(key) == want,
                            "assemblyIdentity %s is %r, not %r" %
                            (key, attrs.get(key), want))
        levels = find_all("requestedExecutionLevel")
        if self.expect(len(levels) == 1, "not one requestedExecutionLevel"):
            self.expect(levels[0].get("level") == "requireAdministrator",
                        "execution level %r" % levels[0].get("level"))
            self.expect(levels[0].get("uiAccess") in (None, "false"),
                        "uiAccess %r" % levels[0].get("uiAccess"))
        ids = [e.get("Id", "").lower() for e in find_all("supportedOS")]
        self.expect(sorted(ids) == sorted(SUPPORTED_OS),
                    "supportedOS %s" % ids)
        self.report.append("manifest: Setup 1.0.0.0 %s, requireAdministrator,"
                           " Vista/7/8" % self.arch)

    def check_icon(self):
        groups = self.resources(RT_GROUP_ICON)
        if not self.expect([k[0] for k in groups] == [ICON_GROUP_ID],
                           "icon groups %s, not one numbered %d" %
                           (sorted(groups), ICON_GROUP_ID)):
            return
        group = list(groups.values())[0]
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.expect(reserved == 0 and kind == 1, "icon group header")
        icons = {k[0]: v for k, v in self.resources(RT_ICON).items()}
        sizes = []
        images = []
        for i in range(count):
            w, h, colours, _, planes, bits, length, number = \
                struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            sizes.append(w)
            self.expect(w == h and bits == 32 and planes == 1,
                        "icon %d: %dx%d, %d bits" % (number, w, h, bits))
            image = icons.get(number)
            if not self.expect(image is not None and len(image) == length,
                               "icon %d missing or of the wrong size" %
                               number):
                continue
            self.check_icon_image(number, w, image)
            images.append(image)
        self.expect(sizes == ICON_SIZES, "icon sizes %s" % sizes)
        if self.icon_file:
            self.expect(images == read_ico(self.icon_file),
                        "icons differ from %s" % self.icon_file)
        self.report.append("icon group %d: %s pixels, 32 bits" %
                           (ICON_GROUP_ID, "/".join(map(str, sizes))))

    def check_icon_image(self, number, size, image):
        header = struct.unpack_from("<IiiHHI", image)
        self.expect(header == (40, size, 2 * size, 1, 32, 0),
                    "icon %d: bitmap header %s" % (number, header))
        mask_stride = (size + 31) // 32 * 4
        self.expect(len(image) == 40 + size * size * 4 + mask_stride * size,
                    "icon %d: %d bytes" % (number, len(image)))
        alphas = image[40 + 3:40 + size * size * 4:4]
        opaque = sum(1 for a in alphas if a == 255)
        self.expect(opaque >= len(alphas) // 2,
                    "icon %d: only %d opaque pixels" % (number, opaque))

    def check_version(self):
        versions = self.resources(RT_VERSION)
        self.expect(list(versions) == [(1, LANG_JAPANESE)],
                    "version records %s, not one in Japanese" %
                    sorted(versions))
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.expect((fixed.FileVersionMS, fixed.FileVersionLS) ==
                    (0x00010000, 0), "file version %08x.%08x" %
                    (fixed.FileVersionMS, fixed.FileVersionLS))
        tables = {}
        translations = []
        for info in self.pe.FileInfo[0]:
            for table in getattr(info, "StringTable", []):
                tables[table.LangID.decode()] = {
                    k.decode("utf-8"): v.decode("utf-8")
                    for k, v in table.entries.items()}
            for var in getattr(info, "Var", []):
                translations.append(var.entry.get(b"Translation"))
        self.expect(list(tables) == [VERSION_TABLE],
                    "string tables %s" % list(tables))
        self.expect(tables.get(VERSION_TABLE) == VERSION_STRINGS,
                    "version strings %s" % tables.get(VERSION_TABLE))
        self.expect(translations == ["0x0411 0x04b0"],
                    "translation %s" % translations)
        self.report.append("version record 041104b0: 1.0.0.0, "
                           "\"Updater for Lumenhollow\", \"Orvane\"")

    def check_texts(self):
        for name, text, spaces in TEXTS:
            encoded = (text + IDEOGRAPHIC_SPACE * spaces).encode("cp932")
            self.expect(encoded + b"\0" in self.data,
                        "%s is not in the image in code page 932" % name)
        for name in NAMES:
            self.expect(name + b"\0" in self.data,
                        "%s is not in the image" % name.decode())


def read_ico(path):
    """The images of a .ico file, in directory order."""
    with open(path, "rb") as f:
        data = f.read()
    _, _, count = struct.unpack_from("<HHH", data)
    images = []
    for i in range(count):
        length, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        images.append(data[offset:offset + length])
    return images


def check(path, arch, max_size=0, icon_file=None):
    checker = Checker(path, arch, max_size, icon_file)
    checker.run()
    return checker.problems, checker.report


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=sorted(MACHINES), required=True)
    parser.add_argument("--max-size", type=int, default=0)
    parser.add_argument("--icon")
    parser.add_argument("exe")
    args = parser.parse_args()
    problems, report = check(args.exe, args.arch, args.max_size, args.icon)
    print("%s:" % os.path.relpath(args.exe))
    for line in report:
        print("  " + line)
    for problem in problems:
        print("  PROBLEM: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
