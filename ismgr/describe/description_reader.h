// The lexical layer of descriptions.
//
// A description string is a NUL-terminated sequence of items: a keyword, one
// blank, its value and ";" (or a section keyword and ";", or a keyword, a
// blank and ";" when its value is missing). It comes either from the caller
// or from an XDL file read by read_description_file. The scanners walk it
// with a cursor and never read past its terminating NUL.
//
// The strings are kept in std::string here; the layer's context may keep one
// in its first work buffer and hand its c_str() to the scanners.
#ifndef ISMGR_DESCRIBE_DESCRIPTION_READER_H_
#define ISMGR_DESCRIBE_DESCRIPTION_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ismgr {

// Limits of the items.
inline constexpr size_t kMaxXdlWord = 79;         // keyword word read from an XDL file
inline constexpr size_t kMaxXdlValue = 532;       // value read from an XDL file, quotes included
inline constexpr size_t kMaxStringValue = 529;    // value taken by next_value, quotes excluded
inline constexpr size_t kMaxStringKeyword = 533;  // keyword characters kept by next_keyword
inline constexpr size_t kMaxListItem = 530;       // one item of a value list
inline constexpr size_t kListNumberChars = 80;    // characters a list number is read from

// Reads the XDL file at `path` and returns its description string. The file
// is read as a text file: a carriage return before a line feed is dropped and
// a Ctrl-Z ends the text. Errors raise a status: 57 when the file cannot be
// opened, 81 for a comment before a value or an overlong value (after the
// details 1052 and 1053). On either error `current_name` (may be null)
// receives the path.
std::string read_description_file(const char* path, std::string* current_name);

// The same over text already in memory (the file's contents).
std::string description_from_xdl(std::string_view text, const char* path,
                                 std::string* current_name);

// Reads the keyword at the cursor into *word (upper case, at most
// kMaxStringKeyword characters kept, SEGn_POSITION / SEGn_LENGTH rewritten to
// SEGPOS / SEGLEN) and returns its index in the main keyword table, or
// kKeywordNotFound / kKeywordAmbiguous. The cursor moves past the keyword,
// a ";" that ended it and the white space after it.
int next_keyword(const char*& cursor, std::string* word);

// Reads the value at the cursor into *value (quotes removed) and returns its
// length; 0 means no value (none given, an empty quoted value, or a value of
// kMaxStringValue + 1 characters or more, which also reports the detail
// "String exceeds maximum length").
size_t next_value(const char*& cursor, std::string* value);

// List item modes.
inline constexpr int kListText = 1;
inline constexpr int kListNumber = 2;

// Reads one item of a colon-separated value list of `remaining` bytes at
// `cursor`. Mode kListText puts the item's text into *item (may be null) and
// returns its length (0 when nothing is left or the item is empty, -1 for an
// item over kMaxListItem characters). Mode kListNumber returns the item's
// number (a quoted character literal gives its first character's code; a
// quote followed by a backslash holds numeric text), or -1 for nothing left,
// an empty item or an overlong one. *more is 1 when another item follows.
int64_t next_list_item(const char*& cursor, int64_t& remaining, int* more, int mode,
                       std::string* item);

// The number of KEY sections in a description string.
int count_key_sections(const char* description);

// The C library's decimal conversion used for description numbers: leading
// white space, a sign and digits; anything after them is ignored; text that is
// no number gives 0. Saturates at the 64-bit limits.
int64_t description_number(std::string_view text);

// A number with base prefixes: "0x" hexadecimal, a leading "0" octal, else
// decimal. *end receives the count of characters used (may be null).
int64_t description_number_with_base(std::string_view text, size_t* end);

}  // namespace ismgr

#endif  // ISMGR_DESCRIBE_DESCRIPTION_READER_H_
