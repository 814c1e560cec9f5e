#include "log/log_capture.h"

#include "log/log_file.h"

namespace orvanta {
namespace {

// The innermost capture of each thread.
thread_local LogErrorCapture* tCapture = nullptr;

}  // namespace

LogErrorCapture::LogErrorCapture() : outer_(tCapture) { tCapture = this; }

LogErrorCapture::~LogErrorCapture() { tCapture = outer_; }

void LogErrorCapture::Note(int level, const std::string& text) {
  if (tCapture != nullptr && level <= kLogError) tCapture->errors_.push_back(text);
}

}  // namespace orvanta
