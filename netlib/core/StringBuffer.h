#pragma once
// The library's growable 8-bit text: NUL-terminated bytes whose encoding is
// the caller's business. Blocks are malloc/free blocks.
#include <cstdint>

#include "netlib/core/TessikObject.h"
#include "platform/WinTypes.h"

namespace tessik {

class DataBuffer;
class ExtPtrArray;

class StringBuffer : public TessikObject {
public:
    StringBuffer();
    explicit StringBuffer(const char* text);
    StringBuffer(const StringBuffer& other);
    StringBuffer(const char* bytes, unsigned int length, unsigned int growBy);
    explicit StringBuffer(unsigned int initialSize);
    ~StringBuffer() override;

    StringBuffer& operator=(const StringBuffer& other);

    // Growth
    void append(const char* text);
    void appendBytes(const void* bytes, int count);
    void appendChar(char c);
    void appendCharRepeated(char c, int count);
    void appendSb(const StringBuffer& other);
    void appendDb(const DataBuffer& db);
    void appendInt(int value);
    void appendUint32(unsigned int value);
    void appendInt64(std::int64_t value);
    // An append since the buffer was made or last cleared could not take
    // all its bytes (the block could not grow): the text is incomplete.
    bool appendFailed() const { return m_appendFailed; }
    // For a text built from parts: a part that came out incomplete makes it
    // incomplete too (appendSb carries this over by itself).
    void markAppendFailed() { m_appendFailed = true; }
    void prepend(const char* text);
    void prependZeroIfOddLength();
    bool reserveExtra(int n);
    void shrinkToFit();
    char* takeData(int* lengthOut);
    void takeFromDb(DataBuffer& db);

    // Setting and clearing
    void clear();
    void secureClear();
    void setString(const char* text);
    void setSb(const StringBuffer& other);
    void setStringKind(int kind);
    int getStringKind() const { return m_kind; }

    // Trimming, cutting and character edits
    void trimSpacesAndTabs();
    void trimWhitespace();
    void collapseWhitespace();
    void chopAtSubstring(const char* sub, bool keepSubstring);
    void chopAtFirstChar(char c);
    void chopAtLastChar(char c);
    void shorten(int n);
    void removeChunk(int index, int n);
    void removeChar(char c);
    void removeCharFrom(char c, int startIndex);
    void keepXmlNameChars();
    void replaceChar(char from, char to);
    void replaceAnyOfFiveChars(const char* fiveChars, char replacement);
    void replaceCharUtf8(std::uint16_t from, std::uint16_t to);
    bool replaceFirst(const char* find, const char* replacement);
    int replaceAll(const char* find, const char* replacement);
    void toCRLF();
    void toLF();
    void encodeXmlEntities();
    void toLowerCase();
    void toUpperCase();
    // A-Z only: safe on UTF-8 text such as host names.
    void toLowerCaseAscii();

    // Queries
    const char* getString() const { return m_data; }
    int getSize() const { return m_length; }
    int getCapacity() const { return m_capacity; }
    int getGrowBy() const { return m_growBy; }
    char* getPtrAt(int index) { return m_data + index; }
    const char* getPtrAt(int index) const { return m_data + index; }
    char charAt(int index) const;
    char lastChar() const;
    bool isValid() const { return m_magic == kAliveMarker; }
    bool containsChar(char c) const;
    int countChar(char c) const;
    bool containsSubstring(const char* sub) const;
    bool containsSubstringNoCase(const char* sub) const;
    bool beginsWith(const char* prefix) const;
    bool beginsWithNoCase(const char* prefix) const;
    bool endsWith(const char* suffix) const;
    bool equals(const char* text) const;
    bool equalsNoCase(const char* text) const;
    bool equalsSb(const StringBuffer& other) const;
    bool equalsNoCaseSb(const StringBuffer& other) const;
    int compare(const char* text) const;
    bool is7bit(int n) const;
    int intValue() const;
    bool getParamValue(const char* name, StringBuffer& valueOut) const;
    bool parseNameValue(StringBuffer& nameOut, StringBuffer& valueOut) const;

    // Splitting: new StringBuffer pieces appended to the array, owned by the caller.
    bool split(ExtPtrArray& out, char separator, bool quotes, bool escapes) const;
    bool splitOnSubstring(const StringBuffer& separator, ExtPtrArray& out, int maxPieces) const;

    // Hex and encodings
    void appendHex(const void* bytes, int count);
    void appendHexDump(const void* bytes, int count);
    void appendHexGrouped(const void* bytes, int count);
    void decodeHex(DataBuffer& out) const;
    bool utf8ToAnsi();
    bool convertToAnsi(int fromCodePage);
    bool convertFromAnsi(int toCodePage);
    bool convertEncoding(int fromCodePage, int toCodePage);
    void appendWindowsErrorText(DWORD code);
    void appendLastError();
    void scrambleBytes();

    // Set while the buffer lives; the destructor clears it.
    static constexpr std::uint8_t kAliveMarker = 0xAA;
    // The block and growth step of a buffer made empty, and the growth step
    // of one made from text.
    static constexpr int kDefaultCapacity = 202;
    static constexpr int kDefaultGrowBy = 200;

private:
    void check(const char* op) const;
    bool growTo(std::int64_t newCapacity, bool adjustGrowBy);
    std::int64_t grownCapacity(std::int64_t stepped, std::int64_t n) const;
    bool moveToBlock(std::int64_t newCapacity);
    bool ensureRoomFor(std::int64_t n);
    bool ensureRoomForOneByte();
    void appendImpl(const void* bytes, int count, int slack);
    void setLength(int n);
    void releaseBlock();
    void initFromBytes(const char* bytes, std::int64_t n, int growBy);

    std::uint8_t m_magic;
    std::uint8_t m_kind;
    char* m_data;
    int m_capacity;
    int m_length;
    int m_growBy;
    bool m_appendFailed = false;
};

// Decodes hexadecimal text (see StringBuffer::decodeHex); characters are not validated.
void decodeHexBytes(const char* text, unsigned int count, DataBuffer& out);

} // namespace tessik
