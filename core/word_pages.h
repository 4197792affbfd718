// The page count Word recorded in a document it saved last: users can see where our layout may
// differ from Word's. Word often leaves this count stale (it is updated when Word lays the
// document out before saving), so it is a hint, never a check. Portable.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "core/byte_source.h"

namespace vellumor {

// Word's page count, or 0 when the document records none or another program saved it last:
// <Pages> of docProps/app.xml in a Word package whose <Application> is Word, the page count of
// the SummaryInformation of a Word binary whose application name is Word's.
int RecordedWordPages(const ByteSource& read, std::uint64_t size);
int RecordedWordPages(std::istream& in);

// How a Word package asks for East Asian punctuation to be set (w:characterSpacingControl of
// word/settings.xml), as the office's CharacterCompressionType counts it: 0 no compression, 1
// punctuation, 2 punctuation and kana; -1 when the document says nothing, is laid out in the
// mode of a Word before 2013 (compatibilityMode below 15, or none), or is no package.
int RecordedPunctuationCompression(std::istream& in);

}  // namespace vellumor
