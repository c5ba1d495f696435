#include "platform/debug_output_capture.h"

#include <windows.h>

#include <atomic>

namespace Kestrel::Platform {
namespace {

std::atomic<DebugOutputCapture*> g_capture{nullptr};

// Sees the debug-print exception before any debugger would; the system's own
// handler then completes OutputDebugStringA as usual.
LONG CALLBACK SeeDebugPrint(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  DebugOutputCapture* capture = g_capture.load();
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && capture != nullptr &&
      record->NumberParameters >= 2) {
    capture->Add(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool DebugOutputCapture::IsSupported() {
  return true;
}

DebugOutputCapture::DebugOutputCapture() {
  DebugOutputCapture* none = nullptr;
  if (g_capture.compare_exchange_strong(none, this)) {
    watcher_ = AddVectoredExceptionHandler(1, &SeeDebugPrint);
    if (watcher_ == nullptr) g_capture.store(nullptr);
  }
}

DebugOutputCapture::~DebugOutputCapture() {
  if (watcher_ == nullptr) return;
  RemoveVectoredExceptionHandler(watcher_);
  g_capture.store(nullptr);
}

}  // namespace Kestrel::Platform
