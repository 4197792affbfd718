// One row of a run as the list names it: the source, its load format and the PDF the run saves
// it to. The run builds every row's plan with PlanOfRow, for its own Save and for an engine that
// converts rows ahead, so both always name the same PDF.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/paths.h"

namespace vellumor {

struct PlannedConversion {
    std::string source;
    int format = 0;  // 0: no Word document
    std::string pdfPath;
};

// The plan of a row by its position; empty when the position names no row or no document.
using ConversionPlan = std::function<std::optional<PlannedConversion>(int row)>;

inline PlannedConversion PlanOfRow(const std::string& source, const std::string& outputFolder,
                                   OutputMode mode) {
    PlannedConversion plan;
    plan.source = source;
    plan.format = LoadFormatFor(ExtensionOf(source));
    plan.pdfPath = PdfPathFor(OutputPathFor(source, outputFolder, mode));
    return plan;
}

}  // namespace vellumor
