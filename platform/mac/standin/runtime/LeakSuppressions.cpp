// Compiled into every program that links the stand-ins (an interface source of TessalyMac).
//
// GNU's Objective-C runtime allocates its class tables when GNUstep loads, and the objects GNUstep's
// classes make for themselves when the runtime first initializes them, and keeps both for the life
// of the process where LeakSanitizer does not see them. Such allocations have the runtime itself
// (libobjc) on their stack; objects made by our code, which calls GNUstep directly, do not, and stay
// checked (the stand-in also counts its own Objective-C objects). GNUstep's libraries keep no frame
// pointers, so the stacks are taken with the slow unwinder, or they would end inside GNUstep.

extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __asan_default_options();

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libobjc.so\n";
}

extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
