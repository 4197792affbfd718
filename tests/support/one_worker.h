// The window's engine before it converted ahead: a DocumentEngine over one ConversionEngine of
// the test's own, loading and saving in the run's order.
#pragma once

#include <string>
#include <utility>

#include "engine/document_engine.h"

namespace vellumor::test {

template <class Worker>
class OneWorker : public DocumentEngine {
  public:
    template <class... Args>
    explicit OneWorker(Args&&... args) : worker_(std::forward<Args>(args)...) {}
    int Load(const std::string& path, int, int format, bool) override {
        worker_.LoadDocument(path, static_cast<SourceFormat>(format));
        return 0;
    }
    int Save(const std::string& path, int, int, bool) override {
        worker_.SavePdf(path);
        return 0;
    }

  private:
    Worker worker_;
};

}  // namespace vellumor::test
