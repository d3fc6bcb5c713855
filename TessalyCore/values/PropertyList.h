#pragma once
// Property lists, XML or binary, read into and written from CFValue through libplist.
//
// Reading maps dictionaries (text keys), arrays, texts, booleans and numbers (integers and reals,
// both as double) onto CFValue. Dates, data and UIDs have no CFValue counterpart; a property list
// holding one is refused with a DecodingError rather than passed on as a value of a wrong type
// (data holding "run" must never read as the text "run"). The XML reader is libplist's: it
// forgives a missing "</plist>", text after the root and malformed numbers, but refuses any
// element that is not closed, a value without its key and unknown elements. The old ASCII
// (OpenStep) format is not read.

#include <cstddef>
#include <string>
#include <string_view>

#include "values/CFValue.h"

namespace tessaly {

/// Reads and writes property lists.
namespace PropertyList {

/// Larger input is refused: libplist parses recursively, and a few hundred kilobytes of
/// nested arrays are enough to exhaust its stack. Real property lists are far smaller.
inline constexpr std::size_t maximumSize = 256 * 1024;
/// The most levels of nested arrays and dictionaries read, the outermost one counted.
inline constexpr std::size_t maximumDepth = 512;

/// Parses XML or binary property-list bytes, telling the format from the bytes themselves.
/// Malformed or too large input, a date, data or UID value, or too deep a nesting throws
/// DecodingError.
CFValue parse(std::string_view bytes);

/// The value as an XML property list. Whole numbers that fit 64 bits are written as
/// integers, other numbers as reals. Elements, tap descriptions and texts holding a NUL have
/// no property-list form: passing one is a programming error and throws std::invalid_argument.
std::string writeXml(const CFValue& value);

/// The value as a binary property list ("bplist00"), with the same mapping as `writeXml`.
std::string writeBinary(const CFValue& value);

}  // namespace PropertyList

}  // namespace tessaly
