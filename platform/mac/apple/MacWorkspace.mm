// NSWorkspace and friends (Objective-C++ with ARC; compiled on a Mac only).

#include "mac/MacWorkspace.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include <cerrno>

#include "foundation/FileError.h"
#include "foundation/TessalyError.h"

namespace tessaly {

namespace {

NSString* string(const std::string& text) {
    return [NSString stringWithUTF8String:text.c_str()];
}

// The POSIX error under a Foundation error, for FileError's reason.
int errorNumberOf(NSError* error) {
    NSError* underlying = error.userInfo[NSUnderlyingErrorKey];
    if ([underlying.domain isEqualToString:NSPOSIXErrorDomain]) return static_cast<int>(underlying.code);
    if ([error.domain isEqualToString:NSPOSIXErrorDomain]) return static_cast<int>(error.code);
    if ([error.domain isEqualToString:NSCocoaErrorDomain] &&
        (error.code == NSFileNoSuchFileError || error.code == NSFileReadNoSuchFileError)) {
        return ENOENT;
    }
    return EIO;
}

}  // namespace

std::vector<RunningApplication> MacWorkspace::runningApplications(const std::string& bundleIdentifier) const {
    std::vector<RunningApplication> result;
    for (NSRunningApplication* application in
         [NSRunningApplication runningApplicationsWithBundleIdentifier:string(bundleIdentifier)]) {
        RunningApplication running;
        running.processIdentifier = application.processIdentifier;
        if (application.bundleIdentifier != nil) running.bundleIdentifier = application.bundleIdentifier.UTF8String;
        result.push_back(running);
    }
    return result;
}

bool MacWorkspace::openURL(const std::string& url) {
    NSURL* address = [NSURL URLWithString:string(url)];
    return address != nil && [[NSWorkspace sharedWorkspace] openURL:address];
}

bool MacWorkspace::revealFolder(const std::string& path) {
    return [[NSWorkspace sharedWorkspace] selectFile:nil inFileViewerRootedAtPath:string(path)];
}

std::string MacWorkspace::trashFolderFor(const std::string& path) {
    NSError* error = nil;
    NSURL* trash = [[NSFileManager defaultManager] URLForDirectory:NSTrashDirectory
                                                          inDomain:NSUserDomainMask
                                                 appropriateForURL:[NSURL fileURLWithPath:string(path)]
                                                            create:YES
                                                             error:&error];
    if (trash == nil) throw TessalyError(error.localizedDescription.UTF8String);
    return trash.path.UTF8String;
}

void MacWorkspace::trashItem(const std::string& path) {
    NSError* error = nil;
    if (![[NSFileManager defaultManager] trashItemAtURL:[NSURL fileURLWithPath:string(path)]
                                       resultingItemURL:nil
                                                  error:&error]) {
        throw FileError("Moving to the Trash", path, errorNumberOf(error));
    }
}

}  // namespace tessaly
