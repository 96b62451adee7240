// A library for the dynamic loader tests.
extern "C" __attribute__((visibility("default"))) int sample_answer() {
    return 42;
}
