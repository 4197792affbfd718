// The office's document operations over UNO, inside this process: the office itself was started
// by LibreOfficeKit in its main-loop mode, and these calls run on its main thread. Loading goes
// through the desktop with Hidden, ReadOnly and Silent, macros off and no interaction, the way a
// headless conversion loads; LibreOfficeKit's own load gives up on some real documents.
#pragma once

#include <memory>
#include <string>

namespace vellumor::engine {

class OfficeDocuments {
  public:
    OfficeDocuments();
    ~OfficeDocuments();
    OfficeDocuments(const OfficeDocuments&) = delete;
    OfficeDocuments& operator=(const OfficeDocuments&) = delete;

    // Finds the running office's component context. False (with a reason) when it cannot.
    bool Attach(std::string& error);

    struct Product {
        std::string name;     // "LibreOffice"
        std::string version;  // "25.2.3.2"; empty when the office does not say
    };
    // The running office's name and version, from its configuration.
    Product Describe() const;

    // Loads url, replacing the document held. False with the office's reason; wantsPassword
    // tells that the office asked for a password (nothing is ever typed in: the request is
    // cancelled, so the load fails).
    // filter: the import filter to read it with (its FilterName, with its FilterOptions), or
    // empty for the one the office's detection picks.
    bool Load(const std::string& url, std::string& error, bool& wantsPassword,
              const std::string& filter = {}, const std::string& filterOptions = {});
    // Whether the next loads may read the local files their documents link to (the office's
    // untrusted-referer block is lifted). False (with a reason) when the setting cannot change.
    bool AllowLocalLinks(bool allow, std::string& error);
    bool Holds() const;
    // True when the document held is a text document (not a spreadsheet or drawing).
    bool IsText() const;
    // The import filter the office's own type detection picks for url (its FilterName; "" when
    // it recognises nothing): detection only, quick even where the import would be slow. False
    // when the detection itself failed.
    bool DetectedFilter(const std::string& url, std::string& filter) const;
    // The import filter the document held was read with; "" when the office does not say.
    std::string LoadedFilter() const;
    // Brings the layout of the text document held closer to Word's before it is saved (see
    // vellumor_engine.py, which does the same). What cannot be adjusted stays as the office
    // laid it out; nothing of the user's file changes, only the copy in memory.
    // punctuationCompression: how the document asks Word to set East Asian punctuation (as
    // RecordedPunctuationCompression of core/word_pages.h answers it; -1 leaves the office's).
    void LayOutAsWord(int punctuationCompression);
    // Lays out every page of the document held now rather than during the export, and answers
    // how many there are (-1 when the office cannot tell): for measuring the layout apart from
    // the export (VELLUMOR_ENGINE_TIMES), never in a plain conversion.
    int LayOutAllPages();
    // Writes the document held as PDF (PDF/A-2b when pdfa) into the file at path, created or
    // emptied. False with the office's message, which is for diagnosis only: it names the
    // office's internals.
    bool StorePdf(const std::string& path, bool pdfa, std::string& error);
    void Close();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vellumor::engine
