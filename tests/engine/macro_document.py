#!/usr/bin/env python3
"""Writes a Word document with a VBA project whose auto-run macros write a marker file.

    macro_document.py OUT.docx MARKER_PATH

The package is a macro-enabled document (its main part says so) under a .docx name. The
project has a document module whose Document_Open and a standard module whose AutoOpen each
write MARKER_PATH, so a conversion that runs either leaves the file behind. The project is
built from the compound-file and VBA-project formats' documentation: a compound file with a
mini stream, and each module's source in a compressed container made of literal tokens.
"""
import struct
import sys
import zipfile

SECTOR = 512
MINI_SECTOR = 64
MINI_CUTOFF = 4096
FREE, END_OF_CHAIN, FAT_SECTOR = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD
NO_STREAM = 0xFFFFFFFF


def compressed_container(data):
    """A compressed container whose chunks hold only literal tokens: valid, if not small."""
    out = bytearray(b"\x01")
    for start in range(0, len(data), 3584):  # 3584 literals and their flag bytes fit a chunk
        piece = data[start:start + 3584]
        body = bytearray()
        for i in range(0, len(piece), 8):
            body += b"\x00" + piece[i:i + 8]
        out += struct.pack("<H", 0x8000 | 0x3000 | (len(body) + 2 - 3)) + body
    return bytes(out)


def record(ident, data):
    return struct.pack("<HI", ident, len(data)) + data


def utf16(text):
    return text.encode("utf-16-le")


def dir_stream(modules):
    """The project's information and one record group per module, decompressed."""
    d = record(0x0001, struct.pack("<I", 1))  # 32-bit Windows
    d += record(0x0002, struct.pack("<I", 0x409))
    d += record(0x0014, struct.pack("<I", 0x409))
    d += record(0x0003, struct.pack("<H", 1252))
    d += record(0x0004, b"Project")
    d += record(0x0005, b"") + record(0x0040, b"")
    d += record(0x0006, b"") + record(0x003D, b"")
    d += record(0x0007, struct.pack("<I", 0))
    d += record(0x0008, struct.pack("<I", 0))
    d += struct.pack("<HIIH", 0x0009, 4, 1, 0)  # version: its size field is reserved
    d += record(0x000C, b"") + record(0x003C, b"")
    d += struct.pack("<HIH", 0x000F, 2, len(modules))
    d += record(0x0013, struct.pack("<H", 0xFFFF))
    for name, document_module, _ in modules:
        raw = name.encode("ascii")
        d += record(0x0019, raw) + record(0x0047, utf16(name))
        d += record(0x001A, raw) + record(0x0032, utf16(name))
        d += record(0x001C, b"") + record(0x0048, b"")
        d += record(0x0031, struct.pack("<I", 0))  # no performance cache: source at 0
        d += record(0x001E, struct.pack("<I", 0))
        d += record(0x002C, struct.pack("<H", 0xFFFF))
        d += struct.pack("<HI", 0x0022 if document_module else 0x0021, 0)
        d += struct.pack("<HI", 0x002B, 0)
    return d + struct.pack("<HI", 0x0010, 0)


class CompoundFile:
    """A version 3 compound file: streams under the cutoff live in the mini stream."""

    def __init__(self):
        self.entries = [{"name": "Root Entry", "type": 5, "children": [], "data": b""}]

    def add(self, parent, name, data=None):
        entry = {"name": name, "type": 1 if data is None else 2, "children": [],
                 "data": data or b""}
        self.entries.append(entry)
        self.entries[parent]["children"].append(len(self.entries) - 1)
        return len(self.entries) - 1

    def bytes(self):
        sectors, fat = [], []

        def place(data, table, unit):
            """Appends data to table's chain as whole units; answers its first unit."""
            if not data:
                return END_OF_CHAIN
            first = len(table)
            count = (len(data) + unit - 1) // unit
            table.extend(range(first + 1, first + count))
            table.append(END_OF_CHAIN)
            return first

        mini_stream, mini_fat = bytearray(), []
        for e in self.entries[1:]:
            if e["type"] == 2 and len(e["data"]) < MINI_CUTOFF:
                e["start"] = place(e["data"], mini_fat, MINI_SECTOR)
                mini_stream += e["data"].ljust(-(-len(e["data"]) // MINI_SECTOR) * MINI_SECTOR,
                                               b"\0")
        big = []
        for e in self.entries[1:]:
            if e["type"] == 2 and len(e["data"]) >= MINI_CUTOFF:
                big.append(e)

        def add_stream(data):
            start = place(data, fat, SECTOR)
            for i in range(0, len(data), SECTOR):
                sectors.append(data[i:i + SECTOR].ljust(SECTOR, b"\0"))
            return start

        root = self.entries[0]
        root["start"] = add_stream(bytes(mini_stream))
        root["size"] = len(mini_stream)
        for e in big:
            e["start"] = add_stream(e["data"])
        mini_fat_bytes = b"".join(struct.pack("<I", v) for v in mini_fat)
        mini_fat_start = add_stream(mini_fat_bytes) if mini_fat else END_OF_CHAIN
        directory_start = add_stream(self.directory())
        # The FAT describes itself: enough FAT sectors for every sector, theirs included.
        fat_sectors = 1
        while (len(sectors) + fat_sectors) * 4 > fat_sectors * SECTOR:
            fat_sectors += 1
        first_fat = len(sectors)
        fat.extend([FAT_SECTOR] * fat_sectors)
        fat.extend([FREE] * (fat_sectors * SECTOR // 4 - len(fat)))
        fat_bytes = b"".join(struct.pack("<I", v) for v in fat)
        for i in range(fat_sectors):
            sectors.append(fat_bytes[i * SECTOR:(i + 1) * SECTOR])
        assert fat_sectors <= 109
        difat = [first_fat + i for i in range(fat_sectors)] + [FREE] * (109 - fat_sectors)
        header = (b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + b"\0" * 16 +
                  struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + b"\0" * 6 +
                  struct.pack("<IIIIIIIII", 0, fat_sectors, directory_start, 0, MINI_CUTOFF,
                              mini_fat_start, max(1, -(-len(mini_fat_bytes) // SECTOR))
                              if mini_fat else 0, END_OF_CHAIN, 0) +
                  b"".join(struct.pack("<I", v) for v in difat))
        assert len(header) == SECTOR
        return header + b"".join(sectors)

    def directory(self):
        # Each storage's children as a degenerate red-black tree: all black, a right-leaning
        # chain in the order the format compares names (length first, then upper case).
        for e in self.entries:
            e["left"] = e["right"] = e["child"] = NO_STREAM
        for e in self.entries:
            kids = sorted(e["children"], key=lambda i: (len(self.entries[i]["name"]),
                                                        self.entries[i]["name"].upper()))
            if kids:
                e["child"] = kids[0]
                for a, b in zip(kids, kids[1:]):
                    self.entries[a]["right"] = b
        out = bytearray()
        for e in self.entries:
            name = utf16(e["name"]) + b"\0\0"
            size = e.get("size", len(e["data"]))
            start = e.get("start", 0) if (e["type"] != 1) else 0
            if e["type"] == 2 and not e["data"]:
                start = END_OF_CHAIN
            out += (name.ljust(64, b"\0") + struct.pack("<HBB", len(name), e["type"], 1) +
                    struct.pack("<III", e["left"], e["right"], e["child"]) + b"\0" * 16 +
                    struct.pack("<I", 0) + b"\0" * 16 + struct.pack("<IQ", start, size))
        while len(out) % SECTOR:
            out += (b"\0" * 64 + struct.pack("<HBB", 0, 0, 0) +
                    struct.pack("<III", NO_STREAM, NO_STREAM, NO_STREAM) + b"\0" * 48)
        return bytes(out)


def vba_project(marker):
    write = ('    Open "%s" For Output As #1\r\n    Print #1, "%%s ran"\r\n    Close #1\r\n'
             % marker)
    this_document = ('Attribute VB_Name = "ThisDocument"\r\n'
                     'Attribute VB_Base = "1Normal.ThisDocument"\r\n'
                     'Attribute VB_GlobalNameSpace = False\r\nAttribute VB_Creatable = False\r\n'
                     'Attribute VB_PredeclaredId = True\r\nAttribute VB_Exposed = True\r\n'
                     'Attribute VB_TemplateDerived = True\r\nAttribute VB_Customizable = True\r\n'
                     'Private Sub Document_Open()\r\n' + write % "Document_Open" + 'End Sub\r\n')
    module = ('Attribute VB_Name = "Module1"\r\nSub AutoOpen()\r\n' + write % "AutoOpen" +
              'End Sub\r\n')
    modules = [("ThisDocument", True, this_document), ("Module1", False, module)]
    cf = CompoundFile()
    vba = cf.add(0, "VBA")
    cf.add(vba, "_VBA_PROJECT", struct.pack("<HHBH", 0x61CC, 0xFFFF, 0, 0))
    cf.add(vba, "dir", compressed_container(dir_stream(modules)))
    for name, _, source in modules:
        cf.add(vba, name, compressed_container(source.encode("cp1252")))
    project = ('ID="{9E394C0B-697E-4AEE-9FA6-446F51FB30DC}"\r\nDocument=ThisDocument/&H00000000'
               '\r\nModule=Module1\r\nName="Project"\r\nHelpContextID="0"\r\n'
               'VersionCompatible32="393222000"\r\n\r\n[Host Extender Info]\r\n'
               '&H00000001={3832D640-CF90-11CF-8E43-00A0C911005A};VBE;&H00000000\r\n\r\n'
               '[Workspace]\r\nThisDocument=0, 0, 0, 0, C\r\nModule1=0, 0, 0, 0, C\r\n')
    cf.add(0, "PROJECT", project.encode("cp1252"))
    return cf.bytes()


def main():
    out, marker = sys.argv[1], sys.argv[2]
    w = "http://schemas.openxmlformats.org/wordprocessingml/2006/main"
    rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.'
                   'openxmlformats.org/package/2006/content-types"><Default Extension="rels" '
                   'ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Default Extension="bin" ContentType="application/vnd.ms-office.vbaProject"/>'
                   '<Override PartName="/word/document.xml" ContentType="application/'
                   'vnd.ms-word.document.macroEnabled.main+xml"/></Types>')
        z.writestr("_rels/.rels",
                   '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.'
                   'openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" '
                   'Type="%s/officeDocument" Target="word/document.xml"/></Relationships>' % rel)
        z.writestr("word/document.xml",
                   '<?xml version="1.0" encoding="UTF-8"?><w:document xmlns:w="%s"><w:body>'
                   '<w:p><w:r><w:t>A document with auto-run macros</w:t></w:r></w:p>'
                   '</w:body></w:document>' % w)
        z.writestr("word/_rels/document.xml.rels",
                   '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.'
                   'openxmlformats.org/package/2006/relationships"><Relationship Id="rIdVba" '
                   'Type="http://schemas.microsoft.com/office/2006/relationships/vbaProject" '
                   'Target="vbaProject.bin"/></Relationships>')
        z.writestr("word/vbaProject.bin", vba_project(marker))


if __name__ == "__main__":
    main()
