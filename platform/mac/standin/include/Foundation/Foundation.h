#pragma once
#pragma GCC system_header
// GNUstep's Foundation, plus the one call the Mac adapters use that GNUstep does not have (Apple's
// name and signature); the stand-in workspace implements it. A system header, as GNUstep's is, so
// that reaching GNUstep's header with #include_next is no pedantic warning. Apple's Foundation.h
// includes CoreFoundation, and so does this one (which also brings the nullability fallbacks GCC
// needs).

#include_next <Foundation/Foundation.h>

#include <CoreFoundation/CoreFoundation.h>

NS_ASSUME_NONNULL_BEGIN

@interface NSFileManager (StandinTrash)
- (BOOL)trashItemAtURL:(NSURL*)url
      resultingItemURL:(NSURL* _Nullable* _Nullable)outResultingURL
                 error:(NSError**)error API_AVAILABLE(macos(10.8));
@end

NS_ASSUME_NONNULL_END
