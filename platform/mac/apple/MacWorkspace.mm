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

// The POSIX error under a Foundation error, for FileError's reason.
int errorNumberOf(NSError* error) {
    if (error == nil) return EIO;
    NSError* underlying = [[error userInfo] objectForKey:NSUnderlyingErrorKey];
    if (underlying != nil && [[underlying domain] isEqualToString:NSPOSIXErrorDomain]) {
        return static_cast<int>([underlying code]);
    }
    if ([[error domain] isEqualToString:NSPOSIXErrorDomain]) return static_cast<int>([error code]);
    if ([[error domain] isEqualToString:NSCocoaErrorDomain] &&
        ([error code] == NSFileNoSuchFileError || [error code] == NSFileReadNoSuchFileError)) {
        return ENOENT;
    }
    return EIO;
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
    if (![[NSFileManager defaultManager] trashItemAtURL:item resultingItemURL:nullptr error:&error]) {
        throw FileError("Moving to the Trash", path, errorNumberOf(error));
    }
}

}  // namespace tessaly
