#pragma once
#pragma GCC system_header
// GNUstep's Foundation, plus the one call the Mac adapters use that GNUstep does not have (Apple's
// name and signature); the stand-in workspace implements it. A system header, as GNUstep's is, so
// that reaching GNUstep's header with #include_next is no pedantic warning.

#include_next <Foundation/Foundation.h>

@interface NSFileManager (StandinTrash)
- (BOOL)trashItemAtURL:(NSURL*)url resultingItemURL:(NSURL**)outResultingURL error:(NSError**)error;
@end
