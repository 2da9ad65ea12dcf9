// A loadable library that lacks the language plug-in's entry.
extern "C" __attribute__((visibility("default"))) int Another_Entry() {
    return 0;
}
