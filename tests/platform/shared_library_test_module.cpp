// A tiny library that the shared-library test loads.
extern "C" __attribute__((visibility("default"))) int vyn_test_module_answer() {
  return 42;
}
