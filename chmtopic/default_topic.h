#pragma once
// Where a CHM file names its default topic, and how tessaly finds it: first in the
// first window definition ("/#WINDOWS" with its names in "/#STRINGS"), then in the
// compiler's option records ("/#SYSTEM").
//
// A value is used only when it lies complete within the bytes the container yields:
// a name must end in its NUL inside the bytes read, and a "/#SYSTEM" record must
// hold its header and its whole data inside them. An incomplete window entry makes
// the lookup go on to "/#SYSTEM"; an incomplete record ends the walk of "/#SYSTEM".
// No byte beyond those read is ever looked at.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "chmtopic/chm_object_reader.h"

namespace tessaly {

/// The address prefix a browser or help viewer opens a topic inside a CHM with.
inline constexpr std::string_view AddressPrefix = "mk:@msitstore:";
/// Separates the CHM path from the topic inside it.
inline constexpr std::string_view AddressTopicSeparator = "::/";

/// "/#WINDOWS" starts with an 8-byte header (entry count, entry size); the first
/// window definition follows, and its field at offset 104 is the "/#STRINGS" offset
/// of the window's default file: byte 112 of the object.
inline constexpr std::uint64_t WindowDefaultFileField = 112;
/// A window's default-file name is read with 255 bytes: up to 254 bytes and its NUL.
inline constexpr std::size_t WindowNameReadSize = 255;
/// The "/#SYSTEM" record code of the project's default topic.
inline constexpr std::uint16_t SystemDefaultTopicCode = 2;
/// "/#SYSTEM" begins with a 4-byte version ahead of its records.
inline constexpr std::uint64_t SystemRecordsStart = 4;
/// The most of "/#SYSTEM" that is examined. A compiler writes some twenty records of
/// at most 64 KiB each (their length field has 16 bits); a directory entry claiming
/// more is damaged or hostile and must not make the lookup allocate or decode
/// without end.
inline constexpr std::size_t SystemReadLimit = 4u << 20;

/// The default file of the CHM's first window definition. Nothing when the file has
/// no window data to go by: no "/#WINDOWS", fewer than four bytes at its default-file
/// field, no "/#STRINGS", an offset at or past the end of "/#STRINGS", or a name
/// without its NUL within the 255 bytes read. An empty name is a found answer.
std::optional<std::string> FindWindowDefaultFile(TChmObjectReader& chm);

/// The value of the first code-2 record of "/#SYSTEM" that is not empty. Nothing
/// when there is no "/#SYSTEM" or no such record lies complete within its bytes.
std::optional<std::string> FindSystemDefaultTopic(TChmObjectReader& chm);

/// The "/#SYSTEM" record code of the project's language: its data begins with the
/// Windows language identifier (LCID), little-endian.
inline constexpr std::uint16_t SystemLanguageCode = 4;

/// The language the help project was compiled for: the LCID of the first code-4
/// record of "/#SYSTEM". Nothing when there is none within its bytes.
std::optional<std::uint32_t> FindSystemLanguage(TChmObjectReader& chm);

/// The Windows ANSI code page of a language (LCID), the one the help compiler
/// wrote the project's file names in: 1251 for Russian, 932 for Japanese, 1252
/// for the languages of Western Europe ... 0 for a language without one (Hindi,
/// Georgian ...) and for the neutral language.
std::uint32_t AnsiCodePageOfLanguage(std::uint32_t lcid);

/// The default topic: the window's default file when the window lookup finds one
/// (even an empty one), otherwise the "/#SYSTEM" topic, otherwise empty.
std::string LookUpDefaultTopic(TChmObjectReader& chm);

/// "mk:@msitstore:" + CHM path exactly as given + "::/" + topic.
std::string TopicAddress(const std::string& chmPath, const std::string& topic);

}  // namespace tessaly
