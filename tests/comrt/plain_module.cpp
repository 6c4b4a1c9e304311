// A loadable library that is not a component library: it has none of the
// exports the runtime and regsvr look for.
extern "C" __attribute__((visibility("default"))) int PlainModuleAnswer() {
  return 42;
}
