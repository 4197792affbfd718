// Untrusted documents, for every worker: a conversion reads the document and nothing else. No
// request reaches a listener the documents name, local files they link to stay out unless
// allowed, the worker has a network of its own, a document that grows without bound costs only
// itself, and a save that cannot be written says why in words the user can act on.
#include "engine/client/worker_engine.h"
#include "tests/engine/worker_test_support.h"
#include "tests/support/compound_file_builder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace vellumor;
using namespace vellumor::test;

namespace {

std::string g_worker = VELLUMOR_TEST_WORKER;

// Images in a PDF: the rows of pdfimages -list after its two header lines.
int PdfImages(const std::string& pdf) {
    std::string list = CommandOutput("pdfimages -list '" + pdf + "' 2>/dev/null");
    int lines = 0;
    for (char c : list) lines += c == '\n';
    return lines > 2 ? lines - 2 : 0;
}

// A zip of stored or deflated entries, enough for the office to read a package.
class Zip {
  public:
    void Add(const std::string& name, const std::string& data, bool compressed = false) {
        std::string packed = data;
        if (compressed) {
            z_stream z{};
            deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
            packed.resize(deflateBound(&z, data.size()));
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
            z.avail_in = static_cast<uInt>(data.size());
            z.next_out = reinterpret_cast<Bytef*>(packed.data());
            z.avail_out = static_cast<uInt>(packed.size());
            deflate(&z, Z_FINISH);
            packed.resize(z.total_out);
            deflateEnd(&z);
        }
        AddPacked(
            name, packed, compressed,
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())),
            data.size());
    }
    // An entry of size bytes made of head, then piece repeated, then tail: deflated as it is
    // made, so a gigabyte never sits in memory.
    void AddRepeated(const std::string& name, const std::string& head, const std::string& piece,
                     std::uint64_t size, const std::string& tail) {
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        std::string packed;
        unsigned long crc = 0;
        char out[1 << 16];
        auto feed = [&](const std::string& chunk, int flush) {
            crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()),
                        static_cast<uInt>(chunk.size()));
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
            z.avail_in = static_cast<uInt>(chunk.size());
            do {
                z.next_out = reinterpret_cast<Bytef*>(out);
                z.avail_out = sizeof out;
                deflate(&z, flush);
                packed.append(out, sizeof out - z.avail_out);
            } while (z.avail_out == 0);
        };
        std::string block;
        while (block.size() < (1u << 20)) block += piece;
        feed(head, Z_NO_FLUSH);
        std::uint64_t body = size - head.size() - tail.size(), done = 0;
        for (; done + block.size() <= body; done += block.size()) feed(block, Z_NO_FLUSH);
        body = done;  // whole blocks only: the pieces stay whole
        feed(tail, Z_FINISH);
        deflateEnd(&z);
        AddPacked(name, packed, true, crc, head.size() + body + tail.size());
    }
    std::string Bytes() const {
        std::string all = data_, directory = directory_;
        Put(all, directory);
        return all;
    }

  private:
    // The fields from "version needed" to the name's length, in both headers alike.
    static std::string Fields(const std::string& name, bool deflated, unsigned long crc,
                              std::size_t packed, std::uint64_t size) {
        std::string f;
        Append16(f, 20);
        Append16(f, 0);
        Append16(f, deflated ? 8 : 0);
        Append32(f, 0);
        Append32(f, crc);
        Append32(f, static_cast<std::uint32_t>(packed));
        Append32(f, static_cast<std::uint32_t>(size));
        Append16(f, static_cast<std::uint16_t>(name.size()));
        return f;
    }
    void AddPacked(const std::string& name, const std::string& packed, bool deflated,
                   unsigned long crc, std::uint64_t size) {
        std::uint32_t offset = static_cast<std::uint32_t>(data_.size());
        std::string fields = Fields(name, deflated, crc, packed.size(), size);
        Append32(data_, 0x04034b50);
        data_ += fields;
        Append16(data_, 0);
        data_ += name + packed;
        Append32(directory_, 0x02014b50);
        Append16(directory_, 20);
        directory_ += fields;
        for (int i = 0; i < 4; ++i) Append16(directory_, 0);
        Append32(directory_, 0);
        Append32(directory_, offset);
        directory_ += name;
        ++entries_;
    }
    void Put(std::string& all, const std::string& directory) const {
        std::uint32_t at = static_cast<std::uint32_t>(all.size());
        all += directory;
        Append32(all, 0x06054b50);
        Append16(all, 0);
        Append16(all, 0);
        Append16(all, static_cast<std::uint16_t>(entries_));
        Append16(all, static_cast<std::uint16_t>(entries_));
        Append32(all, static_cast<std::uint32_t>(directory.size()));
        Append32(all, at);
        Append16(all, 0);
    }
    std::string data_, directory_;
    unsigned entries_ = 0;
};

const char* kNamespaces =
    "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
    "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
    "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
    "xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\" "
    "xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:o=\"urn:schemas-microsoft-com:office:office\"";
const char* kRelationship = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

struct Relation {
    std::string id, type, target;
    bool external = true;
};

std::string Relationships(const std::vector<Relation>& relations) {
    std::string rels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
        "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const auto& r : relations)
        rels += "<Relationship Id=\"" + r.id + "\" Type=\"" +
                (r.type.rfind("http", 0) == 0 ? "" : kRelationship) + r.type + "\" Target=\"" +
                r.target + "\"" + (r.external ? " TargetMode=\"External\"" : "") + "/>";
    return rels + "</Relationships>";
}

const char* kDocumentType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";

// A part beyond the main document; one with a content type gets its override.
struct Part {
    std::string name, data, contentType;
};

// A package's content types and its relationship to the main document.
void AddPackageFrame(Zip& zip, const std::string& mainType, const std::vector<Part>& parts) {
    std::string overrides;
    for (const auto& part : parts)
        if (!part.contentType.empty())
            overrides += "<Override PartName=\"/" + part.name + "\" ContentType=\"" +
                         part.contentType + "\"/>";
    zip.Add("[Content_Types].xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
            "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" "
            "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
            "<Override PartName=\"/word/document.xml\" ContentType=\"" +
                mainType + "\"/>" + overrides + "</Types>");
    zip.Add("_rels/.rels", Relationships({{"rId1", "officeDocument", "word/document.xml", false}}));
}

// A .docx of body (the inside of w:body), the document's relationships and further parts.
std::string Docx(const std::string& body, const std::vector<Relation>& relations,
                 const std::vector<Part>& parts = {}, const std::string& mainType = kDocumentType) {
    Zip zip;
    AddPackageFrame(zip, mainType, parts);
    zip.Add("word/document.xml",
            std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document ") + kNamespaces +
                "><w:body>" + body + "</w:body></w:document>");
    zip.Add("word/_rels/document.xml.rels", Relationships(relations));
    for (const auto& part : parts) zip.Add(part.name, part.data);
    return zip.Bytes();
}

// A compressed container (the VBA project's compression) of literal tokens only: valid for any
// reader, if not small. 3584 literals and their flag bytes fill less than a chunk.
std::string CompressedContainer(const std::string& data) {
    std::string out(1, '\x01');
    for (std::size_t start = 0; start < data.size(); start += 3584) {
        std::string piece = data.substr(start, 3584), body;
        for (std::size_t i = 0; i < piece.size(); i += 8) body += '\0' + piece.substr(i, 8);
        Append16(out, static_cast<std::uint16_t>(0xB000 | (body.size() - 1)));
        out += body;
    }
    return out;
}

std::string Record(std::uint16_t id, const std::string& data) {
    std::string r;
    Append16(r, id);
    Append32(r, static_cast<std::uint32_t>(data.size()));
    return r + data;
}

std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) Append16(out, static_cast<unsigned char>(c));
    return out;
}

// A VBA project whose document module's Document_Open and standard module's AutoOpen each
// write marker: its dir stream (project information, then each module's records), the module
// sources and the PROJECT stream, in a compound file.
std::string VbaProject(const std::string& marker) {
    auto u16 = [](std::uint16_t v) {
        std::string s;
        Append16(s, v);
        return s;
    };
    auto u32 = [](std::uint32_t v) {
        std::string s;
        Append32(s, v);
        return s;
    };
    std::string write = "    Open \"" + marker +
                        "\" For Output As #1\r\n    Print #1, \"ran\"\r\n"
                        "    Close #1\r\n";
    struct Module {
        std::string name;
        bool document;
        std::string source;
    };
    const std::vector<Module> modules = {
        {"ThisDocument", true,
         "Attribute VB_Name = \"ThisDocument\"\r\nAttribute VB_Base = \"1Normal.ThisDocument\"\r\n"
         "Attribute VB_GlobalNameSpace = False\r\nAttribute VB_Creatable = False\r\n"
         "Attribute VB_PredeclaredId = True\r\nAttribute VB_Exposed = True\r\n"
         "Attribute VB_TemplateDerived = True\r\nAttribute VB_Customizable = True\r\n"
         "Private Sub Document_Open()\r\n" +
             write + "End Sub\r\n"},
        {"Module1", false,
         "Attribute VB_Name = \"Module1\"\r\nSub AutoOpen()\r\n" + write + "End Sub\r\n"},
    };
    std::string dir = Record(0x01, u32(1)) + Record(0x02, u32(0x409)) + Record(0x14, u32(0x409)) +
                      Record(0x03, u16(1252)) + Record(0x04, "Project") + Record(0x05, "") +
                      Record(0x40, "") + Record(0x06, "") + Record(0x3D, "") +
                      Record(0x07, u32(0)) + Record(0x08, u32(0)) + u16(0x09) + u32(4) + u32(1) +
                      u16(0);  // the version: its size field is reserved
    dir += Record(0x0C, "") + Record(0x3C, "") + Record(0x0F, u16(modules.size())) +
           Record(0x13, u16(0xFFFF));
    for (const auto& m : modules)
        dir += Record(0x19, m.name) + Record(0x47, Utf16(m.name)) + Record(0x1A, m.name) +
               Record(0x32, Utf16(m.name)) + Record(0x1C, "") + Record(0x48, "") +
               Record(0x31, u32(0)) /* the source starts the stream */ + Record(0x1E, u32(0)) +
               Record(0x2C, u16(0xFFFF)) + Record(m.document ? 0x22 : 0x21, "") + Record(0x2B, "");
    dir += Record(0x10, "");

    CompoundFileBuilder file;
    std::uint32_t storage = file.Storage(u"VBA");
    file.Stream(u"_VBA_PROJECT", std::string("\xCC\x61\xFF\xFF\x00\x00\x00", 7), storage)
        .Stream(u"dir", CompressedContainer(dir), storage);
    for (const auto& m : modules)
        file.Stream(std::u16string(m.name.begin(), m.name.end()), CompressedContainer(m.source),
                    storage);
    file.Stream(u"PROJECT",
                "ID=\"{9E394C0B-697E-4AEE-9FA6-446F51FB30DC}\"\r\nDocument=ThisDocument/&H00000000"
                "\r\nModule=Module1\r\nName=\"Project\"\r\nHelpContextID=\"0\"\r\n"
                "VersionCompatible32=\"393222000\"\r\n\r\n[Host Extender Info]\r\n"
                "&H00000001={3832D640-CF90-11CF-8E43-00A0C911005A};VBE;&H00000000\r\n\r\n"
                "[Workspace]\r\nThisDocument=0, 0, 0, 0, C\r\nModule1=0, 0, 0, 0, C\r\n");
    return file.Build();
}

// A picture linked (not embedded) through relationship id.
std::string LinkedPicture(const std::string& id) {
    return "<w:p><w:r><w:drawing><wp:inline><wp:extent cx=\"914400\" cy=\"914400\"/>"
           "<wp:docPr id=\"1\" name=\"p\"/><a:graphic><a:graphicData "
           "uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><pic:pic>"
           "<pic:nvPicPr><pic:cNvPr id=\"1\" name=\"p\"/><pic:cNvPicPr/></pic:nvPicPr>"
           "<pic:blipFill><a:blip r:link=\"" +
           id +
           "\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off "
           "x=\"0\" y=\"0\"/><a:ext cx=\"914400\" cy=\"914400\"/></a:xfrm><a:prstGeom "
           "prst=\"rect\"/></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline>"
           "</w:drawing></w:r></w:p>";
}

std::string Paragraph(const std::string& text) {
    return "<w:p><w:r><w:t>" + text + "</w:t></w:r></w:p>";
}

// A field with its instruction and the result the document stored.
std::string Field(const std::string& instruction, const std::string& stored) {
    return "<w:p><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText "
           "xml:space=\"preserve\">" +
           instruction +
           "</w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r><w:r><w:t>" +
           stored + "</w:t></w:r><w:r><w:fldChar w:fldCharType=\"end\"/></w:r></w:p>";
}

// A 16x16 red PNG.
std::string Png() {
    auto chunk = [](const std::string& type, const std::string& data) {
        std::string out;
        for (int shift = 24; shift >= 0; shift -= 8)
            out += static_cast<char>((data.size() >> shift) & 0xff);
        std::string body = type + data;
        unsigned long crc =
            crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
        out += body;
        for (int shift = 24; shift >= 0; shift -= 8)
            out += static_cast<char>((crc >> shift) & 0xff);
        return out;
    };
    std::string raw;
    for (int y = 0; y < 16; ++y) {
        raw += '\0';
        for (int x = 0; x < 16; ++x) raw += std::string("\xff\x00\x00", 3);
    }
    uLongf size = compressBound(raw.size());
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size,
             reinterpret_cast<const Bytef*>(raw.data()), raw.size());
    packed.resize(size);
    std::string ihdr("\0\0\0\x10\0\0\0\x10\x08\x02\0\0\0", 13);
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", ihdr) + chunk("IDAT", packed) + chunk("IEND", "");
}

// An HTTP server on 127.0.0.1 that answers every request with a picture and counts them.
class Listener {
  public:
    Listener() {
        socket_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(socket_, 16);
        socklen_t length = sizeof addr;
        getsockname(socket_, reinterpret_cast<sockaddr*>(&addr), &length);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~Listener() {
        stop_ = true;
        thread_.join();
        close(socket_);
    }
    std::string Url(const std::string& name) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
    }
    int Connections() const { return connections_; }

  private:
    void Serve() {
        const std::string picture = Png();
        while (!stop_) {
            pollfd p{socket_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            int client = accept(socket_, nullptr, nullptr);
            if (client < 0) continue;
            ++connections_;
            char buf[4096];
            pollfd c{client, POLLIN, 0};
            if (poll(&c, 1, 1000) > 0) [[maybe_unused]]
                auto n = recv(client, buf, sizeof buf, 0);
            std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                                 std::to_string(picture.size()) + "\r\n\r\n" + picture;
            [[maybe_unused]] auto n = send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
            close(client);
        }
    }
    int socket_ = -1;
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string NetNamespace(const std::string& pid) {
    std::error_code ignored;
    return fs::read_symlink("/proc/" + pid + "/ns/net", ignored).string();
}

class Untrusted : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { g_worker = GetParam(); }
    std::unique_ptr<WorkerEngine> Engine(bool allowLocalLinks = false,
                                         std::chrono::seconds timeout = std::chrono::seconds(60),
                                         std::uint32_t memoryMiB = 4096) {
        WorkerEngineOptions options;
        options.workerPath = g_worker;
        options.operationTimeout = timeout;
        options.allowLocalLinks = allowLocalLinks;
        options.memoryLimitMiB = memoryMiB;
        return std::make_unique<WorkerEngine>(options);
    }
    // Converts and answers the failure, or "(no failure)".
    static std::string Convert(WorkerEngine& engine, const std::string& source, int format,
                               const std::string& pdf) {
        return FailureOf([&] {
            engine.Load(source, 0, format, false);
            engine.Save(pdf, 0, 12, false);
        });
    }
};

}  // namespace

// Each kind of reference to the network, converted twice: with the worker in its own network
// (the default), and in the test's network so that the office's own settings must hold.
TEST_P(Untrusted, NoDocumentReachesTheNetwork) {
    TempFolder dir;
    Listener listener;
    struct Case {
        const char* name;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"picture.docx", Docx(LinkedPicture("rIdPic") + Paragraph("linked picture"),
                              {{"rIdPic", "image", listener.Url("track.png")}})},
        {"includepicture.docx",
         Docx(Field("INCLUDEPICTURE \"" + listener.Url("field.png") + "\" \\d", "stored"), {})},
        {"includetext.docx",
         Docx(Field("INCLUDETEXT \"" + listener.Url("text.docx") + "\"", "stored text"), {})},
        {"altchunk.docx",
         Docx(Paragraph("before") + "<w:altChunk r:id=\"rIdChunk\"/>" + Paragraph("after"),
              {{"rIdChunk", "aFChunk", listener.Url("chunk.html")}})},
        {"subdocument.docx", Docx(Paragraph("master") + "<w:p><w:subDoc r:id=\"rIdSub\"/></w:p>",
                                  {{"rIdSub", "subDocument", listener.Url("sub.docx")}})},
        {"template.docx",
         Docx(
             Paragraph("attached template"), {{"rIdSettings", "settings", "settings.xml", false}},
             {{"word/settings.xml",
               std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                           "<w:settings ") +
                   kNamespaces + "><w:attachedTemplate r:id=\"rIdTpl\"/></w:settings>",
               "application/vnd.openxmlformats-officedocument.wordprocessingml.settings+xml"},
              {"word/_rels/settings.xml.rels",
               Relationships({{"rIdTpl", "attachedTemplate", listener.Url("normal.dotm")}}), ""}})},
        {"oleobject.docx",
         Docx("<w:p><w:r><w:object w:dxaOrig=\"1440\" w:dyaOrig=\"1440\"><v:shape "
              "id=\"_x0000_i1025\" style=\"width:72pt;height:72pt\" o:ole=\"\"><v:imagedata "
              "r:id=\"rIdImg\" o:title=\"\"/></v:shape><o:OLEObject Type=\"Link\" "
              "ProgID=\"Excel.Sheet.12\" ShapeID=\"_x0000_i1025\" DrawAspect=\"Content\" "
              "r:id=\"rIdOle\" UpdateMode=\"Always\"><o:LinkType>EnhancedMetafile</o:LinkType>"
              "</o:OLEObject></w:object></w:r></w:p>" +
                  Paragraph("linked object"),
              {{"rIdOle", "oleObject", listener.Url("sheet.xlsx")},
               {"rIdImg", "image", listener.Url("ole.png")}})},
        {"image.doc",
         "<html xmlns:w=\"urn:schemas-microsoft-com:office:word\"><head><meta "
         "charset=\"utf-8\"></head><body><p>text</p><img src=\"" +
             listener.Url("pixel.png") + "\" width=20 height=20></body></html>"},
        {"stylesheet.doc",
         "<html xmlns:w=\"urn:schemas-microsoft-com:office:word\"><head><meta "
         "charset=\"utf-8\"><link rel=stylesheet href=\"" +
             listener.Url("style.css") + "\"></head><body><p>text</p></body></html>"},
    };
    for (const char* network : {"own", "shared"}) {
        if (std::string(network) == "shared") setenv("VELLUMOR_ENGINE_SHARED_NETWORK", "1", 1);
        auto engine = Engine();
        unsetenv("VELLUMOR_ENGINE_SHARED_NETWORK");
        for (const auto& c : cases) {
            // The office fetches an HTML style sheet whatever its settings say: only the
            // namespace keeps it in.
            if (std::string(network) == "shared" && std::string(c.name) == "stylesheet.doc")
                continue;
            std::string source = Write(dir.path(), c.name, c.bytes);
            std::string pdf =
                (dir.path() / (std::string(c.name) + "." + network + ".pdf")).string();
            int format = fs::path(c.name).extension() == ".doc" ? 9 : 13;
            int before = listener.Connections();
            EXPECT_EQ(Convert(*engine, source, format, pdf), "(no failure)") << c.name;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_EQ(listener.Connections(), before)
                << c.name << " in the " << network << " network";
        }
    }
}

TEST_P(Untrusted, LocalLinkedFilesStayOutUnlessAllowed) {
    TempFolder dir;
    std::string picture = Write(dir.path(), "linked.png", Png());
    std::string source = Write(dir.path(), "local.docx",
                               Docx(LinkedPicture("rIdPic") + Paragraph("a local picture"),
                                    {{"rIdPic", "image", "file://" + picture}}));
    auto safe = Engine(false);
    std::string pdf = (dir.path() / "safe.pdf").string();
    ASSERT_EQ(Convert(*safe, source, 13, pdf), "(no failure)");
    EXPECT_EQ(PdfImages(pdf), 0);
    auto allowing = Engine(true);
    std::string allowed = (dir.path() / "allowed.pdf").string();
    ASSERT_EQ(Convert(*allowing, source, 13, allowed), "(no failure)");
    EXPECT_EQ(PdfImages(allowed), 1);
    // The switch is per load: the same worker blocks again for a safe engine's next load.
    ASSERT_EQ(Convert(*safe, source, 13, pdf), "(no failure)");
    EXPECT_EQ(PdfImages(pdf), 0);
}

TEST_P(Untrusted, TheWorkerAndItsOfficeHaveANetworkOfTheirOwn) {
    TempFolder dir;
    auto engine = Engine();
    std::string source = Write(dir.path(), "a.docx", Docx(Paragraph("hello"), {}));
    ASSERT_EQ(Convert(*engine, source, 13, (dir.path() / "a.pdf").string()), "(no failure)");
    ASSERT_EQ(engine->IsolationWarning(), "");
    std::string own = NetNamespace("self");
    ASSERT_FALSE(own.empty());
    int pid = static_cast<int>(engine->WorkerProcessId());
    EXPECT_NE(NetNamespace(std::to_string(pid)), own);
    for (int child : ChildrenOf(pid)) EXPECT_NE(NetNamespace(std::to_string(child)), own);
}

// Auto-run macros (a VBA project under a .docx name), a DDE link and a form field with macros on
// entry and exit: the document converts with what it stored, and nothing it names runs.
TEST_P(Untrusted, MacrosDdeLinksAndFormFieldsDoNothing) {
    TempFolder dir;
    fs::path marker = dir.path() / "macro-ran.txt";
    // A macro-enabled package under a .docx name.
    std::string macro =
        Write(dir.path(), "macro.docx",
              Docx(Paragraph("A document with auto-run macros"),
                   {{"rIdVba", "http://schemas.microsoft.com/office/2006/relationships/vbaProject",
                     "vbaProject.bin", false}},
                   {{"word/vbaProject.bin", VbaProject(marker.string()),
                     "application/vnd.ms-office.vbaProject"}},
                   "application/vnd.ms-word.document.macroEnabled.main+xml"));
    std::string dde = Write(
        dir.path(), "dde.docx",
        Docx(Field("DDEAUTO \"/bin/sh\" \"-c touch " + marker.string() + "\"", "stored link") +
                 "<w:p><w:r><w:fldChar w:fldCharType=\"begin\"><w:ffData><w:name "
                 "w:val=\"Check1\"/><w:enabled/><w:entryMacro w:val=\"AutoOpen\"/><w:exitMacro "
                 "w:val=\"AutoOpen\"/><w:checkBox><w:sizeAuto/><w:default "
                 "w:val=\"1\"/></w:checkBox></w:ffData></w:fldChar></w:r><w:r><w:instrText> "
                 "FORMCHECKBOX </w:instrText></w:r><w:r><w:fldChar "
                 "w:fldCharType=\"end\"/></w:r><w:r><w:t>form field</w:t></w:r></w:p>",
             {}));
    auto engine = Engine();
    for (const auto& [source, text] : {std::pair{macro, std::string("auto-run macros")},
                                       std::pair{dde, std::string("stored link")}}) {
        std::string pdf = source + ".pdf";
        ASSERT_EQ(Convert(*engine, source, 13, pdf), "(no failure)") << source;
        EXPECT_NE(CommandOutput("pdftotext '" + pdf + "' -").find(text), std::string::npos)
            << source;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(fs::exists(marker));
}

// A package of a few hundred kilobytes holding a gigabyte of paragraphs.
TEST_P(Untrusted, ADocumentThatExpandsWithoutBoundFailsAloneAndTheNextConverts) {
    TempFolder dir;
    Zip zip;
    AddPackageFrame(zip, kDocumentType, {});
    zip.AddRepeated("word/document.xml",
                    std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document ") +
                        kNamespaces + "><w:body>",
                    "<w:p><w:r><w:t>x</w:t></w:r></w:p>", std::uint64_t{1} << 30,
                    "</w:body></w:document>");
    std::string bomb = Write(dir.path(), "bomb.docx", zip.Bytes());
    EXPECT_LT(fs::file_size(bomb), 8u << 20);
    auto engine = Engine(false, std::chrono::seconds(90), 1024);
    std::string failure = Convert(*engine, bomb, 13, (dir.path() / "bomb.pdf").string());
    bool memory = failure == "Cannot convert bomb.docx: it needs more than 1024 MB to open";
    bool deadline = failure.find("within 90 seconds") != std::string::npos;
    EXPECT_TRUE(memory || deadline) << failure;
    std::string next = Write(dir.path(), "next.docx", Docx(Paragraph("next"), {}));
    EXPECT_EQ(Convert(*engine, next, 13, (dir.path() / "next.pdf").string()), "(no failure)");
}

// A full disk and a read-only folder, on a small file system of the test's own (root only).
TEST_P(Untrusted, ASaveThatCannotBeWrittenSaysWhy) {
    TempFolder dir;
    fs::path disk = dir.path() / "disk";
    fs::create_directories(disk);
    if (geteuid() != 0 || mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "needs to mount a small file system";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk.string()};
    std::string source = Write(dir.path(), "a.docx", Docx(Paragraph("some text"), {}));
    {
        std::ofstream filler(disk / "filler", std::ios::binary);
        std::string block(4096, 'x');
        while (filler.write(block.data(), block.size())) {
        }
    }
    auto engine = Engine();
    engine->Load(source, 0, 13, false);
    std::string full = FailureOf([&] { engine->Save((disk / "a.pdf").string(), 0, 12, false); });
    EXPECT_EQ(full.rfind("Cannot save a.pdf: the disk is full", 0), 0u) << full;
    fs::remove(disk / "filler");
    ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=256k"), 0);
    std::string readOnly =
        FailureOf([&] { engine->Save((disk / "a.pdf").string(), 0, 12, false); });
    EXPECT_EQ(readOnly, "Cannot save a.pdf: the folder " + disk.string() + " is read-only");
    EXPECT_FALSE(fs::exists(disk / "a.pdf"));
}

INSTANTIATE_TEST_SUITE_P(Workers, Untrusted, vellumor::test::Workers(), vellumor::test::WorkerName);
