#include "posix/KeepAlive.h"

#include <sys/wait.h>

namespace tessaly {

KeepAlive keepAliveOf(const CFValue* value) {
    if (value == nullptr) return KeepAlive::never;
    if (const bool* flag = value->boolean()) return *flag ? KeepAlive::always : KeepAlive::never;
    const CFDictionary* conditions = value->dictionary();
    if (conditions == nullptr) return KeepAlive::never;
    const auto successfulExit = conditions->find("SuccessfulExit");
    if (successfulExit == conditions->end() || successfulExit->second.boolean() == nullptr) {
        return KeepAlive::always;
    }
    return *successfulExit->second.boolean() ? KeepAlive::afterSuccessfulExit
                                             : KeepAlive::afterUnsuccessfulEnd;
}

bool restartsAfter(KeepAlive keepAlive, int waitStatus) {
    const bool successful = WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
    switch (keepAlive) {
        case KeepAlive::never:
            return false;
        case KeepAlive::always:
            return true;
        case KeepAlive::afterUnsuccessfulEnd:
            return !successful;
        case KeepAlive::afterSuccessfulExit:
            return successful;
    }
    return false;
}

}  // namespace tessaly
