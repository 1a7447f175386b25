// Linked into the libFuzzer programs only: modules stay loaded. The library
// loads and frees its converter plug-ins as it goes, and the fuzzer keeps
// the coverage counters of every instrumented module it saw load, so a freed
// plug-in would leave it writing to unmapped memory.
extern "C" int dlclose(void*) {
    return 0;
}
