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

}  // namespace vellumor
