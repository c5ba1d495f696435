#include "platform/debug_output.h"

namespace Kestrel::Platform {
namespace {

DebugOutputObserver g_observer = nullptr;
void* g_observer_context = nullptr;

}  // namespace

void WriteDebugOutput(const char* text) {
  if (text == nullptr) return;
  Detail::WriteSystemDebugOutput(text);
  if (g_observer != nullptr) g_observer(text, g_observer_context);
}

DebugOutputObserver SetDebugOutputObserver(DebugOutputObserver observer, void* context) {
  DebugOutputObserver previous = g_observer;
  g_observer = observer;
  g_observer_context = context;
  return previous;
}

}  // namespace Kestrel::Platform
