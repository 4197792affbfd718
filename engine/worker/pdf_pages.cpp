#include "engine/worker/pdf_pages.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vellumor::engine {

int PdfPageCount(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string pdf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int best = 0;
    for (std::size_t at = pdf.find("/Type/Pages"); at != std::string::npos;
         at = pdf.find("/Type/Pages", at + 1)) {
        std::size_t begin = pdf.rfind("<<", at);
        std::size_t end = pdf.find(">>", at);
        if (begin == std::string::npos || end == std::string::npos) continue;
        std::size_t count = pdf.find("/Count", begin);
        if (count == std::string::npos || count > end) continue;
        best = std::max(best, std::atoi(pdf.c_str() + count + 6));
    }
    return best;
}

}  // namespace vellumor::engine
