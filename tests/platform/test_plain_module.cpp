// A module with neither a type library resource nor DllGetClassObject.
extern "C" __attribute__((visibility("default"))) int PlainModuleAnswer() {
  return 42;
}
