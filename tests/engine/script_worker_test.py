"""Tests of the script worker (engine/script/vellumor_engine.py) that the conformance tests
through the C++ client cannot reach: its codec byte for byte, its PDF page count, its profile
slots, how it answers the office's questions, how it keeps the office's main thread while a
document is open, and the protocol errors only a misbehaving client produces.

    /usr/bin/python3 tests/engine/script_worker_test.py      (needs python3-uno and the office)
"""

import importlib.util
import os
import secrets
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT_FOLDER = os.path.abspath(os.path.join(HERE, "..", "..", "engine", "script"))
SCRIPT = os.path.join(SCRIPT_FOLDER, "vellumor_engine.py")
CONSTANTS_CHECK = os.path.join(HERE, "..", "..", "cmake", "script_constants.py")
HOOKS = os.path.join(HERE, "script_worker_testhooks.py")
CORPUS = os.environ.get("VELLUMOR_CORPUS") or os.path.join(HERE, "..", "..", "..", "shared", "corpus")
PYTHON = "/usr/bin/python3"

spec = importlib.util.spec_from_file_location("vellumor_engine", SCRIPT)
ve = importlib.util.module_from_spec(spec)
spec.loader.exec_module(ve)
SETTINGS = ve.read_office_settings(ve.office_settings_path())


class Codec(unittest.TestCase):
    def test_frames_are_byte_for_byte_those_of_the_cpp_codec(self):
        hello = ve.encode_frame(ve.Message(ve.HELLO, version=1, token="ab", pid=0x01020304))
        self.assertEqual(hello, b"\x0d\x00\x00\x00" b"\x01" b"\x01\x00" b"\x02\x00\x00\x00ab"
                         b"\x04\x03\x02\x01")
        result = ve.encode_frame(ve.Message(ve.RESULT, id=7, status=ve.SAVE_FAILED, value=-1,
                                            pages=3, memory_bytes=1 << 40, text="x"))
        self.assertEqual(result, b"\x1b\x00\x00\x00\x06" b"\x07\x00\x00\x00" b"\x05"
                         b"\xff\xff\xff\xff" b"\x03\x00\x00\x00" b"\x00\x00\x00\x00\x00\x01"
                         b"\x00\x00" b"\x01\x00\x00\x00x")

    def test_ready_carries_the_office_version_and_the_isolation_state(self):
        # The same bytes as in tests/core/engine_protocol_test.cpp.
        ready = ve.encode_frame(ve.Message(ve.READY, status=ve.OK, text="LO", office_major=25,
                                           office_minor=2, isolation_problem="no"))
        self.assertEqual(ready, b"\x12\x00\x00\x00" b"\x02" b"\x00" b"\x02\x00\x00\x00LO"
                         b"\x19\x00" b"\x02\x00" b"\x02\x00\x00\x00no")
        reader = ve.FrameReader()
        reader.append(ready)
        got = reader.next()
        self.assertEqual((got.text, got.office_major, got.office_minor, got.isolation_problem),
                         (b"LO", 25, 2, b"no"))
        self.assertEqual(ve.office_version("25.2.3.2"), (25, 2))
        self.assertEqual(ve.office_version("7.4"), (7, 4))
        self.assertEqual(ve.office_version(""), (0, 0))
        self.assertEqual(ve.office_version("unknown"), (0, 0))

    def test_commands_round_trip_with_any_bytes_in_the_path(self):
        path = b"/tmp/a\nb\xff\x00.doc"
        save = ve.Message(ve.SAVE, id=9, deadline_ms=5000, text=path, reserved=-3, format=12,
                          flag=True, options=1)
        reader = ve.FrameReader()
        first = ve.encode_frame(save)
        for i in range(len(first) - 1):  # arrives one byte at a time
            reader.append(first[i:i + 1])
            self.assertIsNone(reader.next())
        reader.append(first[-1:] + ve.encode_frame(ve.Message(ve.QUIT)))
        got = reader.next()
        self.assertEqual((got.type, got.id, got.deadline_ms, got.text, got.reserved, got.format,
                          got.flag, got.options), (ve.SAVE, 9, 5000, path, -3, 12, True, 1))
        self.assertEqual(reader.next().type, ve.QUIT)
        self.assertIsNone(reader.next())

    def test_malformed_frames_are_refused(self):
        load = ve.encode_payload(ve.Message(ve.LOAD, text="/a", format=9))
        bad = {
            "empty frame": b"\x00\x00\x00\x00",
            "frame too long": (ve.MAX_PAYLOAD + 1).to_bytes(4, "little"),
            "unknown type": b"\x01\x00\x00\x00\x09",
            "trailing bytes": (len(load) + 1).to_bytes(4, "little") + load + b"\x00",
            "string past the end": b"\x0a\x00\x00\x00\x03\x01\x00\x00\x00\x00\x00\x00\x00\xff",
            "boolean 2": len(load).to_bytes(4, "little") + load[:-1] + b"\x02",
            "status 9": b"\x06\x00\x00\x00\x02\x09\x00\x00\x00\x00",
        }
        for name, frame in bad.items():
            with self.subTest(name):
                reader = ve.FrameReader()
                reader.append(frame)
                with self.assertRaises(ve.ProtocolError):
                    reader.next()


class Files(unittest.TestCase):
    def test_page_count_is_the_largest_page_tree_count(self):
        with tempfile.TemporaryDirectory() as d:
            pdf = os.path.join(d, "a.pdf")
            with open(pdf, "wb") as f:
                f.write(b"%PDF-1.6\n1 0 obj<</Type/Pages/Kids[2 0 R]/Count 12>>endobj\n"
                        b"2 0 obj<</Type/Pages/Parent 1 0 R/Count 5/Kids[]>>endobj\n"
                        b"3 0 obj<</Type/Page/Count 99>>endobj\n")
            self.assertEqual(ve.pdf_page_count(pdf), 12)
            self.assertEqual(ve.pdf_page_count(os.path.join(d, "missing.pdf")), 0)

    def test_partial_name_and_file_url(self):
        self.assertEqual(ve.partial_folder_name(42), ".vellumor-42.part")
        self.assertEqual(ve.file_url("/t/a b%/中.doc"),
                         "file:///t/a%20b%25/%E4%B8%AD.doc")

    def test_profile_slots_are_private_and_forbid_macros(self):
        with tempfile.TemporaryDirectory() as d:
            env = dict(os.environ, XDG_CACHE_HOME=d)
            code = ("import importlib.util,sys,time;s=importlib.util.spec_from_file_location("
                    "'v',sys.argv[1]);m=importlib.util.module_from_spec(s);"
                    "s.loader.exec_module(m);print(m.profile_folder(),flush=True);time.sleep(3)")
            holders = [subprocess.Popen([PYTHON, "-c", code, SCRIPT], env=env,
                                        stdout=subprocess.PIPE, text=True) for _ in range(2)]
            folders = sorted(h.stdout.readline().strip() for h in holders)
            for h in holders:
                h.kill()
                h.wait()
            self.assertEqual([os.path.basename(f) for f in folders],
                             ["script-profile-0", "script-profile-1"])
            ve.prepare_profile(folders[0], SETTINGS)
            with open(os.path.join(folders[0], "user", "registrymodifications.xcu")) as f:
                xcu = f.read()
            self.assertIn('"DisableMacrosExecution" oor:op="fuse"><value>true', xcu)
            self.assertIn('"FirstRun" oor:op="fuse"><value>false', xcu)

    def test_font_replacements_are_set_members_and_stay_off_windows(self):
        # The office reads a set member only as a whole node: a property item for a member
        # that does not exist yet is dropped, and the replacement would silently not happen.
        import xml.dom.minidom
        oor = "http://openoffice.org/2001/registry"
        items = xml.dom.minidom.parseString(
            ve.profile_settings_text(SETTINGS, windows=False).encode())
        pairs = {}
        for item in items.getElementsByTagName("item"):
            for node in item.getElementsByTagName("node"):
                self.assertEqual(item.getAttribute("oor:path"),
                                 "/org.openoffice.Office.Common/Font/Substitution/FontPairs")
                self.assertEqual(node.getAttribute("oor:op"), "replace")
                props = {p.getAttributeNS(oor, "name") or p.getAttribute("oor:name"):
                         p.getElementsByTagName("value")[0].firstChild.data
                         for p in node.getElementsByTagName("prop")}
                self.assertEqual(props["Always"], "true")
                self.assertEqual(props["ReplaceFont"], node.getAttribute("oor:name"))
                pairs[props["ReplaceFont"]] = props["SubstituteFont"]
        self.assertEqual(pairs.get("MS Mincho"), "IPAMincho")
        self.assertIn("宋体", pairs)
        self.assertIn('"Replacement" oor:op="fuse"><value>true',
                      ve.profile_settings_text(SETTINGS, False))
        # Windows has the fonts themselves; a replacement there would only lose them.
        on_windows = ve.profile_settings_text(SETTINGS, windows=True)
        self.assertNotIn("Font/Substitution", on_windows)
        self.assertIn('"DisableMacrosExecution" oor:op="fuse"><value>true', on_windows)

    def test_the_settings_file_beside_the_script_is_the_one_both_workers_read(self):
        # The C++ worker's copy is the same file, installed beside it by the build.
        self.assertEqual(ve.office_settings_path(), os.path.join(SCRIPT_FOLDER,
                                                                 "office_settings.ini"))
        entries = {(s.path, s.name, s.value) for s in SETTINGS}
        self.assertIn(("/org.openoffice.Office.Common/Security/Scripting",
                       "BlockUntrustedRefererLinks", "true"), entries)
        xcu = ve.profile_settings_text(SETTINGS, windows=False)
        for s in SETTINGS:
            self.assertIn('<prop oor:name="%s" oor:op="fuse"><value>%s</value></prop>'
                          % (s.name, s.value), xcu)

    def test_a_missing_or_damaged_settings_file_names_the_file_and_line(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "office_settings.ini")
            cases = [
                (None, "cannot be read: No such file or directory"),
                (b"X = 1\n", "is damaged at line 1: a setting comes after the [/path] of its node"),
                (b"[/a]\nFirstRun false\n", "is damaged at line 2: a setting reads Name = value"),
                (b"[/a]\nFirst Run = 1\n", "is damaged at line 2: a setting reads Name = value"),
                (b"# x\n[/a] windows\n",
                 "is damaged at line 2: a node is named as [/path] or [/path] not-windows"),
                (b"# only a comment\n", "holds no settings"),
                (b"[/a]\nX = \xff\n", "cannot be read: it is not UTF-8"),
            ]
            for content, why in cases:
                with self.subTest(why):
                    if content is not None:
                        with open(path, "wb") as f:
                            f.write(content)
                    with self.assertRaises(RuntimeError) as raised:
                        ve.read_office_settings(path)
                    self.assertEqual(str(raised.exception),
                                     "the office settings file %s %s" % (path, why))

    def test_values_are_written_as_xml_text(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "office_settings.ini")
            with open(path, "wb") as f:
                f.write(b'[/a/B]\r\nY = a <b> & "c"\r\n'
                        b"[/a/P['M S']] not-windows\nAlways = true\n")
            settings = ve.read_office_settings(path)
        xcu = ve.profile_settings_text(settings, windows=False)
        self.assertIn('<item oor:path="/a/B"><prop oor:name="Y" oor:op="fuse">'
                      '<value>a &lt;b&gt; &amp; &quot;c&quot;</value></prop></item>\n'
                      '<item oor:path="/a/P"><node oor:name="M S" oor:op="replace">', xcu)
        self.assertNotIn("/a/P", ve.profile_settings_text(settings, windows=True))


class WordSettings(unittest.TestCase):
    def test_punctuation_compression_is_read_from_the_package_as_core_reads_it(self):
        import zipfile
        mode15 = ('<w:compat><w:compatSetting w:name="compatibilityMode" '
                  'w:uri="http://schemas.microsoft.com/office/word" w:val="15"/></w:compat>')
        compress = '<w:characterSpacingControl w:val="compressPunctuation"/>'
        with tempfile.TemporaryDirectory() as folder:
            def package(settings):
                path = os.path.join(folder, "d.docx")
                with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
                    z.writestr("word/document.xml", "<w:document/>")
                    if settings is not None:
                        z.writestr("word/settings.xml", "<w:settings>%s</w:settings>" % settings)
                return path
            read = ve.recorded_punctuation_compression
            self.assertEqual(read(package(compress + mode15)), 1)
            self.assertEqual(read(package(
                mode15 + '<w:characterSpacingControl w:val="doNotCompress"/>')), 0)
            self.assertIsNone(read(package(mode15 + '<w:zoom w:percent="100"/>')))
            # Word 2007 and 2010 documents keep the office's setting.
            self.assertIsNone(read(package(compress)))
            self.assertIsNone(read(package(compress + mode15.replace('"15"', '"14"'))))
            self.assertIsNone(read(package(None)))
            junk = os.path.join(folder, "junk.doc")
            with open(junk, "wb") as f:
                f.write(b"\xd0\xcf\x11\xe0 not a package")
            self.assertIsNone(read(junk))


class ProtocolNumbers(unittest.TestCase):
    """The build's check of this script's protocol numbers against the C++ ones."""

    def check(self, source):
        with tempfile.TemporaryDirectory() as d:
            script, out = os.path.join(d, "s.py"), os.path.join(d, "check.cpp")
            with open(script, "w", encoding="utf-8") as f:
                f.write(source)
            run = subprocess.run([sys.executable, CONSTANTS_CHECK, script, out],
                                 capture_output=True, text=True)
            if not os.path.exists(out):
                return run.returncode, run.stderr, ""
            with open(out, encoding="utf-8") as f:
                return run.returncode, run.stderr, f.read()

    def test_every_number_is_checked_with_the_value_the_script_holds(self):
        with open(SCRIPT, encoding="utf-8") as f:
            source = f.read()
        code, _, text = self.check(source.replace("\nEXIT_DEADLINE = 4\n",
                                                  "\nEXIT_DEADLINE = 44\n"))
        self.assertEqual(code, 0)
        self.assertIn("static_cast<long long>(WorkerExit::Deadline) == 44,", text)
        self.assertIn("std::string_view(protocol::kTokenVariable) == \"VELLUMOR_ENGINE_TOKEN\"",
                      text)
        self.assertIn("static_cast<long long>(protocol::kMaxPayload) == 1048576,", text)

    def test_a_number_the_script_lacks_stops_the_build(self):
        with open(SCRIPT, encoding="utf-8") as f:
            source = f.read()
        code, err, text = self.check(source.replace("\nSTART_FAILED = 8\n", "\n"))
        self.assertEqual((code, text), (1, ""))
        self.assertIn("defines no START_FAILED (the twin of protocol::Status::StartFailed)", err)


class FakeContinuation(object):
    def __init__(self, interface):
        self.interface = interface
        self.selected = False

    def queryInterface(self, type_):
        names = {self.interface}
        if self.interface == "com.sun.star.task.XInteractionPassword2":
            names.add("com.sun.star.task.XInteractionPassword")
        return self if type_.typeName in names else None

    def select(self):
        self.selected = True


class Unconvertible(object):
    """Stands for a request pyuno cannot convert: getRequest() raises SystemError."""


class FakeRequest(object):
    def __init__(self, request, *interfaces):
        self.request = request
        self.continuations = [FakeContinuation(i) for i in interfaces]

    def getRequest(self):
        if self.request is Unconvertible:
            raise SystemError("returned a result with an exception set")
        return self.request

    def getContinuations(self):
        return tuple(self.continuations)


class Questions(unittest.TestCase):
    T = "com.sun.star.task."

    def test_every_question_is_aborted_and_only_password_requests_noted(self):
        import uno
        cases = [
            (uno.getClass(self.T + "DocumentMSPasswordRequest2")(), True),
            (uno.getClass(self.T + "DocumentPasswordRequest")(), True),
            (uno.getClass("com.sun.star.ucb.InteractiveAugmentedIOException")(), False),
        ]
        for request, password in cases:
            with self.subTest(type(request).__name__):
                handler = ve.AbortingInteractionHandler()
                question = FakeRequest(request, self.T + "XInteractionApprove",
                                       self.T + "XInteractionAbort")
                handler.handle(question)
                self.assertEqual(handler.password_requested, password)
                self.assertEqual([c.selected for c in question.continuations], [False, True])

    def test_a_request_pyuno_cannot_convert_is_known_by_its_password_answer(self):
        handler = ve.AbortingInteractionHandler()
        handler.handle(FakeRequest(Unconvertible, self.T + "XInteractionAbort",
                                   self.T + "XInteractionPassword2"))
        self.assertTrue(handler.password_requested)
        handler = ve.AbortingInteractionHandler()
        question = FakeRequest(Unconvertible, self.T + "XInteractionApprove",
                               self.T + "XInteractionDisapprove")
        handler.handle(question)
        self.assertFalse(handler.password_requested)
        self.assertEqual([c.selected for c in question.continuations], [False, True])


class FailingServiceManager(object):
    def createInstanceWithContext(self, name, context):
        raise RuntimeError("no type detection here")


class FakeContext(object):
    ServiceManager = FailingServiceManager()


class Detection(unittest.TestCase):
    def test_what_the_office_cannot_name_or_would_read_as_text_is_refused(self):
        # A detection that fails, or finds nothing, refuses as a text import does.
        self.assertIsNone(ve.detected_filter(FakeContext(), "file:///x.doc"))
        for refused in (None, "", "Text", "Text (encoded)", "Text (StarWriter/Web)"):
            self.assertTrue(ve.refuses_as_text(refused), refused)
        for kept in ("MS Word 97", "WordPerfect", "MS Word 95"):
            self.assertFalse(ve.refuses_as_text(kept), kept)

    def test_every_word_format_is_read_by_word_imports_only(self):
        self.assertEqual(sorted(ve.WORD_IMPORT_FILTERS), list(range(1, ve.LAST_WORD_IMPORT + 1)))
        for names in ve.WORD_IMPORT_FILTERS.values():
            self.assertTrue(names)
            self.assertFalse(any(ve.is_plain_text_import(name) for name in names), names)


class MainThread(unittest.TestCase):
    """The office's main thread stays in our callback while a document is open and goes back
    to its loop when it is closed."""

    class FakeOffice(ve.Office):
        def __init__(self):
            ve.Office.__init__(self)
            self.entries = []
            self.threads = set()
            office = self

            class Callback(object):
                def addCallback(self, entry, data):
                    office.entries.append(entry)
                    threading.Thread(target=entry.notify, args=(None,), daemon=True).start()

            self.async_callback = Callback()

    def test_jobs_for_an_open_document_run_in_the_same_entry(self):
        ve.State.office = subprocess.Popen([sys.executable, "-c", "import time;time.sleep(30)"])
        try:
            office = self.FakeOffice()

            def job(opens):
                def run():
                    office.threads.add(threading.current_thread().ident)
                    office.document = object() if opens else None
                return run

            office.on_main_thread(job(True))     # load
            office.on_main_thread(job(True))     # save
            office.on_main_thread(job(False))    # close
            self.assertEqual((len(office.entries), len(office.threads)), (1, 1))
            office.on_main_thread(job(False))    # a load that fails
            self.assertEqual(len(office.entries), 2)
            self.assertFalse(office.parked)
        finally:
            ve.State.office.kill()
            ve.State.office.wait()
            ve.State.office = None


def live_offices_of(pid):
    out = subprocess.run(["ps", "-eo", "pid,ppid,stat,comm"], capture_output=True,
                         text=True).stdout.splitlines()[1:]
    return [l.split()[0] for l in out
            if l.split()[1] == str(pid) and "soffice" in l and not l.split()[2].startswith("Z")]


class Client(object):
    """The client's half of the protocol, enough to misbehave with."""

    def __init__(self, env=None):
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.settimeout(30)
        token = secrets.token_hex(16)
        full_env = dict(os.environ, VELLUMOR_ENGINE_TOKEN=token, **(env or {}))
        self.process = subprocess.Popen([PYTHON, HOOKS, str(listener.getsockname()[1])],
                                        env=full_env)
        self.sock = listener.accept()[0]
        listener.close()
        self.reader = ve.FrameReader()
        hello = self.receive()
        assert hello.type == ve.HELLO and hello.token == token.encode()
        self.ready = self.receive()

    def receive(self, timeout=90):
        self.sock.settimeout(timeout)
        while True:
            message = self.reader.next()
            if message is not None:
                return message
            data = self.sock.recv(65536)
            if not data:
                return None
            self.reader.append(data)

    def command(self, type_, path, fmt, options=0):
        self.sock.sendall(ve.encode_frame(ve.Message(type_, id=5, deadline_ms=60000, text=path,
                                                     format=fmt, options=options)))
        return self.receive()


@unittest.skipUnless(os.path.exists("/usr/lib/libreoffice/program/soffice.bin"), "no office")
class Worker(unittest.TestCase):
    @unittest.skipUnless(os.path.exists(os.path.join(CORPUS, "README.md")),
                         "needs the real documents of ../shared/corpus, which are not at " + CORPUS)
    def test_commands_a_client_gets_wrong_are_answered_with_the_reason(self):
        c = Client()
        try:
            self.assertEqual(c.ready.status, ve.OK)
            self.assertTrue(c.ready.text.startswith(b"LibreOffice "), c.ready.text)
            with tempfile.TemporaryDirectory() as d:
                doc = os.path.join(d, "a.doc")
                with open(os.path.join(CORPUS, "poi_footnote.doc"), "rb") as src, \
                        open(doc, "wb") as dst:
                    dst.write(src.read())
                checks = [
                    (ve.SAVE, os.path.join(d, "a.pdf"), 12, ve.NO_DOCUMENT, b"no document is loaded"),
                    (ve.LOAD, doc, 12, ve.BAD_REQUEST, b"unknown load format 12"),
                    (ve.LOAD, d, 9, ve.NOT_FOUND, b"it is a folder"),
                    (ve.LOAD, d + "/none.doc", 9, ve.NOT_FOUND,
                     b"cannot open it: No such file or directory"),
                    (ve.LOAD, doc, 9, ve.OK, b""),
                    (ve.SAVE, os.path.join(d, "a.pdf"), 9, ve.BAD_REQUEST, b"unknown save format 9"),
                    (ve.SAVE, d, 12, ve.SAVE_FAILED, b"the target is a folder"),
                ]
                for type_, path, fmt, status, text in checks:
                    reply = c.command(type_, path, fmt)
                    self.assertEqual((reply.status, reply.text), (status, text), (path, fmt))
                target = os.path.join(d, "new", "deeper", "a.pdf")
                reply = c.command(ve.SAVE, target, 12, options=ve.OPTION_PDFA)
                self.assertEqual((reply.status, reply.pages), (ve.OK, 1))
                self.assertGreater(reply.memory_bytes, 50 << 20)  # the office's, not ours
                with open(target, "rb") as f:
                    self.assertIn(b"pdfaid:part", f.read())
                self.assertEqual(os.listdir(os.path.dirname(target)), ["a.pdf"])
        finally:
            c.sock.close()
            c.process.wait(10)

    def test_a_misbehaving_client_ends_the_worker_and_its_office(self):
        frames = {
            "malformed": (b"\x00\x00\x00\x00", ve.EXIT_PROTOCOL),
            "unexpected": (ve.encode_frame(ve.Message(ve.RESULT)), ve.EXIT_PROTOCOL),
            "gone": (None, ve.EXIT_CLIENT_GONE),
        }
        for name, (frame, code) in frames.items():
            with self.subTest(name):
                c = Client()
                offices = live_offices_of(c.process.pid)
                self.assertEqual(len(offices), 1)
                if frame is None:
                    c.sock.close()
                else:
                    c.sock.sendall(frame)
                self.assertEqual(c.process.wait(10), code)
                time.sleep(0.3)
                self.assertFalse(os.path.exists("/proc/%s/cmdline" % offices[0]) and
                                 open("/proc/%s/cmdline" % offices[0]).read())

    def test_a_killed_worker_takes_its_office_with_it(self):
        c = Client()
        office = live_offices_of(c.process.pid)[0]
        c.process.kill()
        c.process.wait()
        time.sleep(0.5)
        alive = os.path.exists("/proc/%s/cmdline" % office) and open(
            "/proc/%s/cmdline" % office).read()
        self.assertFalse(alive)


if __name__ == "__main__":
    unittest.main()
