// NSWorkspace and friends.

#include "mac/MacWorkspace.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include <cerrno>

#include "foundation/FileError.h"
#include "foundation/TessalyError.h"
#include "mac/apple/AutoreleasePool.h"
#include "mac/apple/FoundationText.h"

namespace tessaly {

namespace {

NSURL* fileURL(const std::string& path) {
    NSString* text = foundationString(path);
    return text == nil ? nil : [NSURL fileURLWithPath:text];
}

}  // namespace

std::vector<RunningApplication> MacWorkspace::runningApplications(const std::string& bundleIdentifier) const {
    AutoreleasePool pool;
    std::vector<RunningApplication> result;
    NSString* identifier = foundationString(bundleIdentifier);
    if (identifier == nil) return result;
    NSArray* applications = [NSRunningApplication runningApplicationsWithBundleIdentifier:identifier];
    for (NSUInteger index = 0; index < applications.count; ++index) {
        NSRunningApplication* application = [applications objectAtIndex:index];
        RunningApplication running;
        running.processIdentifier = application.processIdentifier;
        if (application.bundleIdentifier != nil)
            running.bundleIdentifier = utf8(application.bundleIdentifier);
        result.push_back(running);
    }
    return result;
}

bool MacWorkspace::openURL(const std::string& url) {
    AutoreleasePool pool;
    NSString* text = foundationString(url);
    NSURL* address = text == nil ? nil : [NSURL URLWithString:text];
    return address != nil && [[NSWorkspace sharedWorkspace] openURL:address];
}

bool MacWorkspace::revealFolder(const std::string& path) {
    AutoreleasePool pool;
    NSString* folder = foundationString(path);
    return folder != nil && [[NSWorkspace sharedWorkspace] selectFile:nil inFileViewerRootedAtPath:folder];
}

std::string MacWorkspace::trashFolderFor(const std::string& path) {
    AutoreleasePool pool;
    NSError* error = nil;
    NSURL* trash = [[NSFileManager defaultManager] URLForDirectory:NSTrashDirectory
                                                          inDomain:NSUserDomainMask
                                                 appropriateForURL:fileURL(path)
                                                            create:YES
                                                             error:&error];
    if (trash == nil) {
        const std::string reason = error == nil ? std::string() : utf8([error localizedDescription]);
        throw TessalyError(reason.empty() ? "The Trash folder could not be found." : reason);
    }
    return utf8([trash path]);
}

void MacWorkspace::trashItem(const std::string& path) {
    AutoreleasePool pool;
    NSURL* item = fileURL(path);
    if (item == nil) throw FileError("Moving to the Trash", path, EINVAL);
    NSError* error = nil;
    // Foundation's error passes through as Foundation describes it.
    if (![[NSFileManager defaultManager] trashItemAtURL:item resultingItemURL:nullptr error:&error]) {
        const std::string reason = error == nil ? std::string() : utf8([error localizedDescription]);
        if (reason.empty()) throw FileError("Moving to the Trash", path, EIO);
        throw TessalyError(reason);
    }
}

}  // namespace tessaly
