#include "engine/worker/office_document.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/io/XOutputStream.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/container/XContentEnumerationAccess.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/style/BreakType.hpp>
#include <com/sun/star/style/LineSpacing.hpp>
#include <com/sun/star/style/LineSpacingMode.hpp>
#include <com/sun/star/style/XStyle.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/text/XDocumentIndexesSupplier.hpp>
#include <com/sun/star/text/XPageCursor.hpp>
#include <com/sun/star/text/XTextSection.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/text/WritingMode2.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XTypeDetection.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

namespace vellumor::engine {

using namespace com::sun::star;
using rtl::OString;
using rtl::OUString;

namespace {

// comphelper::getProcessComponentContext() returned its reference by value up to LibreOffice
// 7.4 and returns a reference to its own since; the symbol's name is the same. Called with a
// slot for a returned value, it answers the address of a reference in either case: the slot,
// now holding a reference of ours, or the office's own.
using ContextGetter = void* (*)(void* returnSlot);

beans::PropertyValue Prop(const char* name, const uno::Any& value) {
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

OUString FromUtf8(const std::string& s) {
    return OUString(s.data(), static_cast<sal_Int32>(s.size()), RTL_TEXTENCODING_UTF8);
}

std::string ToUtf8(const OUString& s) {
    OString o = OUStringToOString(s, RTL_TEXTENCODING_UTF8);
    return std::string(o.getStr(), static_cast<std::size_t>(o.getLength()));
}

// Answers every question the office asks while loading with its abort choice, so nothing ever
// waits for a person; remembers whether one of them asked for a password.
class CancellingHandler : public cppu::WeakImplHelper1<task::XInteractionHandler> {
  public:
    void SAL_CALL handle(const uno::Reference<task::XInteractionRequest>& request) override {
        if (!request.is()) return;
        // Every kind of password request (documents of all formats) derives from this one.
        if (request->getRequest().isExtractableTo(cppu::UnoType<task::PasswordRequest>::get()))
            passwordRequested = true;
        const auto continuations = request->getContinuations();
        for (const auto& continuation : continuations) {
            uno::Reference<task::XInteractionAbort> abort(continuation, uno::UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }
    bool passwordRequested = false;
};

bool StartsPage(const uno::Reference<beans::XPropertySet>& element) {
    style::BreakType kind = style::BreakType_NONE;
    OUString pageStyle;
    element->getPropertyValue("BreakType") >>= kind;
    element->getPropertyValue("PageDescName") >>= pageStyle;
    return kind == style::BreakType_PAGE_BEFORE || kind == style::BreakType_PAGE_BOTH ||
           !pageStyle.isEmpty();
}

// No text, no list label, nothing anchored, and no page break of its own.
bool IsEmptyParagraph(const uno::Reference<text::XTextRange>& paragraph) {
    uno::Reference<beans::XPropertySet> properties(paragraph, uno::UNO_QUERY);
    uno::Reference<container::XContentEnumerationAccess> anchored(paragraph, uno::UNO_QUERY);
    uno::Reference<container::XEnumerationAccess> portions(paragraph, uno::UNO_QUERY);
    if (!properties.is() || !anchored.is() || !portions.is() || !paragraph->getString().isEmpty())
        return false;
    style::BreakType kind = style::BreakType_NONE;
    properties->getPropertyValue("BreakType") >>= kind;
    if (kind != style::BreakType_NONE || StartsPage(properties)) return false;
    if (properties->getPropertySetInfo()->hasPropertyByName("ListLabelString")) {
        OUString label;
        properties->getPropertyValue("ListLabelString") >>= label;
        if (!label.isEmpty()) return false;  // a number or bullet shows
    }
    if (anchored->createContentEnumeration("com.sun.star.text.TextContent")->hasMoreElements())
        return false;
    auto each = portions->createEnumeration();
    while (each->hasMoreElements()) {
        uno::Reference<beans::XPropertySet> portion(each->nextElement(), uno::UNO_QUERY);
        OUString type;
        if (portion.is()) portion->getPropertyValue("TextPortionType") >>= type;
        // Bookmarks and the marks of where the office broke pages hold nothing to show.
        if (type != "Text" && type != "Bookmark" && type != "SoftPageBreak") return false;
    }
    return true;
}

// The paragraphs and tables of a text document's body, in order; empty for any other document.
uno::Reference<container::XEnumeration> BodyElements(
    const uno::Reference<lang::XComponent>& document) {
    uno::Reference<text::XTextDocument> textDocument(document, uno::UNO_QUERY);
    if (!textDocument.is()) return {};
    uno::Reference<container::XEnumerationAccess> body(textDocument->getText(), uno::UNO_QUERY);
    return body.is() ? body->createEnumeration() : uno::Reference<container::XEnumeration>();
}

// Word lays no page out for the empty paragraph that ends a section: at the foot of a full page
// it stays there, past the bottom margin, where the office would move it onto a page of its own
// and make an empty page. So an empty paragraph that the next paragraph or table follows with a
// new page takes no height (no spacing, a line of a hundredth of a millimetre): it keeps its
// place and its content, and where it fitted nothing moves. The script worker does the same
// (collapse_spilled_breaks).
int CollapseSpilledBreaks(const uno::Reference<lang::XComponent>& document) {
    auto elements = BodyElements(document);
    if (!elements.is()) return 0;
    int collapsed = 0;
    uno::Reference<text::XTextRange> previous;
    while (elements->hasMoreElements()) {
        uno::Reference<beans::XPropertySet> element(elements->nextElement(), uno::UNO_QUERY);
        if (!element.is()) {
            previous.clear();
            continue;
        }
        if (previous.is() && StartsPage(element) && IsEmptyParagraph(previous)) {
            style::LineSpacing spacing;
            spacing.Mode = style::LineSpacingMode::FIX;
            spacing.Height = 1;
            uno::Reference<beans::XPropertySet> paragraph(previous, uno::UNO_QUERY_THROW);
            paragraph->setPropertyValue("ParaTopMargin", uno::Any(sal_Int32(0)));
            paragraph->setPropertyValue("ParaBottomMargin", uno::Any(sal_Int32(0)));
            paragraph->setPropertyValue("ParaLineSpacing", uno::Any(spacing));
            ++collapsed;
        }
        uno::Reference<lang::XServiceInfo> info(element, uno::UNO_QUERY);
        previous.clear();
        if (info.is() && info->supportsService("com.sun.star.text.Paragraph"))
            previous.set(element, uno::UNO_QUERY);
    }
    return collapsed;
}

// Word gives an empty paragraph the height of its mark, and the mark of a right-to-left
// paragraph is set in the complex-script face and size; the office sizes an empty paragraph by
// its Western face whatever its direction, so a run of empty lines in a Persian or Hebrew
// document came out shorter than Word's and later pages started early. An empty right-to-left
// paragraph takes the complex-script face and size as its Western ones too: it shows nothing, so
// only its height changes. The script worker does the same (size_right_to_left_marks).
int SizeRightToLeftMarks(const uno::Reference<lang::XComponent>& document) {
    auto elements = BodyElements(document);
    if (!elements.is()) return 0;
    int sized = 0;
    while (elements->hasMoreElements()) {
        uno::Reference<lang::XServiceInfo> info(elements->nextElement(), uno::UNO_QUERY);
        if (!info.is() || !info->supportsService("com.sun.star.text.Paragraph")) continue;
        uno::Reference<beans::XPropertySet> paragraph(info, uno::UNO_QUERY);
        uno::Reference<text::XTextRange> range(info, uno::UNO_QUERY);
        sal_Int16 direction = text::WritingMode2::LR_TB;
        if (!paragraph.is() || !range.is() ||
            !(paragraph->getPropertyValue("WritingMode") >>= direction) ||
            direction != text::WritingMode2::RL_TB || !IsEmptyParagraph(range))
            continue;
        paragraph->setPropertyValue("CharFontName",
                                    paragraph->getPropertyValue("CharFontNameComplex"));
        paragraph->setPropertyValue("CharHeight", paragraph->getPropertyValue("CharHeightComplex"));
        ++sized;
    }
    return sized;
}

// Whether a page style the document uses gives left and right pages different headers or
// footers (Word's different odd and even pages). The script worker asks the same
// (left_and_right_pages_differ).
bool LeftAndRightPagesDiffer(const uno::Reference<lang::XComponent>& document) {
    uno::Reference<style::XStyleFamiliesSupplier> supplier(document, uno::UNO_QUERY);
    if (!supplier.is()) return false;
    uno::Reference<container::XNameAccess> styles(
        supplier->getStyleFamilies()->getByName("PageStyles"), uno::UNO_QUERY);
    if (!styles.is()) return false;
    for (const OUString& name : styles->getElementNames()) {
        uno::Reference<style::XStyle> style(styles->getByName(name), uno::UNO_QUERY);
        uno::Reference<beans::XPropertySet> properties(style, uno::UNO_QUERY);
        if (!style.is() || !properties.is() || !style->isInUse()) continue;
        for (const char* part : {"Header", "Footer"}) {
            bool on = false, shared = true;
            properties->getPropertyValue(OUString::createFromAscii(part) + "IsOn") >>= on;
            properties->getPropertyValue(OUString::createFromAscii(part) + "IsShared") >>= shared;
            if (on && !shared) return true;
        }
    }
    return false;
}

// A table of contents keeps its title with its first entry when the title keeps with the next
// paragraph, as Word's do. The office imports the title into a section of its own inside the
// index's, and keeps no paragraph with the next across a section's end: at the foot of a page
// the title stayed behind, alone, and its entries began the next page. Such a title's section
// goes; the title stays in the index, only the boundary is gone. Answers how many.
int KeepIndexTitlesWithEntries(const uno::Reference<lang::XComponent>& document) {
    uno::Reference<text::XDocumentIndexesSupplier> supplier(document, uno::UNO_QUERY);
    uno::Reference<text::XTextDocument> textDocument(document, uno::UNO_QUERY);
    if (!supplier.is() || !textDocument.is()) return 0;
    uno::Reference<container::XIndexAccess> indexes = supplier->getDocumentIndexes();
    int joined = 0;
    for (sal_Int32 i = 0; i < indexes->getCount(); ++i) {
        uno::Reference<beans::XPropertySet> index(indexes->getByIndex(i), uno::UNO_QUERY);
        if (!index.is() || !index->getPropertySetInfo()->hasPropertyByName("HeaderSection"))
            continue;
        uno::Reference<text::XTextSection> title(index->getPropertyValue("HeaderSection"),
                                                 uno::UNO_QUERY);
        if (!title.is()) continue;
        uno::Reference<beans::XPropertySet> last(title->getAnchor()->getEnd(), uno::UNO_QUERY);
        bool keepsWithNext = false;
        if (!last.is() || !(last->getPropertyValue("ParaKeepTogether") >>= keepsWithNext) ||
            !keepsWithNext)
            continue;
        textDocument->getText()->removeTextContent(
            uno::Reference<text::XTextContent>(title, uno::UNO_QUERY_THROW));
        ++joined;
    }
    return joined;
}

}  // namespace

struct OfficeDocuments::State {
    uno::Reference<uno::XComponentContext> context;
    uno::Reference<frame::XDesktop2> desktop;
    uno::Reference<lang::XComponent> document;
    // Whether the PDF of the document held keeps the blank pages the office lays out: see
    // LayOutAsWord.
    bool keepsBlankPages = false;
    int linksAllowed = -1;  // the office's setting as last made: -1 unknown, 0 blocked, 1 allowed
};

OfficeDocuments::OfficeDocuments() : state_(std::make_unique<State>()) {}
OfficeDocuments::~OfficeDocuments() = default;

bool OfficeDocuments::Attach(std::string& error) {
    // The office's process-wide context, from its own library (already loaded by the kit).
    auto getter = reinterpret_cast<ContextGetter>(
        dlsym(RTLD_DEFAULT, "_ZN10comphelper26getProcessComponentContextEv"));
    if (!getter) {
        void* lib = dlopen("libmergedlo.so", RTLD_LAZY | RTLD_NOLOAD);
        if (!lib) lib = dlopen(VELLUMOR_OFFICE_PROGRAM "/libmergedlo.so", RTLD_LAZY | RTLD_NOLOAD);
        if (lib)
            getter = reinterpret_cast<ContextGetter>(
                dlsym(lib, "_ZN10comphelper26getProcessComponentContextEv"));
    }
    if (!getter) {
        error = "the office's component context is not reachable";
        return false;
    }
    // The kit started the office; from here on it runs as a headless office, the way a
    // command-line conversion does: no dialogs, and none of the kit's per-view bookkeeping,
    // which slows long documents down and changes the layout of a few.
    if (auto headless = reinterpret_cast<void (*)(bool)>(
            dlsym(RTLD_DEFAULT, "_ZN11Application18EnableHeadlessModeEb")))
        headless(true);
    if (auto kitActive = reinterpret_cast<void (*)(bool)>(
            dlsym(RTLD_DEFAULT, "_ZN10comphelper14LibreOfficeKit9setActiveEb")))
        kitActive(false);
    try {
        alignas(uno::Reference<uno::XComponentContext>) unsigned char
            slot[sizeof(uno::Reference<uno::XComponentContext>)] = {};
        void* got = getter(slot);
        auto* context = static_cast<uno::Reference<uno::XComponentContext>*>(got);
        state_->context = *context;
        if (got == slot) context->~Reference();  // the reference handed to us
        if (!state_->context.is()) {
            error = "the office has no component context";
            return false;
        }
        state_->desktop = frame::Desktop::create(state_->context);
        return true;
    } catch (const uno::Exception& e) {
        error = ToUtf8(e.Message);
        return false;
    }
}

bool OfficeDocuments::Load(const std::string& url, std::string& error, bool& wantsPassword,
                           const std::string& filter, const std::string& filterOptions) {
    Close();
    wantsPassword = false;
    rtl::Reference<CancellingHandler> handler(new CancellingHandler);
    try {
        uno::Sequence<beans::PropertyValue> args(6);
        args[0] = Prop("Hidden", uno::Any(true));
        args[1] = Prop("ReadOnly", uno::Any(true));
        args[2] = Prop("Silent", uno::Any(true));
        args[3] = Prop("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE));
        args[4] = Prop("UpdateDocMode", uno::Any(document::UpdateDocMode::NO_UPDATE));
        if (!filter.empty()) {
            args.realloc(filterOptions.empty() ? 7 : 8);
            args[6] = Prop("FilterName", uno::Any(FromUtf8(filter)));
            if (!filterOptions.empty())
                args[7] = Prop("FilterOptions", uno::Any(FromUtf8(filterOptions)));
        }
        args[5] = Prop("InteractionHandler",
                       uno::Any(uno::Reference<task::XInteractionHandler>(handler.get())));
        auto component =
            state_->desktop->loadComponentFromURL(FromUtf8(url), OUString("_blank"), 0, args);
        wantsPassword = handler->passwordRequested;
        if (!component.is()) {
            error = "the office returned no document";
            return false;
        }
        state_->document = component;
        return true;
    } catch (const uno::Exception& e) {
        wantsPassword = handler->passwordRequested;
        error = ToUtf8(e.Message);
        if (error.empty()) error = "the office reported an error without a message";
        return false;
    }
}

OfficeDocuments::Product OfficeDocuments::Describe() const {
    Product product;
    try {
        auto provider = configuration::theDefaultProvider::get(state_->context);
        uno::Sequence<uno::Any> path(1);
        path[0] = uno::Any(Prop("nodepath", uno::Any(OUString("/org.openoffice.Setup/Product"))));
        uno::Reference<container::XNameAccess> node(
            provider->createInstanceWithArguments(
                OUString("com.sun.star.configuration.ConfigurationAccess"), path),
            uno::UNO_QUERY_THROW);
        OUString name, version;
        node->getByName(OUString("ooName")) >>= name;
        node->getByName(OUString("ooSetupVersionAboutBox")) >>= version;
        product.name = ToUtf8(name);
        product.version = ToUtf8(version);
    } catch (const uno::Exception&) {
    }
    if (product.name.empty()) product.name = "LibreOffice";
    return product;
}

bool OfficeDocuments::AllowLocalLinks(bool allow, std::string& error) {
    if (state_->linksAllowed == (allow ? 1 : 0)) return true;
    try {
        auto provider = configuration::theDefaultProvider::get(state_->context);
        uno::Sequence<uno::Any> path(1);
        path[0] = uno::Any(Prop(
            "nodepath", uno::Any(OUString("/org.openoffice.Office.Common/Security/Scripting"))));
        uno::Reference<container::XNameReplace> node(
            provider->createInstanceWithArguments(
                OUString("com.sun.star.configuration.ConfigurationUpdateAccess"), path),
            uno::UNO_QUERY_THROW);
        node->replaceByName(OUString("BlockUntrustedRefererLinks"), uno::Any(!allow));
        uno::Reference<util::XChangesBatch>(node, uno::UNO_QUERY_THROW)->commitChanges();
        state_->linksAllowed = allow ? 1 : 0;
        return true;
    } catch (const uno::Exception& e) {
        error = ToUtf8(e.Message);
        return false;
    }
}

bool OfficeDocuments::Holds() const {
    return state_->document.is();
}

bool OfficeDocuments::IsText() const {
    uno::Reference<lang::XServiceInfo> info(state_->document, uno::UNO_QUERY);
    // Word's HTML loads as a Writer/Web document: a text document too, and it prints the same.
    // Spreadsheets, drawings and presentations support none of these.
    return info.is() && (info->supportsService(OUString("com.sun.star.text.TextDocument")) ||
                         info->supportsService(OUString("com.sun.star.text.GenericTextDocument")) ||
                         info->supportsService(OUString("com.sun.star.text.WebDocument")));
}

std::string OfficeDocuments::LoadedFilter() const {
    try {
        uno::Reference<frame::XModel> model(state_->document, uno::UNO_QUERY);
        if (!model.is()) return {};
        const auto args = model->getArgs();
        for (const auto& property : args) {
            OUString name;
            if (property.Name == "FilterName" && (property.Value >>= name)) return ToUtf8(name);
        }
    } catch (const uno::Exception&) {
    }
    return {};
}

bool OfficeDocuments::DetectedFilter(const std::string& url, std::string& filter) const {
    filter.clear();
    try {
        uno::Reference<document::XTypeDetection> detection(
            state_->context->getServiceManager()->createInstanceWithContext(
                OUString("com.sun.star.document.TypeDetection"), state_->context),
            uno::UNO_QUERY_THROW);
        uno::Sequence<beans::PropertyValue> descriptor(1);
        descriptor[0] = Prop("URL", uno::Any(FromUtf8(url)));
        detection->queryTypeByDescriptor(descriptor, true);
        for (const auto& property : std::as_const(descriptor)) {
            OUString name;
            if (property.Name == "FilterName" && (property.Value >>= name)) {
                filter = ToUtf8(name);
                break;
            }
        }
        return true;
    } catch (const uno::Exception&) {
        return false;
    }
}

void OfficeDocuments::LayOutAsWord(int punctuationCompression) {
    state_->keepsBlankPages = false;
    try {
        // East Asian punctuation is set as the document asks Word to set it: Word narrows the
        // blank half of full-width commas and stops, so its lines hold more than the office's,
        // whose import leaves them uncompressed.
        uno::Reference<lang::XMultiServiceFactory> factory(state_->document, uno::UNO_QUERY);
        if (punctuationCompression >= 0 && factory.is()) {
            uno::Reference<beans::XPropertySet> settings(
                factory->createInstance("com.sun.star.text.DocumentSettings"), uno::UNO_QUERY);
            if (settings.is())
                settings->setPropertyValue(
                    "CharacterCompressionType",
                    uno::Any(static_cast<sal_Int16>(punctuationCompression)));
        }
    } catch (const uno::Exception&) {
        // Laid out with the office's punctuation.
    }
    try {
        CollapseSpilledBreaks(state_->document);
        SizeRightToLeftMarks(state_->document);
        // Word keeps odd page numbers on right-hand pages when left and right pages differ: a
        // section whose first number has the parity of the page before gets a blank page in
        // front of it. The office lays that blank page out too but leaves it out of its PDF;
        // where left and right pages are alike, Word makes no such page while the office still
        // lays one out, so there the PDF goes on leaving them out.
        state_->keepsBlankPages = LeftAndRightPagesDiffer(state_->document);
        KeepIndexTitlesWithEntries(state_->document);
    } catch (const uno::Exception&) {
        // Saved as the office laid it out.
    }
}

int OfficeDocuments::LayOutAllPages() {
    try {
        uno::Reference<frame::XModel> model(state_->document, uno::UNO_QUERY_THROW);
        uno::Reference<text::XTextViewCursorSupplier> view(model->getCurrentController(),
                                                           uno::UNO_QUERY_THROW);
        // Going to the last page makes the office format every page before it.
        uno::Reference<text::XPageCursor> cursor(view->getViewCursor(), uno::UNO_QUERY_THROW);
        cursor->jumpToLastPage();
        const int pages = cursor->getPage();
        cursor->jumpToFirstPage();
        return pages;
    } catch (const uno::Exception&) {
        return -1;
    }
}

namespace {

// The export's bytes go straight into a file of ours: given a URL, the office writes a
// temporary file beside it, locks the target with a lock file of its own and copies the
// temporary file over, all for a file that is renamed into place afterwards anyway.
class FileOutput : public cppu::WeakImplHelper1<io::XOutputStream> {
  public:
    explicit FileOutput(int fd) : fd_(fd) {}
    ~FileOutput() override { closeOutput(); }
    void SAL_CALL writeBytes(const uno::Sequence<sal_Int8>& data) override {
        const char* bytes = reinterpret_cast<const char*>(data.getConstArray());
        std::size_t left = static_cast<std::size_t>(data.getLength());
        while (left > 0) {
            const ssize_t n = fd_ >= 0 ? ::write(fd_, bytes, left) : -1;
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error_ = n < 0 ? errno : EIO;
                throw io::IOException(OUString("the PDF could not be written"));
            }
            bytes += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    void SAL_CALL flush() override {}
    void SAL_CALL closeOutput() override {
        if (fd_ >= 0 && ::close(fd_) != 0 && !error_) error_ = errno;
        fd_ = -1;
    }
    int Error() const { return error_; }

  private:
    int fd_;
    int error_ = 0;
};

}  // namespace

bool OfficeDocuments::StorePdf(const std::string& path, bool pdfa, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = std::string("cannot create ") + path + ": " + std::strerror(errno);
        return false;
    }
    rtl::Reference<FileOutput> output(new FileOutput(fd));
    try {
        uno::Reference<frame::XStorable> storable(state_->document, uno::UNO_QUERY_THROW);
        uno::Sequence<beans::PropertyValue> args(2);
        args[0] = Prop("FilterName", uno::Any(OUString("writer_pdf_Export")));
        args[1] = Prop("OutputStream", uno::Any(uno::Reference<io::XOutputStream>(output.get())));
        std::vector<beans::PropertyValue> options;
        // Only PDF/A names a version: the office's own default suits every other PDF, and
        // naming one makes newer offices fail on some documents.
        if (pdfa) options.push_back(Prop("SelectPdfVersion", uno::Any(sal_Int32(2))));
        if (state_->keepsBlankPages) options.push_back(Prop("IsSkipEmptyPages", uno::Any(false)));
        if (!options.empty()) {
            args.realloc(3);
            args[2] = Prop("FilterData", uno::Any(uno::Sequence<beans::PropertyValue>(
                                             options.data(), sal_Int32(options.size()))));
        }
        storable->storeToURL(OUString("private:stream"), args);
        output->closeOutput();
        if (output->Error()) {
            error = std::string("writing the PDF failed: ") + std::strerror(output->Error());
            return false;
        }
        return true;
    } catch (const uno::Exception& e) {
        output->closeOutput();
        // The office's message names its internals; the caller explains the failure itself.
        error = ToUtf8(e.Message);
        return false;
    }
}

void OfficeDocuments::Close() {
    auto document = std::move(state_->document);
    state_->document.clear();
    state_->keepsBlankPages = false;
    if (!document.is()) return;
    try {
        uno::Reference<util::XCloseable> closeable(document, uno::UNO_QUERY);
        if (closeable.is())
            closeable->close(true);
        else
            document->dispose();
    } catch (const uno::Exception&) {
    }
}

}  // namespace vellumor::engine
