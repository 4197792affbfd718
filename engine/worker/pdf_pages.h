// The page count of a PDF the worker wrote, read from the file itself (the script worker reads
// it the same way: pdf_page_count in engine/script/vellumor_engine.py).
#pragma once

#include <string>

namespace vellumor::engine {

// The largest /Count of the PDF's page-tree nodes (the root's); 0 when unreadable or none.
int PdfPageCount(const std::string& path);

}  // namespace vellumor::engine
