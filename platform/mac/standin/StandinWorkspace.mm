// The workspace on Linux: NSRunningApplication, NSWorkspace and NSFileManager's trashing routed into
// a Workspace port (the freedesktop.org workspace of platform/posix, or a test's own). Finding the
// Trash folder is GNUstep's own NSFileManager.

#import <AppKit/AppKit.h>

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "foundation/FileError.h"
#include "mac/standin/MacStandin.h"
#include "mac/standin/StandinObjC.h"
#include "mac/standin/StandinRoutes.h"
#include "ports/Workspace.h"

@implementation NSRunningApplication

+ (NSArray*)runningApplicationsWithBundleIdentifier:(NSString*)bundleIdentifier {
    NSMutableArray* result = [NSMutableArray array];
    tessaly::Workspace* workspace = tessaly::MacStandin::routedWorkspace();
    if (workspace == nullptr) return result;
    for (const auto& running : workspace->runningApplications(tessaly::utf8(bundleIdentifier))) {
        NSRunningApplication* application = [[NSRunningApplication alloc] init];
        application->_processIdentifier = running.processIdentifier;
        if (running.bundleIdentifier) {
            application->_bundleIdentifier =
                [[NSString alloc] initWithUTF8String:running.bundleIdentifier->c_str()];
        }
        [result addObject:application];
        [application release];
    }
    return result;
}

- (void)dealloc {
    [_bundleIdentifier release];
    [super dealloc];
}

- (pid_t)processIdentifier {
    return _processIdentifier;
}

- (NSString*)bundleIdentifier {
    return _bundleIdentifier;
}

@end

@implementation NSWorkspace

+ (NSWorkspace*)sharedWorkspace {
    static NSWorkspace* shared = [[NSWorkspace alloc] init];
    return shared;
}

- (BOOL)openURL:(NSURL*)url {
    tessaly::Workspace* workspace = tessaly::MacStandin::routedWorkspace();
    return workspace != nullptr && workspace->openURL(tessaly::utf8([url absoluteString]));
}

- (BOOL)selectFile:(NSString*)fullPath inFileViewerRootedAtPath:(NSString*)rootFullPath {
    tessaly::Workspace* workspace = tessaly::MacStandin::routedWorkspace();
    return fullPath == nil && workspace != nullptr && workspace->revealFolder(tessaly::utf8(rootFullPath));
}

@end

namespace {

struct CocoaFailure {
    long code;
    std::string description;
};
std::optional<CocoaFailure> nextTrashFailure;

}  // namespace

void tessaly::MacStandin::failNextTrashing(long code, const std::string& description) {
    nextTrashFailure = CocoaFailure{code, description};
}

@implementation NSFileManager (StandinTrash)

- (BOOL)trashItemAtURL:(NSURL*)url resultingItemURL:(NSURL**)outResultingURL error:(NSError**)error {
    if (outResultingURL != nullptr) *outResultingURL = nil;
    if (auto failure = std::exchange(nextTrashFailure, std::nullopt)) {
        NSDictionary* info =
            [NSDictionary dictionaryWithObject:tessaly::foundationString(failure->description)
                                        forKey:NSLocalizedDescriptionKey];
        if (error != nullptr)
            *error = [NSError errorWithDomain:NSCocoaErrorDomain code:failure->code userInfo:info];
        return NO;
    }
    tessaly::Workspace* workspace = tessaly::MacStandin::routedWorkspace();
    try {
        if (workspace == nullptr) throw tessaly::FileError("Moving to the Trash", "", ENOTSUP);
        workspace->trashItem(tessaly::utf8([url path]));
        return YES;
    } catch (const tessaly::FileError& failure) {
        if (error != nullptr)
            *error = tessaly::MacStandin::foundationError(failure.what(), failure.errorNumber());
        return NO;
    } catch (const std::exception& failure) {
        if (error != nullptr) *error = tessaly::MacStandin::foundationError(failure.what());
        return NO;
    }
}

@end
