#pragma once
// Stand-in for <MacTypes.h> on Linux: the basic integer types the Mac adapters use, with Apple's
// names and widths (CFBase.h includes this header on a Mac, and so does the stand-in CFBase.h).

typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef SInt32 OSStatus;
