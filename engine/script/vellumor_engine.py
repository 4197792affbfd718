"""vellumor_engine.py: the script worker, one office instance and one document at a time, driven
by its client over a TCP connection to 127.0.0.1 (engine/PROTOCOL.md).

    python vellumor_engine.py PORT        (the token comes in VELLUMOR_ENGINE_TOKEN)

It runs under the Python that comes with the office (on Windows <install>/program/python.exe, on
Debian /usr/bin/python3 with python3-uno) and starts its own soffice.bin as a direct child, which
it drives over a private pipe. Every load and store runs on the office's main thread: the
command is queued there with AsyncCallback, because documents that load fine on the main thread
crash the office when they are loaded from a bridge thread.

A watchdog thread ends the process when a command overruns its deadline or the client goes
away, because under Wine the client has no handle to kill us with. No office outlives its
worker: on Linux it dies with us (PR_SET_PDEATHSIG), on Windows with our Job Object.

Standard library and uno only; runs on Python 3.7 to 3.11.
"""

import errno
import os
import queue
import re
import secrets
import select
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time
import zipfile

import uno
import unohelper
from com.sun.star.awt import XCallback
from com.sun.star.beans import PropertyValue
from com.sun.star.task import XInteractionHandler, XJob

IS_WINDOWS = os.name == "nt"

# Tests set this after import: called with the absolute path just before each document loads.
before_load = None

# The protocol's numbers, named as in core/engine_protocol.h and core/engine_codes.h. This script
# ships alone, so it carries them itself; the build compares each with its C++ twin
# (cmake/script_constants.py) and fails when one differs.
PROTOCOL_VERSION = 2
MAX_PAYLOAD = 1 << 20
TOKEN_VARIABLE = "VELLUMOR_ENGINE_TOKEN"

# Message types.
HELLO = 1
READY = 2
LOAD = 3
SAVE = 4
QUIT = 5
RESULT = 6

# Outcomes of a command; anything but OK carries a message meant for the user.
OK = 0
NOT_FOUND = 1
REFUSED = 2
PASSWORD_PROTECTED = 3
LOAD_FAILED = 4
SAVE_FAILED = 5
NO_DOCUMENT = 6
BAD_REQUEST = 7
START_FAILED = 8

OPTION_PDFA = 1
FORMAT_DOC = 9
FORMAT_DOCX = 13
FORMAT_PDF = 12
LOAD_FORMATS = (FORMAT_DOC, FORMAT_DOCX)

# How the worker ends.
EXIT_DONE = 0
EXIT_START_FAILED = 1
EXIT_USAGE = 2
EXIT_CLIENT_GONE = 3
EXIT_DEADLINE = 4
EXIT_PROTOCOL = 5
EXIT_OFFICE_DIED = 6
EXIT_MEMORY_CEILING = 7

# Load's reserved field: bit 0 lets the office read the local files a document links to; bits 8
# and up are the memory ceiling in MiB (0: none).
LOAD_ALLOW_LOCAL_LINKS = 1
LOAD_EIGHT_BIT_TEXT = 2  # plain text in an 8-bit Windows code page
LOAD_REFUSE_TEXT_IMPORT = 4  # the office's detection decides; what it reads only as text is junk
# Bits 3 to 7: the Word format the input check found (0: none), read by that format's import only.
LOAD_IMPORT_SHIFT = 3
LOAD_IMPORT_MASK = 0x1F
LOAD_CEILING_SHIFT = 8
# The office's import filters for each of those formats (the names of its filter configuration,
# the same from 7.4 on); the first is named when the office's detection picks none of them.
WORD_IMPORT_FILTERS = {
    1: ("MS Word 97", "MS Word 97 Vorlage", "MS Word 95", "MS Word 95 Vorlage", "MS WinWord 6.0"),
    2: ("MS Word 2007 XML", "MS Word 2007 XML Template", "MS Word 2007 XML VBA",
        "Office Open XML Text", "Office Open XML Text Template"),
    3: ("Rich Text Format",),
    4: ("HTML (StarWriter)", "HTML"),
    5: ("MS Word 2003 XML",),
    6: ("MS WinWord 5",),
    7: ("WordPerfect",),
}
LAST_WORD_IMPORT = 7
# The input check's reason for binary junk (core/input_check.h), given for such a text import too.
UNRECOGNISED_CONTENT = "not a Word document (unrecognised content)"

# The office settings both workers write into their profile, beside this script.
OFFICE_SETTINGS_FILE = "office_settings.ini"

# What a failed load or store says when nothing more is known: the office's own message names
# its internals (classes, error codes, URLs), which mean nothing to the user.
COULD_NOT_READ = "the office could not read it; the file may be damaged"
COULD_NOT_WRITE = "the office could not write a PDF of this document"

OFFICE_START_SECONDS = 60.0
OFFICE_END_SECONDS = 3.0
# soffice.bin asks its launcher to start it again after it first sets up a profile.
OFFICE_RESTART_CODES = (79, 81)
PASSWORD_REQUEST_TYPES = (
    "com.sun.star.task.PasswordRequest",
    "com.sun.star.task.DocumentPasswordRequest",
    "com.sun.star.task.DocumentPasswordRequest2",
    "com.sun.star.task.DocumentMSPasswordRequest",
    "com.sun.star.task.DocumentMSPasswordRequest2",
)


class ProtocolError(Exception):
    pass


# ---------------------------------------------------------------------------------------------
# Frames (core/engine_protocol.cpp)


class Message(object):
    def __init__(self, type_, **fields):
        self.type = type_
        self.version = fields.get("version", 0)
        self.token = fields.get("token", b"")
        self.pid = fields.get("pid", 0)
        self.id = fields.get("id", 0)
        self.deadline_ms = fields.get("deadline_ms", 0)
        self.text = fields.get("text", b"")
        self.reserved = fields.get("reserved", 0)
        self.format = fields.get("format", 0)
        self.flag = fields.get("flag", False)
        self.options = fields.get("options", 0)
        self.status = fields.get("status", OK)
        self.value = fields.get("value", 0)
        self.pages = fields.get("pages", 0)
        self.memory_bytes = fields.get("memory_bytes", 0)
        self.office_major = fields.get("office_major", 0)
        self.office_minor = fields.get("office_minor", 0)
        self.isolation_problem = fields.get("isolation_problem", b"")


def _as_bytes(text):
    return text.encode("utf-8", "surrogateescape") if isinstance(text, str) else bytes(text)


def _pack_str(text):
    data = _as_bytes(text)
    return struct.pack("<I", len(data)) + data


def encode_payload(m):
    out = struct.pack("<B", m.type)
    if m.type == HELLO:
        out += struct.pack("<H", m.version) + _pack_str(m.token) + struct.pack("<I", m.pid)
    elif m.type == READY:
        out += struct.pack("<B", m.status) + _pack_str(m.text)
        out += struct.pack("<HH", m.office_major, m.office_minor) + _pack_str(m.isolation_problem)
    elif m.type in (LOAD, SAVE):
        out += struct.pack("<II", m.id, m.deadline_ms) + _pack_str(m.text)
        out += struct.pack("<iiB", m.reserved, m.format, 1 if m.flag else 0)
        if m.type == SAVE:
            out += struct.pack("<I", m.options)
    elif m.type == RESULT:
        out += struct.pack("<IBiiQ", m.id, m.status, m.value, m.pages, m.memory_bytes)
        out += _pack_str(m.text)
    elif m.type != QUIT:
        raise ProtocolError("unknown message type")
    return out


def encode_frame(m):
    payload = encode_payload(m)
    return struct.pack("<I", len(payload)) + payload


class _Fields(object):
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def take(self, fmt):
        size = struct.calcsize(fmt)
        if len(self.data) - self.pos < size:
            raise ProtocolError("truncated or invalid field")
        values = struct.unpack_from(fmt, self.data, self.pos)
        self.pos += size
        return values if len(values) > 1 else values[0]

    def string(self):
        n = self.take("<I")
        if n > len(self.data) - self.pos:
            raise ProtocolError("truncated or invalid field")
        s = self.data[self.pos:self.pos + n]
        self.pos += n
        return s

    def boolean(self):
        b = self.take("<B")
        if b > 1:
            raise ProtocolError("truncated or invalid field")
        return b == 1


def decode_payload(payload):
    """The message of one payload; ProtocolError for anything the C++ codec calls malformed."""
    r = _Fields(payload)
    if not payload:
        raise ProtocolError("empty payload")
    m = Message(r.take("<B"))
    if m.type == HELLO:
        m.version = r.take("<H")
        m.token = r.string()
        m.pid = r.take("<I")
    elif m.type == READY:
        m.status = r.take("<B")
        m.text = r.string()
        m.office_major, m.office_minor = r.take("<HH")
        m.isolation_problem = r.string()
    elif m.type in (LOAD, SAVE):
        m.id, m.deadline_ms = r.take("<II")
        m.text = r.string()
        m.reserved, m.format = r.take("<ii")
        m.flag = r.boolean()
        if m.type == SAVE:
            m.options = r.take("<I")
    elif m.type == RESULT:
        m.id, m.status, m.value, m.pages, m.memory_bytes = r.take("<IBiiQ")
        m.text = r.string()
    elif m.type != QUIT:
        raise ProtocolError("unknown message type")
    if r.pos != len(payload):
        raise ProtocolError("trailing bytes after the message")
    if m.status > START_FAILED:
        raise ProtocolError("unknown status")
    return m


class FrameReader(object):
    """Collects bytes as they arrive and hands out whole messages."""

    def __init__(self):
        self.buffer = b""

    def append(self, data):
        self.buffer += data

    def next(self):
        """The next whole message, or None until more bytes arrive; ProtocolError if malformed."""
        if len(self.buffer) < 4:
            return None
        n = struct.unpack_from("<I", self.buffer)[0]
        if n == 0:
            raise ProtocolError("empty frame")
        if n > MAX_PAYLOAD:
            raise ProtocolError("frame too long")
        if len(self.buffer) - 4 < n:
            return None
        payload, self.buffer = self.buffer[4:4 + n], self.buffer[4 + n:]
        return decode_payload(payload)


def is_text_document(document):
    # Word's HTML loads as a Writer/Web document, which is text too; spreadsheets and drawings
    # support none of these.
    return any(document.supportsService(name) for name in (
        "com.sun.star.text.TextDocument", "com.sun.star.text.GenericTextDocument",
        "com.sun.star.text.WebDocument"))


def detected_filter(detection, url):
    """The import filter the office's type detection (its TypeDetection service) picks for url
    ("" when it recognises nothing), or None when the detection itself failed: detection only,
    quick even where the import would be slow."""
    try:
        _, descriptor = detection.queryTypeByDescriptor((_prop("URL", url),), True)
        return next((p.Value for p in descriptor if p.Name == "FilterName"), "")
    except Exception as e:
        if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
            raise
        return None


def loaded_filter(document):
    """The import filter the document was read with, "" when the office does not say."""
    try:
        return next((p.Value for p in document.getArgs() if p.Name == "FilterName"), "") or ""
    except Exception as e:
        if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
            raise
        return ""


def refuses_as_text(filter_name):
    """Whether content the input check could not name is refused, from the filter the office
    picks for it: a plain-text import, none at all, or a detection that failed (None)."""
    return not filter_name or is_plain_text_import(filter_name)


def is_plain_text_import(filter_name):
    # "Text", "Text (encoded)" and their web and master-document variants.
    return filter_name == "Text" or filter_name.startswith("Text (")


def body_elements(document):
    """The paragraphs and tables of a document's body, in order. The end shows as the
    enumeration's exception rather than as one more call per element."""
    elements = document.getText().createEnumeration()
    while True:
        try:
            element = elements.nextElement()
        except Exception as e:
            if is_uno_exception(e, "com.sun.star.container.NoSuchElementException"):
                return
            raise
        yield element


def collapse_spilled_breaks(document):
    """Word lays no page out for the empty paragraph that ends a section: at the foot of a full
    page it stays there, past the bottom margin, where the office would move it onto a page of
    its own and make an empty page. So an empty paragraph (nothing in it, nothing anchored to
    it, no break of its own) that the next paragraph or table follows with a new page takes no
    height (no spacing, a line of a hundredth of a millimetre): it keeps its place and its
    content, and where it fitted nothing moves. Only the copy in memory changes. Answers how
    many were collapsed."""
    collapsed = 0
    previous = None
    # Over the bridge every call crosses to the office and back, and a long document has
    # thousands of paragraphs: each element costs two calls, its own and its page properties
    # at once.
    for element in body_elements(document):
        is_paragraph, begins_page = page_start_of(element)
        if previous is not None and begins_page and is_empty_paragraph(previous):
            spacing = uno.createUnoStruct("com.sun.star.style.LineSpacing")
            spacing.Mode = uno.getConstantByName("com.sun.star.style.LineSpacingMode.FIX")
            spacing.Height = 1
            previous.setPropertyValue("ParaTopMargin", 0)
            previous.setPropertyValue("ParaBottomMargin", 0)
            previous.setPropertyValue("ParaLineSpacing", spacing)
            collapsed += 1
        previous = element if is_paragraph else None
    return collapsed


def page_start_of(element):
    """(whether it is a paragraph, whether it begins a new page) of an element of the text: a
    paragraph or a table. Paragraphs answer both page properties in one request; tables answer
    no request for several at once, so they are asked one property at a time."""
    try:
        kind, style = element.getPropertyValues(("BreakType", "PageDescName"))
    except Exception as e:
        if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
            raise
        return False, starts_page(element)
    return True, kind.value in ("PAGE_BEFORE", "PAGE_BOTH") or bool(style)


def starts_page(element):
    """Whether a paragraph or table begins a new page, each property asked for on its own."""
    if element.getPropertyValue("BreakType").value in ("PAGE_BEFORE", "PAGE_BOTH"):
        return True
    return bool(element.getPropertyValue("PageDescName"))


def is_empty_paragraph(paragraph):
    """No text, no list label, nothing anchored, and no page break of its own."""
    if paragraph.getString() != "":
        return False
    if paragraph.getPropertyValue("BreakType").value != "NONE" or starts_page(paragraph):
        return False
    info = paragraph.getPropertySetInfo()
    if info.hasPropertyByName("ListLabelString") and paragraph.ListLabelString:
        return False  # a number or bullet shows; offices before 7.2 cannot say
    if paragraph.createContentEnumeration("com.sun.star.text.TextContent").hasMoreElements():
        return False
    portions = paragraph.createEnumeration()
    while portions.hasMoreElements():
        # Bookmarks and the marks of where the office broke pages hold nothing to show.
        if portions.nextElement().TextPortionType not in ("Text", "Bookmark", "SoftPageBreak"):
            return False
    return True


def size_right_to_left_marks(document):
    """Word gives an empty paragraph the height of its mark, and the mark of a right-to-left
    paragraph is set in the complex-script face and size; the office sizes an empty paragraph by
    its Western face whatever its direction, so a run of empty lines in a Persian or Hebrew
    document came out shorter than Word's and later pages started early. An empty right-to-left
    paragraph takes the complex-script face and size as its Western ones too: it shows nothing,
    so only its height changes. Answers how many were sized."""
    right_to_left = uno.getConstantByName("com.sun.star.text.WritingMode2.RL_TB")
    sized = 0
    for element in body_elements(document):
        if not element.supportsService("com.sun.star.text.Paragraph"):
            continue
        if element.getPropertyValue("WritingMode") != right_to_left:
            continue
        if not is_empty_paragraph(element):
            continue
        name, height = element.getPropertyValues(("CharFontNameComplex", "CharHeightComplex"))
        element.setPropertyValue("CharFontName", name)
        element.setPropertyValue("CharHeight", height)
        sized += 1
    return sized


def keep_index_titles_with_entries(document):
    """A table of contents keeps its title with its first entry when the title keeps with the
    next paragraph, as Word's do. The office imports the title into a section of its own inside
    the index's, and keeps no paragraph with the next across a section's end: at the foot of a
    page the title stayed behind, alone, and its entries began the next page. Such a title's
    section goes; the title stays in the index, only the boundary is gone. Answers how many."""
    joined = 0
    indexes = document.getDocumentIndexes()
    for number in range(indexes.getCount()):
        index = indexes.getByIndex(number)
        if not index.getPropertySetInfo().hasPropertyByName("HeaderSection"):
            continue
        title = index.getPropertyValue("HeaderSection")
        if title is None or not title.getAnchor().getEnd().getPropertyValue("ParaKeepTogether"):
            continue
        document.getText().removeTextContent(title)
        joined += 1
    return joined


def left_and_right_pages_differ(document):
    """Whether a page style the document uses gives left and right pages different headers or
    footers (Word's different odd and even pages)."""
    styles = document.getStyleFamilies().getByName("PageStyles")
    for name in styles.getElementNames():
        style = styles.getByName(name)
        if not style.isInUse():
            continue
        for part in ("Header", "Footer"):
            if style.getPropertyValue(part + "IsOn") and not style.getPropertyValue(part + "IsShared"):
                return True
    return False


def adjust_layout(document):
    """The layout adjustments of lay_out_as_word; answers whether the PDF keeps the blank pages
    the office lays out. Word keeps odd page numbers on right-hand pages when left and right
    pages differ: a section whose first number has the parity of the page before gets a blank
    page in front of it. The office lays that blank page out too but leaves it out of its PDF;
    where left and right pages are alike, Word makes no such page while the office still lays
    one out, so there the PDF goes on leaving them out."""
    collapse_spilled_breaks(document)
    size_right_to_left_marks(document)
    keeps_blank_pages = left_and_right_pages_differ(document)
    keep_index_titles_with_entries(document)
    return keeps_blank_pages


class LayoutPass(unohelper.Base, XJob):
    """The layout adjustments run inside the office: the office loads this very file with its
    Python loader, so each of the thousands of calls a long document takes stays in the office's
    process instead of crossing the bridge to us and back."""

    IMPLEMENTATION = "org.vellumor.engine.LayoutPass"

    def __init__(self, context):
        pass

    def execute(self, arguments):
        return adjust_layout(arguments[0].Value)


g_ImplementationHelper = unohelper.ImplementationHelper()  # what the office's loader looks for
g_ImplementationHelper.addImplementation(LayoutPass, LayoutPass.IMPLEMENTATION, ())


def layout_pass_in_office(context):
    """The office's own instance of LayoutPass, or None when the office cannot run Python
    itself (then the pass runs from here, over the bridge)."""
    try:
        loader = context.ServiceManager.createInstanceWithContext("com.sun.star.loader.Python",
                                                                  context)
        if loader is None:
            return None
        factory = loader.activate(LayoutPass.IMPLEMENTATION, "",
                                  file_url(os.path.abspath(__file__)), None)
        return factory.createInstanceWithContext(context) if factory is not None else None
    except Exception as e:
        if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
            raise
        sys.stderr.write("the office cannot run the layout pass itself (%s); it runs from the "
                         "worker\n" % _message(e))
        return None


PUNCTUATION_COMPRESSION = {b"doNotCompress": 0, b"compressPunctuation": 1,
                           b"compressPunctuationAndJapaneseKana": 2}


def recorded_punctuation_compression(path):
    """How a Word package asks for East Asian punctuation to be set (w:characterSpacingControl
    of word/settings.xml) as the office counts it, or None (core/word_pages.h reads the same)."""
    try:
        with zipfile.ZipFile(path) as package:
            name = next((n for n in package.namelist() if n.lower() == "word/settings.xml"), None)
            if name is None or package.getinfo(name).file_size > 16 << 20:
                return None
            settings = package.read(name)
    except (OSError, zipfile.BadZipFile, RuntimeError, ValueError, NotImplementedError):
        return None
    # Documents laid out in the modes of Word before 2013 set their punctuation otherwise: there
    # the office's compression moved as many pages away from Word's as toward them.
    mode = settings.find(b'"compatibilityMode"')
    if mode < 0:
        return None
    mode_value = settings.find(b'val="', max(0, settings.rfind(b"<", 0, mode)))
    if mode_value < 0 or mode_value > settings.find(b">", mode):
        return None
    digits = re.match(rb"\d+", settings[mode_value + 5:mode_value + 12])
    if digits is None or int(digits.group(0)) < 15:
        return None
    at = settings.find(b":characterSpacingControl ")
    if at < 0:
        return None
    value = settings.find(b'val="', at)
    if value < 0 or value > settings.find(b">", at):
        return None
    return PUNCTUATION_COMPRESSION.get(settings[value + 5:settings.find(b'"', value + 5)])


def set_punctuation_compression(document, compression):
    """East Asian punctuation is set as the document asks Word to set it: Word narrows the blank
    half of full-width commas and stops, so its lines hold more than the office's, whose import
    leaves them uncompressed."""
    if compression is None:
        return
    try:
        settings = document.createInstance("com.sun.star.text.DocumentSettings")
        uno.invoke(settings, "setPropertyValue",
                   ("CharacterCompressionType", uno.Any("short", compression)))
    except Exception as e:
        if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
            raise


def lay_out_as_word(document, in_office=None, compression=None):
    """Brings the layout of a loaded Word document closer to Word's before it is saved; answers
    whether its PDF keeps the blank pages the office lays out. compression: what
    recorded_punctuation_compression read of the document's file. A document it cannot adjust
    is saved as the office laid it out."""
    set_punctuation_compression(document, compression)
    try:
        if in_office is not None:
            try:
                return bool(in_office.execute((uno.createUnoStruct(
                    "com.sun.star.beans.NamedValue", "Document", document),)))
            except Exception as e:
                if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
                    raise
                # The pass can be run again: what it already did, it does once more.
                sys.stderr.write("the layout pass failed in the office (%s); it runs again "
                                 "from the worker\n" % _message(e))
        return adjust_layout(document)
    except Exception as e:
        if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
            raise
        return False


def partial_folder_name(pid):
    # A hidden folder of this worker's beside the target: the office keeps its temporary and
    # lock files beside what it writes, so everything of a cut-short save stays in there.
    return ".vellumor-" + str(pid) + ".part"


def pdf_page_count(path):
    """The page count of a PDF the office wrote: the largest /Count of its page-tree nodes (as
    the C++ worker reads it: engine/worker/pdf_pages.cpp)."""
    try:
        with open(path, "rb") as f:
            pdf = f.read()
    except OSError:
        return 0
    best = 0
    at = pdf.find(b"/Type/Pages")
    while at != -1:
        begin = pdf.rfind(b"<<", 0, at)
        end = pdf.find(b">>", at)
        count = pdf.find(b"/Count", begin) if begin != -1 else -1
        if begin != -1 and end != -1 and count != -1 and count <= end:
            digits = pdf[count + 6:count + 26].lstrip(b" \t\r\n")
            n = 0
            for c in digits:
                if not 48 <= c <= 57:
                    break
                n = n * 10 + c - 48
            best = max(best, n)
        at = pdf.find(b"/Type/Pages", at + 1)
    return best


def file_url(path):
    """The file URL of an absolute path, every byte but the unreserved ones percent-encoded."""
    if IS_WINDOWS:
        return uno.systemPathToFileUrl(path)
    plain = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~/"
    url = "file://"
    for c in os.fsencode(path):
        url += chr(c) if c in plain else "%%%02X" % c
    return url


class StepTimes(object):
    """VELLUMOR_ENGINE_TIMES=FILE: the worker appends one line per command (and one for its
    start) saying where the time went, in milliseconds per step, for bench/time_split."""

    def __init__(self, path):
        self.path = path  # opened at the first command: the office loads this file too
        self.file = None
        self.line = None
        self.last = 0.0

    def begin(self, command):
        if self.path and not self.file:
            self.file = open(self.path, "a")
        if self.file:
            self.line = '{"command":"%s"' % command
            self.last = time.monotonic()

    def step(self, name):
        """The time since the last step (or begin) is this step's."""
        if self.file and self.line is not None:
            now = time.monotonic()
            self.line += ',"%s":%.2f' % (name, (now - self.last) * 1000)
            self.last = now

    def note(self, name, number):
        if self.file and self.line is not None:
            self.line += ',"%s":%d' % (name, number)

    def end(self):
        if self.file and self.line is not None:
            self.file.write(self.line + "}\n")
            self.file.flush()
            self.line = None


step_times = StepTimes(os.environ.get("VELLUMOR_ENGINE_TIMES"))


def lay_out_all_pages(document):
    """Lays out every page now rather than during the export (going to the last page makes
    the office format each one before it): for measuring the layout apart from the export."""
    try:
        cursor = document.getCurrentController().getViewCursor()
        cursor.jumpToLastPage()
        pages = cursor.getPage()
        cursor.jumpToFirstPage()
        return pages
    except Exception:
        return -1


# ---------------------------------------------------------------------------------------------
# Process state shared with the watchdog


class State(object):
    sock = None
    office = None           # subprocess.Popen of soffice.bin
    office_temp = None      # the office's temporary folder in this worker's slot
    document_fonts = None   # where the office unpacks the fonts documents carry, in the slot
    deadline = 0.0          # monotonic seconds; 0 while idle
    memory_ceiling = 0      # bytes the office may hold during a command; 0: none
    partial_path = None     # the partial PDF being written, removed if we are cut short
    ending = True           # the office's exit is expected: while it starts, and when ended
    lock = threading.Lock()


def kill_office(wait=True):
    office = State.office
    if office is None:
        return
    try:
        office.kill()
    except OSError:
        pass
    if not wait:
        return
    try:
        office.wait(2)
    except Exception:
        pass


def remove_partial():
    path = State.partial_path
    if path:
        folder = os.path.dirname(path)
        try:
            for name in os.listdir(folder):
                try:
                    os.unlink(os.path.join(folder, name))
                except OSError:
                    pass
            os.rmdir(folder)
        except OSError:
            pass


def die(code):
    """Ends the worker at once, taking the office and any partial PDF with it."""
    State.ending = True
    # No waiting for the office here: while it dies, the bridge fails under the main thread,
    # and the interpreter can crash on that before this thread gets to exit with its code.
    kill_office(wait=False)
    remove_partial()
    if State.office_temp:
        empty_office_temp(State.office_temp)
    remove_document_fonts()
    os._exit(code)


def send(message):
    try:
        State.sock.sendall(encode_frame(message))
    except OSError:
        die(EXIT_CLIENT_GONE)


def client_gone(sock):
    if IS_WINDOWS:
        readable = select.select([sock], [], [], 0.1)[0]
        if not readable:
            return False
        try:
            gone = sock.recv(1, socket.MSG_PEEK) == b""
        except OSError:
            return True
        if not gone:
            time.sleep(0.1)  # a command is waiting to be read: do not spin on it
        return gone
    poller = select.poll()
    poller.register(sock.fileno(), select.POLLRDHUP)
    events = poller.poll(100)
    bad = select.POLLRDHUP | select.POLLHUP | select.POLLERR | select.POLLNVAL
    return any(revents & bad for _, revents in events)


def watchdog():
    while True:
        if client_gone(State.sock):
            die(EXIT_CLIENT_GONE)
        deadline = State.deadline
        if deadline and time.monotonic() > deadline:
            die(EXIT_DEADLINE)
        ceiling = State.memory_ceiling
        office = State.office
        if ceiling and office is not None and resident_bytes(office.pid) > ceiling:
            die(EXIT_MEMORY_CEILING)
        office = State.office
        if office is not None and not State.ending and office.poll() is not None:
            die(EXIT_OFFICE_DIED)


# ---------------------------------------------------------------------------------------------
# Files and folders


def redirect_standard_streams():
    null = os.open(os.devnull, os.O_RDWR)
    os.dup2(null, 0)
    os.dup2(null, 1)
    log = os.environ.get("VELLUMOR_ENGINE_LOG")
    err = -1
    if log:
        try:
            err = os.open(log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
        except OSError:
            err = -1
    os.dup2(err if err >= 0 else null, 2)
    for fd in (err, null):
        if fd > 2:
            os.close(fd)
    sys.stdin = open(os.devnull, "r")
    sys.stdout = open(os.devnull, "w")


def cache_folder():
    if IS_WINDOWS:
        base = os.environ.get("LOCALAPPDATA") or os.path.expanduser("~")
        return os.path.join(base, "Vellumor")
    base = os.environ.get("XDG_CACHE_HOME")
    if not base:
        home = os.environ.get("HOME")
        base = os.path.join(home, ".cache") if home else "/tmp"
    return os.path.join(base, "vellumor")


def _lock(fd):
    if IS_WINDOWS:
        import msvcrt
        msvcrt.locking(fd, msvcrt.LK_NBLCK, 1)
    else:
        import fcntl
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)


_profile_lock = None  # the open lock file of our slot: the lock lasts as long as the process


def profile_folder():
    """A private office profile per worker slot, kept between runs so later starts are quick.
    The slot is held with a lock for the life of the process: two workers never share one."""
    global _profile_lock
    base = cache_folder()
    try:
        os.makedirs(base, exist_ok=True)
    except OSError:
        pass
    for slot in range(64):
        folder = os.path.join(base, "script-profile-%d" % slot)
        try:
            os.makedirs(folder, exist_ok=True)
            fd = os.open(folder + ".lock", os.O_RDWR | os.O_CREAT, 0o600)
        except OSError:
            continue
        try:
            _lock(fd)
        except OSError:
            os.close(fd)
            continue
        _profile_lock = fd
        return folder
    import tempfile
    return tempfile.mkdtemp(prefix="vellumor-script-")


class OfficeSetting(object):
    def __init__(self, path, name, value, on_windows):
        self.path = path  # configuration node; ending in ['name'] it is a member of a set
        self.name = name
        self.value = value
        self.on_windows = on_windows  # False: left out on Windows


def office_settings_path():
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), OFFICE_SETTINGS_FILE)


def read_office_settings(path):
    """The settings of the office settings file in its order (the C++ worker reads the same file:
    engine/worker/office_settings.cpp). RuntimeError, naming the file and the line, when it
    cannot be read, holds a line of no known form, or holds no settings."""
    try:
        with open(path, "rb") as f:
            lines = f.read().decode("utf-8").split("\n")
    except (OSError, UnicodeDecodeError) as e:
        why = _strerror(e) if isinstance(e, OSError) else "it is not UTF-8"
        raise RuntimeError("the office settings file %s cannot be read: %s" % (path, why))
    settings = []
    node, on_windows = "", True
    for number, raw in enumerate(lines, 1):
        line = raw.strip(" \t\r")

        def damaged(why):
            return RuntimeError("the office settings file %s is damaged at line %d: %s"
                                % (path, number, why))

        if not line or line.startswith("#"):
            continue
        if line.startswith("["):
            header = line
            on_windows = not header.endswith("] not-windows")
            if not on_windows:
                header = header[:-len(" not-windows")]
            if len(header) < 3 or not header.endswith("]") or header[1] != "/":
                raise damaged("a node is named as [/path] or [/path] not-windows")
            node = header[1:-1]
            continue
        name, equals, value = line.partition("=")
        name = name.strip(" \t\r")
        if not equals or not name or " " in name or "\t" in name:
            raise damaged("a setting reads Name = value")
        if not node:
            raise damaged("a setting comes after the [/path] of its node")
        settings.append(OfficeSetting(node, name, value.strip(" \t\r"), on_windows))
    if not settings:
        raise RuntimeError("the office settings file %s holds no settings" % path)
    return settings


def _xml(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


def profile_settings_text(settings, windows=IS_WINDOWS):
    """The settings as the profile's registrymodifications.xcu: one item per property; the
    properties of a set member together, as one node the set gets. On Windows the settings
    marked not-windows are left out."""
    prop = '<prop oor:name="%s" oor:op="fuse"><value>%s</value></prop>'
    lines = []
    member = None  # the set member whose node is open
    for s in settings:
        if windows and not s.on_windows:
            continue
        if member is not None and s.path != member:
            lines.append("</node></item>\n")
            member = None
        if not (s.path.endswith("']") and "['" in s.path):
            lines.append('<item oor:path="%s">%s</item>\n'
                         % (_xml(s.path), prop % (_xml(s.name), _xml(s.value))))
            continue
        if member is None:
            at = s.path.rindex("['")
            lines.append('<item oor:path="%s"><node oor:name="%s" oor:op="replace">'
                         % (_xml(s.path[:at]), _xml(s.path[at + 2:-2])))
            member = s.path
        lines.append(prop % (_xml(s.name), _xml(s.value)))
    if member is not None:
        lines.append("</node></item>\n")
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<oor:items xmlns:oor="http://openoffice.org/2001/registry" '
            'xmlns:xs="http://www.w3.org/2001/XMLSchema" '
            'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">\n' +
            "".join(lines) + "</oor:items>\n")


def prepare_profile(folder, settings):
    """Writes the settings file whenever it holds anything else: a profile from an older
    version, or one the office (or a link switch at run time) changed, starts with these.
    An office started on a profile without them would run on its own defaults (macros, links):
    a failure ends the start, naming the file."""
    user = os.path.join(folder, "user")
    xcu = os.path.join(user, "registrymodifications.xcu")
    try:
        os.makedirs(user, exist_ok=True)
    except OSError as e:
        raise RuntimeError("the office profile folder %s could not be made (%s)"
                           % (user, e.strerror or e))
    wanted = profile_settings_text(settings).encode("utf-8")
    try:
        with open(xcu, "rb") as f:
            if f.read() == wanted:
                return
    except OSError:
        pass
    try:
        with open(xcu, "wb") as out:
            out.write(wanted)
    except OSError:
        raise RuntimeError("the office settings could not be written to %s" % xcu)


def prepare_office_temp(profile, env):
    """The office's temporary files hold parts of the documents it converts (unpacked XML,
    pictures). They go to a folder of this worker's slot instead of the shared temporary folder,
    emptied at every start: what an office killed at its deadline leaves is removed by the next
    start of the slot. So are the fonts the office unpacked from documents. Returns the
    folder."""
    temp = os.path.join(profile, "office-temp")
    State.document_fonts = os.path.join(profile, "user", "temp", "embeddedfonts")
    for folder, what in ((temp, "the office's temporary folder"),
                         (State.document_fonts, "the folder of fonts from documents")):
        try:
            shutil.rmtree(folder, ignore_errors=False)
        except FileNotFoundError:
            pass
        except OSError as e:
            raise RuntimeError("%s %s could not be emptied (%s)" % (what, folder, e.strerror or e))
    try:
        os.makedirs(temp, 0o700)
    except OSError as e:
        raise RuntimeError("the office's temporary folder %s could not be made (%s)"
                           % (temp, e.strerror or e))
    for name in ("TMP", "TEMP") if IS_WINDOWS else ("TMPDIR",):
        env[name] = temp
    return temp


def remove_document_fonts():
    if State.document_fonts:
        shutil.rmtree(State.document_fonts, ignore_errors=True)


def empty_office_temp(temp):
    try:
        names = os.listdir(temp)
    except OSError:
        return
    for name in names:
        path = os.path.join(temp, name)
        try:
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path, ignore_errors=True)
            else:
                os.remove(path)
        except OSError:
            pass  # the next start of this slot empties the folder again


def isolate_network():
    """Moves this process, and the office it starts, into a network namespace of its own with
    no interface but a loopback that is down: nothing a document names can be reached, while
    the connection to the client, made before, keeps working. Must run before any thread
    starts. None when done, else why not."""
    if IS_WINDOWS:
        return "not available on Windows"
    import ctypes
    clone_newuser, clone_newnet = 0x10000000, 0x40000000
    uid, gid = os.geteuid(), os.getegid()
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.unshare(clone_newuser | clone_newnet) != 0:
            return "unshare refused (%s)" % os.strerror(ctypes.get_errno())
    except (OSError, AttributeError) as e:
        return "unshare unavailable (%s)" % e

    def write(name, text):
        try:
            with open(name, "w") as f:
                f.write(text)
            return True
        except OSError:
            return False

    # Every user keeps its own number, so files keep their owners and permissions. A privileged
    # worker maps all of them; any other can map only itself.
    write("/proc/self/setgroups", "deny")
    if not write("/proc/self/uid_map", "0 0 4294967295"):
        write("/proc/self/uid_map", "%d %d 1" % (uid, uid))
    if not write("/proc/self/gid_map", "0 0 4294967295"):
        write("/proc/self/gid_map", "%d %d 1" % (gid, gid))
    return None


def use_own_python(env):
    """The office's Python works out where its library is from the first python3 on PATH; where
    that is another interpreter (a virtual environment, pyenv), the office cannot load Python. This process runs on
    the Python the office's bridge is built for, so the office is pointed at the same one."""
    if IS_WINDOWS or not sys.executable:
        return  # the office on Windows brings its own Python and finds it by itself
    folder = os.path.dirname(sys.executable)
    env["PATH"] = folder + os.pathsep + env["PATH"] if env.get("PATH") else folder


def use_engine_fonts(profile, env):
    """Documents name Word's fonts; the office lays them out with metric-compatible ones where
    they are installed. scripts/setup unpacks them into a folder of their own, so the office is
    pointed at it here and page counts match the native worker's."""
    if IS_WINDOWS:
        return
    fonts = env.get("VELLUMOR_ENGINE_FONTS")
    if not fonts:
        if env.get("XDG_CACHE_HOME"):
            fonts = os.path.join(env["XDG_CACHE_HOME"], "vellumor", "engine-fonts")
        elif env.get("HOME"):
            fonts = os.path.join(env["HOME"], ".cache", "vellumor", "engine-fonts")
    if not fonts or not os.path.isdir(fonts):
        return
    conf = os.path.join(profile, "fonts.conf")
    base = env.get("FONTCONFIG_FILE", "/etc/fonts/fonts.conf")
    with open(conf, "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "fonts.dtd">\n<fontconfig>\n'
                  '  <include ignore_missing="yes">%s</include>\n'
                  '  <dir>%s</dir>\n'
                  '  <cachedir>%s/fontconfig</cachedir>\n</fontconfig>\n' % (base, fonts, profile))
    env["FONTCONFIG_FILE"] = conf


def office_program_folder():
    folder = os.environ.get("VELLUMOR_OFFICE_PROGRAM")
    if folder:
        return folder
    if IS_WINDOWS:
        here = os.path.dirname(os.path.abspath(sys.executable))
        if any(os.path.exists(os.path.join(here, n)) for n in ("soffice.exe", "soffice.bin")):
            return here
    here = os.path.dirname(os.path.abspath(uno.__file__))
    if os.path.exists(os.path.join(here, "soffice.bin")):
        return here
    return "/usr/lib/libreoffice/program"


def resident_bytes(pid):
    """The resident memory of a process (the office's: it is what grows)."""
    if IS_WINDOWS:
        return _windows_resident_bytes(pid)
    try:
        with open("/proc/%d/statm" % pid) as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except (OSError, ValueError, IndexError):
        return 0


# ---------------------------------------------------------------------------------------------
# Platform: the office ends with us


def _die_with_parent(parent):
    """Runs in the office's process before it executes: SIGKILL when the worker's thread that
    started it ends, which is the main thread and so the worker itself."""
    import ctypes
    import signal
    libc = ctypes.CDLL(None, use_errno=True)
    pr_set_pdeathsig = 1
    libc.prctl(pr_set_pdeathsig, signal.SIGKILL, 0, 0, 0)
    if os.getppid() != parent:  # the worker died before the line above took effect
        os._exit(1)


def _windows_kill_on_close_job():
    """Puts this process into a new Job Object that kills its members when its last handle
    closes, i.e. when this process ends however it ends. The office started afterwards is in
    the job too."""
    import ctypes
    from ctypes import wintypes

    class IoCounters(ctypes.Structure):
        _fields_ = [(n, ctypes.c_ulonglong) for n in (
            "ReadOperationCount", "WriteOperationCount", "OtherOperationCount",
            "ReadTransferCount", "WriteTransferCount", "OtherTransferCount")]

    class BasicLimits(ctypes.Structure):
        _fields_ = [("PerProcessUserTimeLimit", ctypes.c_longlong),
                    ("PerJobUserTimeLimit", ctypes.c_longlong),
                    ("LimitFlags", wintypes.DWORD),
                    ("MinimumWorkingSetSize", ctypes.c_size_t),
                    ("MaximumWorkingSetSize", ctypes.c_size_t),
                    ("ActiveProcessLimit", wintypes.DWORD),
                    ("Affinity", ctypes.c_size_t),
                    ("PriorityClass", wintypes.DWORD),
                    ("SchedulingClass", wintypes.DWORD)]

    class ExtendedLimits(ctypes.Structure):
        _fields_ = [("BasicLimitInformation", BasicLimits),
                    ("IoInfo", IoCounters),
                    ("ProcessMemoryLimit", ctypes.c_size_t),
                    ("JobMemoryLimit", ctypes.c_size_t),
                    ("PeakProcessMemoryUsed", ctypes.c_size_t),
                    ("PeakJobMemoryUsed", ctypes.c_size_t)]

    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    kernel32.CreateJobObjectW.restype = wintypes.HANDLE
    kernel32.CreateJobObjectW.argtypes = [ctypes.c_void_p, wintypes.LPCWSTR]
    kernel32.SetInformationJobObject.argtypes = [wintypes.HANDLE, ctypes.c_int, ctypes.c_void_p,
                                                 wintypes.DWORD]
    kernel32.GetCurrentProcess.restype = wintypes.HANDLE
    kernel32.AssignProcessToJobObject.argtypes = [wintypes.HANDLE, wintypes.HANDLE]
    job = kernel32.CreateJobObjectW(None, None)
    if not job:
        return False
    limits = ExtendedLimits()
    job_object_limit_kill_on_job_close = 0x2000
    job_object_extended_limit_information = 9
    limits.BasicLimitInformation.LimitFlags = job_object_limit_kill_on_job_close
    if not kernel32.SetInformationJobObject(job, job_object_extended_limit_information,
                                            ctypes.byref(limits), ctypes.sizeof(limits)):
        return False
    # The handle is never closed: it closes when the process ends, and that ends the office.
    return bool(kernel32.AssignProcessToJobObject(job, kernel32.GetCurrentProcess()))


def _windows_resident_bytes(pid):
    import ctypes
    from ctypes import wintypes

    class MemoryCounters(ctypes.Structure):
        _fields_ = [("cb", wintypes.DWORD), ("PageFaultCount", wintypes.DWORD)] + [
            (n, ctypes.c_size_t) for n in (
                "PeakWorkingSetSize", "WorkingSetSize", "QuotaPeakPagedPoolUsage",
                "QuotaPagedPoolUsage", "QuotaPeakNonPagedPoolUsage", "QuotaNonPagedPoolUsage",
                "PagefileUsage", "PeakPagefileUsage")]

    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    kernel32.OpenProcess.restype = wintypes.HANDLE
    kernel32.OpenProcess.argtypes = [wintypes.DWORD, wintypes.BOOL, wintypes.DWORD]
    kernel32.CloseHandle.argtypes = [wintypes.HANDLE]
    get_info = getattr(kernel32, "K32GetProcessMemoryInfo", None)
    if get_info is None:
        get_info = ctypes.WinDLL("psapi").GetProcessMemoryInfo
    get_info.argtypes = [wintypes.HANDLE, ctypes.c_void_p, wintypes.DWORD]
    process_query_limited_information, process_vm_read = 0x1000, 0x0010
    handle = kernel32.OpenProcess(process_query_limited_information | process_vm_read, False, pid)
    if not handle:
        return 0
    try:
        counters = MemoryCounters()
        counters.cb = ctypes.sizeof(counters)
        if not get_info(handle, ctypes.byref(counters), counters.cb):
            return 0
        return counters.WorkingSetSize
    finally:
        kernel32.CloseHandle(handle)


# ---------------------------------------------------------------------------------------------
# The office


def _prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


def _type_names(value):
    """The UNO type names of an exception value and of its bases."""
    names = []
    for cls in type(value).__mro__:
        name = getattr(cls, "typeName", None)
        if name:
            names.append(name)
    return names


def is_password_request(request):
    try:
        password = uno.getClass("com.sun.star.task.PasswordRequest")
        if isinstance(request, password):
            return True
    except Exception:
        pass
    return any(n in PASSWORD_REQUEST_TYPES for n in _type_names(request))


def is_uno_exception(value, type_name):
    try:
        return isinstance(value, uno.getClass(type_name))
    except Exception:
        return type_name in _type_names(value)


def _implements(uno_object, interface_name):
    try:
        return uno_object.queryInterface(uno.getTypeByName(interface_name)) is not None
    except Exception:
        return False


class AbortingInteractionHandler(unohelper.Base, XInteractionHandler):
    """Answers every question the office asks with Abort, and notes password requests."""

    def __init__(self):
        self.password_requested = False

    def handle(self, request):
        continuations = request.getContinuations() or ()
        if self._asks_for_password(request, continuations):
            self.password_requested = True
        for answer in ("com.sun.star.task.XInteractionAbort",
                       "com.sun.star.task.XInteractionDisapprove"):
            for continuation in continuations:
                if _implements(continuation, answer):
                    continuation.select()
                    return

    @staticmethod
    def _asks_for_password(request, continuations):
        # The request is a PasswordRequest (or one of its subtypes). The pyuno of some
        # installations (Debian 12's, on Python 3.11) cannot convert any request to Python
        # (getRequest() raises SystemError), so the answer the request offers decides then:
        # only a password request takes an XInteractionPassword.
        try:
            return is_password_request(request.getRequest())
        except Exception:
            return any(_implements(c, "com.sun.star.task.XInteractionPassword")
                       for c in continuations)


class MainThreadJob(object):
    def __init__(self, function):
        self.function = function
        self.done = threading.Event()
        self.result = None
        self.error = None

    def run(self):
        try:
            self.result = self.function()
        except BaseException as e:  # handed to the waiting thread
            self.error = e


class MainThreadEntry(unohelper.Base, XCallback):
    """The office's main thread comes in here (through AsyncCallback) and runs our jobs. While a
    document is held it stays here, waiting for the next job, instead of returning to the
    office's main loop: the events the office posts for the document's hidden view would run
    there, and some build editing widgets that this office installation (without its user
    interface files) cannot build, which kills the office. Closing the document drops them."""

    def __init__(self, office, first_job):
        self.office = office
        self.first_job = first_job

    def notify(self, data):
        job = self.first_job
        while True:
            job.run()
            held = self.office.document is not None
            self.office.parked = held  # set before the job is seen done: the next job follows
            job.done.set()
            if not held:
                return
            job = self.office.jobs.get()


LOAD_DONE, LOAD_PASSWORD, LOAD_FAILED_TO_READ, LOAD_NOT_TEXT, LOAD_TEXT_IMPORT = range(5)


class OfficeGone(Exception):
    """The bridge to the office broke: the office died or was killed."""


def office_version(text):
    """(major, minor) of a version text such as "25.2.3.2"; (0, 0) when it names none."""
    parts = str(text).split(".")
    try:
        major, minor = int(parts[0]), int(parts[1])
    except (ValueError, IndexError):
        return 0, 0
    return (major, minor) if 0 <= major < 65536 and 0 <= minor < 65536 else (0, 0)


class Office(object):
    def __init__(self):
        self.context = None
        self.desktop = None
        self.async_callback = None
        self.document = None
        self.pipe = "vellumor-" + secrets.token_hex(12)
        self.parked = False  # the office's main thread waits in MainThreadEntry for jobs
        self.jobs = queue.Queue()
        self.layout_pass = None  # made at the first document: see layout_pass_in_office
        self.layout_pass_asked = False
        self.detection = None  # the office's TypeDetection service, made at the first load
        self.keeps_blank_pages = False  # for the document held: see adjust_layout

    def start(self, profile, env):
        """Starts soffice.bin and connects to it. Returns what product() returns; raises
        RuntimeError with the reason when the office cannot be started."""
        program = office_program_folder()
        binary = os.path.join(program, "soffice.bin")
        if IS_WINDOWS and not os.path.exists(binary):
            binary = os.path.join(program, "soffice.exe")
        if not os.path.exists(binary):
            raise RuntimeError("the office is not installed at " + program)
        profile_url = file_url(os.path.abspath(profile))
        args = [binary, "-env:UserInstallation=" + profile_url, "--headless", "--invisible",
                "--nologo", "--norestore", "--nodefault", "--nolockcheck",
                "--accept=pipe,name=%s;urp;" % self.pipe]
        for key in ("DISPLAY", "WAYLAND_DISPLAY", "SAL_USE_VCLPLUGIN"):
            env.pop(key, None)

        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        url = "uno:pipe,name=%s;urp;StarOffice.ComponentContext" % self.pipe
        give_up = time.monotonic() + OFFICE_START_SECONDS
        restarts = 0
        self._spawn(args, env)
        while True:
            try:
                self.context = resolver.resolve(url)
                break
            except Exception as e:
                if not is_uno_exception(e, "com.sun.star.connection.NoConnectException"):
                    raise RuntimeError("the office did not answer")
            code = State.office.poll()
            if code is not None:
                if code in OFFICE_RESTART_CODES and restarts < 2:
                    restarts += 1
                    self._spawn(args, env)
                    continue
                raise RuntimeError("the office exited with code %d while starting" % code)
            if time.monotonic() > give_up:
                raise RuntimeError("the office did not answer within %d s" % OFFICE_START_SECONDS)
            time.sleep(0.1)
        smgr = self.context.ServiceManager
        self.desktop = smgr.createInstanceWithContext("com.sun.star.frame.Desktop", self.context)
        self.async_callback = smgr.createInstanceWithContext("com.sun.star.awt.AsyncCallback",
                                                             self.context)
        if self.desktop is None or self.async_callback is None:
            raise RuntimeError("the office offers no desktop")
        return self.product()

    def _spawn(self, args, env):
        out = subprocess.DEVNULL
        log = os.environ.get("VELLUMOR_ENGINE_LOG")
        if log:
            try:
                out = open(log, "ab")
            except OSError:
                out = subprocess.DEVNULL
        options = {}
        if IS_WINDOWS:
            options["creationflags"] = 0x08000000  # CREATE_NO_WINDOW
        else:
            parent = os.getpid()
            options["preexec_fn"] = lambda: _die_with_parent(parent)
        # This runs on the main thread: the office's death signal is tied to the thread that
        # started it.
        State.office = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                        env=env, close_fds=True, **options)
        if out is not subprocess.DEVNULL:
            out.close()

    def product(self):
        """The office's name and version ("LibreOffice 25.2.3.2"), and its major and minor
        version numbers (0, 0 when unknown)."""
        try:
            provider = self.context.ServiceManager.createInstanceWithContext(
                "com.sun.star.configuration.ConfigurationProvider", self.context)
            node = provider.createInstanceWithArguments(
                "com.sun.star.configuration.ConfigurationAccess",
                (_prop("nodepath", "/org.openoffice.Setup/Product"),))
            name = node.getByName("ooName") or "LibreOffice"
            version = node.getByName("ooSetupVersionAboutBox") or ""
        except Exception:
            name, version = "LibreOffice", ""
        return ("%s %s" % (name, version)).strip(), office_version(version)

    def on_main_thread(self, function, checking=False):
        """Runs function on the office's main thread and returns its result (or raises its
        exception). OfficeGone when the office dies meanwhile."""
        job = MainThreadJob(function)
        if self.parked:
            self.jobs.put(job)
        else:
            try:
                self.async_callback.addCallback(MainThreadEntry(self, job), None)
            except Exception as e:
                raise OfficeGone(_message(e))
        office = State.office
        while not job.done.wait(0.05):
            if office.poll() is not None:
                raise OfficeGone("the office exited with code %d" % office.returncode)
        if job.error is not None:
            if is_uno_exception(job.error, "com.sun.star.lang.DisposedException") or (
                    not checking and not self.answers()):
                raise OfficeGone(_message(job.error))
            raise job.error
        return job.result

    def answers(self):
        """Whether the office is still there: after a failure, which a dead bridge causes too."""
        if State.office.poll() is not None:
            return False
        try:
            # While the main thread is parked with a document it holds the office's big lock,
            # so a call from this thread would wait for it forever: ask through the main thread.
            if self.parked:
                self.on_main_thread(self.desktop.getCurrentComponent, checking=True)
            else:
                self.desktop.getCurrentComponent()
            return True
        except Exception:
            return False

    links_allowed = None  # the office's link setting as last made

    def allow_local_links(self, allow):
        """Lifts or sets the office's block on what untrusted documents link to."""
        if self.links_allowed == allow:
            return
        provider = self.context.ServiceManager.createInstanceWithContext(
            "com.sun.star.configuration.ConfigurationProvider", self.context)
        node = provider.createInstanceWithArguments(
            "com.sun.star.configuration.ConfigurationUpdateAccess",
            (_prop("nodepath", "/org.openoffice.Office.Common/Security/Scripting"),))
        node.replaceByName("BlockUntrustedRefererLinks", not allow)
        node.commitChanges()
        self.links_allowed = allow

    def detected_filter(self, url):
        """detected_filter, with the office's detection service made once; None when there is
        none."""
        if self.detection is None:
            try:
                self.detection = self.context.ServiceManager.createInstanceWithContext(
                    "com.sun.star.document.TypeDetection", self.context)
            except Exception as e:
                if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
                    raise
                return None
        return detected_filter(self.detection, url)

    def load(self, url, allow_local_links=False, eight_bit_text=False, refuse_text_import=False,
             word_filters=(), punctuation_compression=None):
        """Loads the document on the office's main thread: (LOAD_DONE, None) when it is held,
        LOAD_FAILED_TO_READ with the office's message, LOAD_PASSWORD, LOAD_NOT_TEXT, or
        LOAD_TEXT_IMPORT when refuse_text_import and the office would read it as plain text.
        word_filters: the import filters of the Word format the input check found; it is read
        with one of them or not at all. punctuation_compression: see lay_out_as_word. Only a
        text document is kept."""
        handler = AbortingInteractionHandler()
        props = (
            _prop("Hidden", True),
            _prop("ReadOnly", True),
            _prop("Silent", True),
            _prop("MacroExecutionMode", uno.getConstantByName(
                "com.sun.star.document.MacroExecMode.NEVER_EXECUTE")),
            _prop("UpdateDocMode", uno.getConstantByName(
                "com.sun.star.document.UpdateDocMode.NO_UPDATE")),
            _prop("InteractionHandler", handler),
        )
        if eight_bit_text:
            # Western Windows text, the code page Word itself assumes for such files.
            props += (_prop("FilterName", "Text (encoded)"),
                      _prop("FilterOptions", "MS_1252,CRLF,,"))

        def run():
            step_times.step("prepare")
            # Every call crosses the bridge: the file is detected once.
            detected = self.detected_filter(url) if refuse_text_import or word_filters else None
            # Binary data the office would only import as text is junk, and its import can take
            # minutes: asked before loading.
            if refuse_text_import and refuses_as_text(detected):
                return LOAD_TEXT_IMPORT, None
            load_props = props
            if word_filters:
                # A Word format is read by that format's import only: where the office's
                # detection takes a damaged or encrypted file for something else (text, above
                # all), the format's own filter is named and fails on it.
                load_props += (_prop("FilterName", detected if detected in word_filters
                                     else word_filters[0]),)
            step_times.step("detect")
            try:
                self.allow_local_links(allow_local_links)
                document = self.desktop.loadComponentFromURL(url, "_blank", 0, load_props)
            except Exception as e:
                if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
                    raise
                document = None
                why = _message(e) or "the office reported an error without a message"
            else:
                why = None if document is not None else "the office returned no document"
            step_times.step("import")
            if handler.password_requested:
                _close(document)
                return LOAD_PASSWORD, None
            if document is None:
                return LOAD_FAILED_TO_READ, why
            if not is_text_document(document):
                _close(document)
                return LOAD_NOT_TEXT, None
            # Whatever the office was asked, what it read the file with decides.
            used = loaded_filter(document)
            if word_filters and used not in word_filters:
                _close(document)
                return LOAD_FAILED_TO_READ, "read with the import " + repr(used)
            if refuse_text_import and refuses_as_text(used):
                _close(document)
                return LOAD_TEXT_IMPORT, None
            self.document = document  # from here on the main thread stays with us
            step_times.step("check")
            if not self.layout_pass_asked:
                # Not at start: a worker that converts nothing costs the office no Python.
                self.layout_pass = layout_pass_in_office(self.context)
                self.layout_pass_asked = True
            self.keeps_blank_pages = lay_out_as_word(document, self.layout_pass,
                                                     punctuation_compression)
            step_times.step("adjust")
            step_times.end()
            return LOAD_DONE, None

        return self.on_main_thread(run)

    def store_pdf(self, url, pdfa):
        """None when written, else the office's message."""
        document = self.document
        # A write error (a full disk) asks a question; unanswered, the store never returns.
        props = (_prop("FilterName", "writer_pdf_Export"),
                 _prop("InteractionHandler", AbortingInteractionHandler()))
        options = ()
        if pdfa:
            # Only PDF/A names a version: the office's own default suits every other PDF, and
            # naming one makes newer offices fail on some documents.
            options += (_prop("SelectPdfVersion", 2),)
        if self.keeps_blank_pages:
            options += (_prop("IsSkipEmptyPages", False),)
        if options:
            props += (_prop("FilterData", uno.Any("[]com.sun.star.beans.PropertyValue",
                                                  options)),)

        def run():
            step_times.begin("save")
            if step_times.file:
                step_times.note("laid_out", lay_out_all_pages(document))
            step_times.step("layout")
            try:
                uno.invoke(document, "storeToURL", (url, props))
            except Exception as e:
                if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
                    raise
                return _message(e) or "the office reported an error without a message"
            return None

        return self.on_main_thread(run)

    def close_document(self):
        if self.document is None:
            return

        def run():
            document, self.document = self.document, None
            _close(document)

        self.on_main_thread(run)

    def end(self):
        """Ends the office: the desktop is asked to terminate, then the process is killed if it
        is still there."""
        State.ending = True
        office = State.office
        if office is None:
            return
        if office.poll() is None and self.desktop is not None:
            desktop = self.desktop

            def terminate():
                try:
                    desktop.terminate()
                except Exception:
                    pass

            threading.Thread(target=terminate, daemon=True).start()
            try:
                office.wait(OFFICE_END_SECONDS)
            except subprocess.TimeoutExpired:
                pass
        kill_office()


def _close(document):
    if document is None:
        return
    try:
        document.close(True)
    except Exception as e:
        if is_uno_exception(e, "com.sun.star.lang.DisposedException"):
            raise
        try:
            document.dispose()
        except Exception:
            pass


def _message(e):
    text = getattr(e, "Message", None)
    if text is None:
        text = str(e)
    return str(text).strip()


# ---------------------------------------------------------------------------------------------
# Commands


class Worker(object):
    def __init__(self, office, pid):
        self.office = office
        self.pid = pid
        self.memory_ceiling = 0

    def execute(self, command):
        reply = Message(RESULT, id=command.id)
        if command.deadline_ms:
            State.deadline = time.monotonic() + command.deadline_ms / 1000.0
        if command.type == LOAD:
            # Kept for the document's Save too.
            self.memory_ceiling = ((command.reserved & 0xFFFFFFFF) >> LOAD_CEILING_SHIFT) << 20
        State.memory_ceiling = self.memory_ceiling
        try:
            if command.type == LOAD:
                self.load(command, reply)
            else:
                self.save(command, reply)
        except OfficeGone:
            die(EXIT_OFFICE_DIED)
        finally:
            State.deadline = 0.0
            State.memory_ceiling = 0
        office = State.office
        reply.memory_bytes = resident_bytes(office.pid) if office is not None else 0
        return reply

    @staticmethod
    def fail(reply, status, text):
        reply.status = status
        reply.text = text
        reply.value = -1

    def load(self, command, reply):
        step_times.begin("load")
        self.office.close_document()
        step_times.step("close")
        if command.format not in LOAD_FORMATS:
            return self.fail(reply, BAD_REQUEST, "unknown load format %d" % command.format)
        path = os.path.abspath(os.fsdecode(command.text))
        try:
            if os.path.isdir(path):
                return self.fail(reply, NOT_FOUND, "it is a folder")
            with open(path, "rb"):
                pass
        except OSError as e:
            return self.fail(reply, NOT_FOUND, "cannot open it: " + _strerror(e))
        if before_load is not None:
            before_load(path)
        word_import = (command.reserved >> LOAD_IMPORT_SHIFT) & LOAD_IMPORT_MASK
        if word_import > LAST_WORD_IMPORT:
            return self.fail(reply, BAD_REQUEST, "unknown Word format %d" % word_import)
        outcome, why = self.office.load(
            file_url(path), bool(command.reserved & LOAD_ALLOW_LOCAL_LINKS),
            bool(command.reserved & LOAD_EIGHT_BIT_TEXT),
            bool(command.reserved & LOAD_REFUSE_TEXT_IMPORT),
            WORD_IMPORT_FILTERS.get(word_import, ()), recorded_punctuation_compression(path))
        if outcome == LOAD_PASSWORD:
            return self.fail(reply, PASSWORD_PROTECTED, "the document is password-protected")
        if outcome == LOAD_FAILED_TO_READ:
            if not self.office.answers():
                raise OfficeGone(why)
            # The office's message names its internals, never the user's problem.
            return self.fail(reply, LOAD_FAILED, COULD_NOT_READ)
        if outcome == LOAD_NOT_TEXT:
            return self.fail(reply, REFUSED, "it is not a text document")
        if outcome == LOAD_TEXT_IMPORT:
            return self.fail(reply, REFUSED, "it is " + UNRECOGNISED_CONTENT)
        reply.value = 0

    def save(self, command, reply):
        if self.office.document is None:
            return self.fail(reply, NO_DOCUMENT, "no document is loaded")
        if command.format != FORMAT_PDF:
            return self.fail(reply, BAD_REQUEST, "unknown save format %d" % command.format)
        text = os.fsdecode(command.text)
        target = os.path.abspath(text)
        folder = os.path.dirname(target)
        try:
            os.makedirs(folder, exist_ok=True)
        except OSError as e:
            return self.fail(reply, SAVE_FAILED, why_not_writable(
                folder, e.errno, "cannot create the folder %s: %s" % (folder, _strerror(e))))
        if os.path.isdir(target) or text.endswith(os.sep) or text.endswith("/"):
            return self.fail(reply, SAVE_FAILED, "the target is a folder")
        # Written in a hidden folder beside the target and renamed over it only when complete:
        # a failed or killed save leaves no truncated PDF and keeps an older one.
        partial = os.path.join(folder, partial_folder_name(self.pid))
        try:
            os.makedirs(partial, exist_ok=True)
        except OSError as e:
            return self.fail(reply, SAVE_FAILED, why_not_writable(
                folder, e.errno, "cannot write in the folder %s: %s" % (folder, _strerror(e))))
        temp = os.path.join(partial, os.path.basename(target))
        State.partial_path = temp
        try:
            why = self.office.store_pdf(file_url(temp), bool(command.options & OPTION_PDFA))
            step_times.step("export")
            if why is None and not _non_empty(temp):
                why = ""
            if why is not None:
                remove_partial()
                if not self.office.answers():
                    raise OfficeGone(why)
                return self.fail(reply, SAVE_FAILED,
                                 why_store_failed(folder, target) or COULD_NOT_WRITE)
            try:
                os.replace(temp, target)
            except OSError as e:
                remove_partial()
                return self.fail(reply, SAVE_FAILED, why_not_writable(
                    folder, e.errno, "cannot write the PDF: " + _strerror(e)))
        finally:
            remove_partial()
            State.partial_path = None
        step_times.step("place")
        reply.pages = pdf_page_count(target)
        step_times.step("count")
        step_times.end()
        reply.value = 0


def why_not_writable(folder, error, otherwise):
    """What the user can do about a folder the worker cannot write in, from the system's
    error."""
    if error in (errno.ENOSPC, getattr(errno, "EDQUOT", errno.ENOSPC)):
        return "the disk is full"
    if error in (errno.EACCES, errno.EPERM):
        return "no permission to write in " + folder
    if error == errno.EROFS:
        return "the folder %s is read-only" % folder
    if error == errno.ENAMETOOLONG:
        return "the PDF path is too long"
    return otherwise


def why_store_failed(folder, target):
    """Why the office could not store the PDF, from a look at the folder: the office's own
    error reaches us only as text, and a full disk shows there merely as an abort. None when
    nothing is known."""
    if not IS_WINDOWS:
        try:
            fs = os.statvfs(folder)
        except OSError:
            fs = None
        if fs is not None and fs.f_bavail == 0:
            return why_not_writable(folder, errno.ENOSPC, "")
        if fs is not None and fs.f_flag & os.ST_RDONLY:
            return why_not_writable(folder, errno.EROFS, "")
    elif _windows_disk_full(folder):
        return why_not_writable(folder, errno.ENOSPC, "")
    if not os.access(folder, os.W_OK):
        return why_not_writable(folder, errno.EACCES, "")
    try:
        name_max = os.pathconf(folder, "PC_NAME_MAX") if not IS_WINDOWS else 255
        path_max = os.pathconf(folder, "PC_PATH_MAX") if not IS_WINDOWS else 260
    except (OSError, ValueError):
        name_max, path_max = 255, 4096
    if len(os.fsencode(os.path.basename(target))) > name_max or len(os.fsencode(target)) >= path_max:
        return why_not_writable(folder, errno.ENAMETOOLONG, "")
    return None


def _windows_disk_full(folder):
    try:
        import shutil
        return shutil.disk_usage(folder).free == 0
    except OSError:
        return False


def _strerror(e):
    return os.strerror(e.errno) if e.errno else str(e)


def _non_empty(path):
    try:
        return os.path.getsize(path) > 0
    except OSError:
        return False


# ---------------------------------------------------------------------------------------------


def connect(port):
    sock = socket.create_connection(("127.0.0.1", port))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return sock


def serve(worker, sock):
    reader = FrameReader()
    while True:
        try:
            data = sock.recv(65536)
        except InterruptedError:
            continue
        except OSError:
            die(EXIT_CLIENT_GONE)
        if not data:
            die(EXIT_CLIENT_GONE)
        reader.append(data)
        while True:
            try:
                command = reader.next()
            except ProtocolError:
                die(EXIT_PROTOCOL)
            if command is None:
                break
            if command.type == QUIT:
                return
            if command.type not in (LOAD, SAVE):
                die(EXIT_PROTOCOL)
            send(worker.execute(command))


def main(argv):
    token = os.environ.pop(TOKEN_VARIABLE, "")
    port = int(argv[1]) if len(argv) == 2 and argv[1].isdigit() else 0
    if not 0 < port < 65536 or not token:
        sys.stderr.write("vellumor_engine.py: needs a port and a token from its client\n")
        return EXIT_USAGE
    redirect_standard_streams()
    if not IS_WINDOWS:
        import signal
        signal.signal(signal.SIGPIPE, signal.SIG_IGN)
    try:
        State.sock = connect(port)
    except OSError:
        return EXIT_CLIENT_GONE
    isolation_problem = isolate_network()
    pid = os.getpid()
    send(Message(HELLO, version=PROTOCOL_VERSION, token=token, pid=pid))
    threading.Thread(target=watchdog, daemon=True).start()

    office = Office()
    step_times.begin("start")
    try:
        if IS_WINDOWS and not _windows_kill_on_close_job():
            raise RuntimeError("the worker cannot tie the office's life to its own")
        # What the office may do with documents comes from the settings file; without it the
        # office would run with its own defaults (macros, links), so the worker does not start.
        settings = read_office_settings(office_settings_path())
        profile = profile_folder()
        prepare_profile(profile, settings)
        env = dict(os.environ)
        State.office_temp = prepare_office_temp(profile, env)
        use_engine_fonts(profile, env)
        use_own_python(env)
        product, (major, minor) = office.start(profile, env)
    except Exception as e:
        send(Message(READY, status=START_FAILED, text=str(e) or "the office did not start"))
        State.ending = True
        kill_office()
        return EXIT_START_FAILED
    State.ending = False  # from here on an office that exits has crashed
    step_times.step("office")
    step_times.end()
    send(Message(READY, status=OK, text=product, office_major=major, office_minor=minor,
                 isolation_problem=isolation_problem or ""))

    worker = Worker(office, pid)
    serve(worker, State.sock)
    # Quit: the document is closed and the office ended before we go.
    State.ending = True
    try:
        office.close_document()
    except Exception:
        pass
    office.end()
    empty_office_temp(State.office_temp)
    remove_document_fonts()
    return EXIT_DONE


if __name__ == "__main__":
    sys.exit(main(sys.argv))
