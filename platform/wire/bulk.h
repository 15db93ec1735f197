// The listing with descriptions: a request between libvornal2 and vornd
// only, never seen by the library's callers (docs/protocol.md). A loading
// client asks for a listing and then for the description of every listed
// node in listing order; this answers the lot in one exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "wire/frame.h"

namespace wire {

// The request type: arguments as for a listing (type 17).
inline constexpr uint16_t kListDescribed = 60;
// Status of a descriptions frame after which more follow, and of the last.
inline constexpr std::string_view kBulkMore = "MORE";
inline constexpr std::string_view kBulkEnd = "END";
// A descriptions frame is closed once it holds this many bytes, so that
// neither side holds much of the answer at once, and a reader's buffer
// stays within what FrameReader keeps between frames instead of being
// given back and grown again by the next reply.
inline constexpr size_t kBulkChunk = 16 * 1024;

// Returns the path text a loading client sends for the node of one listing
// line of the listing of base: base ("" for "/"), then per component of the
// line "/" and the component decoded, a "/" in it written "\/". Both sides
// derive the description requests they expect from it.
std::string listed_path(std::string_view base, std::string_view line);

// Returns true when line holds no escape ("\\") and no encoded byte ("%",
// "+"): its components are the names as they stand.
bool is_plain_line(std::string_view line);

// Returns listed_path(base, line) for a plain line, by copying spans. Kept
// apart so that the library, which only compares, does not carry it.
std::string plain_listed_path(std::string_view base, std::string_view line);

// Returns true when path is listed_path(base, line); a plain line is
// compared in place, not built.
bool is_listed_path(std::string_view base, std::string_view line,
                    std::string_view path);

// Appends one description (reply and status texts) to a frame's text.
void append_entry(std::string &chunk, const Text &reply, const Text &status);

// Reads the description at pos of a frame's text into reply and status and
// moves pos past it. Returns false at the end or on malformed bytes (then
// pos != chunk.size()).
bool next_entry(std::string_view chunk, size_t &pos, Text &reply, Text &status);

}  // namespace wire
